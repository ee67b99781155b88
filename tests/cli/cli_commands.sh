# The commands one by one: ls, stat, touch, chmod, ln, cp and cmp on plain,
# special and unreadable files. Sourced by cli_test.sh, in order.
mkdir dir
printf 'hello' > dir/plain.txt
printf 'secret' > dir/.hidden
mkdir dir/sub
ln -s plain.txt dir/link

exactly "ls lists the visible names, sorted" "$(printf 'link\nplain.txt\nsub')" "$basefs" ls dir
exactly "ls -a shows dot files, . and .." "$(printf '.\n..\n.hidden\nlink\nplain.txt\nsub')" "$basefs" ls -a dir
exactly "ls -A shows dot files without . and .." "$(printf '.hidden\nlink\nplain.txt\nsub')" "$basefs" ls -A dir
expect "ls -l mode, owner and size" 0 '^-rw-r--r-- root +root +5 [0-9-]+ [0-9:]+ plain\.txt$' "$basefs" ls -l dir
expect "ls -l directory" 0 '^drwxr-xr-x .* sub$' "$basefs" ls -l dir
expect "ls -l link target" 0 '^lrwxrwxrwx .* link -> plain\.txt$' "$basefs" ls -l dir
expect "ls -ln numeric IDs" 0 '^-rw-r--r-- 0 +0 +5 ' "$basefs" ls -ln dir
expect "options after the operands" 0 '^-rw-r--r-- .* plain\.txt$' "$basefs" ls dir -l
fails_with "ls of a missing directory" 2 "basefs: cannot access 'missing': No such file or directory" "$basefs" ls missing
expect "ls of a file lists the file" 0 '^dir/plain\.txt$' "$basefs" ls dir/plain.txt
exactly "ls lists files first, then each directory under its name" "$(printf 'dir/plain.txt\n\ndir/sub:')" \
    "$basefs" ls dir/sub dir/plain.txt
fails_with "ls goes on after a missing operand" 2 \
    "$(printf "basefs: cannot access 'missing': No such file or directory\ndir/plain.txt")" "$basefs" ls missing dir/plain.txt
fails_with "ls with an unknown option" 2 "$(usage_error "invalid option -- 'z'")" "$basefs" ls -z
fails_with "ls with an unknown long option" 2 "$(usage_error "unrecognized option '--frob'")" "$basefs" ls --frob

# Special files: the record says "plain file", the tool finds the real type.
mkdir special
mkfifo special/fifo
: > special/empty
head -c 1234567 /dev/zero > special/sized
ln -s fifo special/to-fifo
mknod special/block b 7 0 2>/dev/null && mknod special/char c 1 3 2>/dev/null || echo "SKIPPED: no device nodes can be made here"
if command -v python3 > /dev/null; then
    python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' special/socket
else
    echo "SKIPPED: no python3 to make a socket"
fi
expect "ls -l shows a FIFO as p" 0 '^prw-r--r-- root +root +0 [0-9-]+ [0-9:]+ fifo$' "$basefs" ls -l special
expect "ls -l shows an empty file as a file" 0 '^-rw-r--r-- root +root +0 [0-9-]+ [0-9:]+ empty$' "$basefs" ls -l special
expect "ls -l shows a device's numbers" 0 '^crw-rw-rw- root root 1, 3 [0-9-]+ [0-9:]+ /dev/null$' "$basefs" ls -l /dev/null
expect "stat of a character device" 0 '^  Type: character special file   Size: 0   Device type: 1,3$' "$basefs" stat /dev/null
expect "stat of a FIFO" 0 '^  Type: fifo   Size: 0$' "$basefs" stat special/fifo
expect "stat of an empty file" 0 '^  Type: regular empty file   Size: 0$' "$basefs" stat special/empty
expect "stat of a file" 0 '^  Type: regular file   Size: 1234567$' "$basefs" stat special/sized
expect "stat of a link to a FIFO" 0 '^  Type: symbolic link   Size: 4$' "$basefs" stat special/to-fifo
if [ -S special/socket ]; then
    expect "ls -l shows a socket as s" 0 '^srwxr-xr-x .* socket$' "$basefs" ls -l special
    expect "stat of a socket" 0 '^  Type: socket   Size: 0$' "$basefs" stat special/socket
fi
if [ -b special/block ]; then
    expect "stat of a block device" 0 '^  Type: block special file   Size: 0   Device type: 7,0$' "$basefs" stat special/block
fi
# GNU ls -l, less its link counts and total, is what basefs ls -l prints:
# types, device numbers and the widths of the size column.
if ls --time-style=long-iso / > /dev/null 2>&1; then
    exactly "ls -l lays out special files as GNU ls -l does" \
        "$(LC_ALL=C.UTF-8 ls -l --time-style=long-iso special | sed -e 1d -E -e 's/^([^ ]+) +[0-9]+ /\1 /')" \
        "$basefs" ls -l special
else
    echo "SKIPPED: no GNU ls to compare the layout with"
fi

fails_with "stat without an operand" 1 "$(usage_error "missing operand")" "$basefs" stat
fails_with "stat of a missing file" 1 "basefs: cannot statx 'missing': No such file or directory" "$basefs" stat missing

expect "touch creates and sets a date" 0 '' "$basefs" touch -d '2001-02-03 04:05:06' dir/new
expect "stat shows the time set" 0 'Modify: 2001-02-03 04:05:06' "$basefs" stat dir/new
expect "touch -a keeps the modification time" 0 '' "$basefs" touch -a -d @0 dir/new
expect "stat after touch -a" 0 'Modify: 2001-02-03 04:05:06' "$basefs" stat dir/new
fails_with "touch with a bad date" 1 "basefs: invalid date format 'yesterday'" "$basefs" touch -d yesterday dir/new
fails_with "touch without an operand" 1 "$(usage_error "missing file operand")" "$basefs" touch
fails_with "touch in a missing directory" 1 "basefs: cannot touch 'none/x': No such file or directory" "$basefs" touch none/x

# touch through links: each row runs on a fresh file, a link to it and a link
# to that link, once with GNU touch and once with basefs, all times at @500
# before; the times after must be the same (a link's access time is left
# out: following the link reads it, which may set that time to now).
times_after() {
    rm -rf links-of && mkdir links-of && echo x > links-of/file
    ln -s file links-of/link && ln -s link links-of/second
    touch -h -d @500 links-of/file links-of/link links-of/second
    (cd links-of && "$@" > /dev/null 2>&1)
    stat -c '%n %X %Y' links-of/file
    stat -c '%n %Y' links-of/link links-of/second
}
for row in "-d @1000 link" "-h -d @2000 link" "-a -d @3000 second" "-m -d @4000 second" "-h -m -d @5000 second" \
    "-d @6000 file"; do
    exactly "touch $row changes what GNU touch changes" "$(times_after touch $row)" times_after "$basefs" touch $row
done
exactly "touch LINK changes the target's time, not the link's" \
    "$(printf 'links-of/file 1000 1000\nlinks-of/link 500\nlinks-of/second 500')" \
    times_after "$basefs" touch -d @1000 second
ln -s nowhere/made touch-dangling
fails_with "touch of a dangling link refuses" 1 "basefs: not writing through dangling symlink 'touch-dangling'" \
    "$basefs" touch touch-dangling
fails_with "touch of a dangling link created nothing" 1 "" test -e nowhere
like_gnu "touch -h of a dangling link as GNU touch" touch -h -d @7000 touch-dangling
expect "touch -h of a dangling link" 0 '' "$basefs" touch -h -d @8000 touch-dangling
exactly "touch -h set the dangling link's own time" "8000" stat -c %Y touch-dangling
like_gnu "touch -h of a missing file" touch -h touch-missing
fails_with "touch -h created nothing" 1 "" test -e touch-missing
ln -s touch-loop touch-loop2 && ln -s touch-loop2 touch-loop
like_gnu "touch of a loop of links" touch touch-loop

expect "chmod sets set-uid and sticky" 0 '' "$basefs" chmod 5755 dir/new
expect "stat shows the mode" 0 'Mode: \(5755/-rwsr-xr-t\)' "$basefs" stat dir/new
fails_with "chmod with a bad mode" 1 "$(usage_error "invalid mode: '9'")" "$basefs" chmod 9 dir/new
fails_with "chmod without a file" 1 "$(usage_error "missing operand after '644'")" "$basefs" chmod 644
fails_with "chmod of a missing file" 1 "basefs: cannot access 'nope': No such file or directory" "$basefs" chmod 644 nope

expect "ln -s creates a link" 0 '' "$basefs" ln -s some/target dir/made
expect "readlink reads it" 0 '^some/target$' "$basefs" readlink dir/made
fails_with "ln -s onto an existing path" 1 "basefs: failed to create symbolic link 'dir/made': File exists" \
    "$basefs" ln -s x dir/made
mkdir links
expect "ln -s into a directory" 0 '' "$basefs" ln -s some/target links
exactly "the link in the directory is named after its target" "some/target" "$basefs" readlink links/target
fails_with "ln -s without an operand" 1 "$(usage_error "missing file operand")" "$basefs" ln -s
fails_with "readlink of a plain file says nothing" 1 "" "$basefs" readlink dir/plain.txt
fails_with "readlink -v says why" 1 "basefs: dir/plain.txt: Invalid argument" "$basefs" readlink -v dir/plain.txt

expect "user 0" 0 '^0 root$' "$basefs" user 0
expect "group 0" 0 '^0 root$' "$basefs" group 0
fails_with "user without an entry" 1 "basefs: '3999999999': no such user" "$basefs" user 3999999999

head -c 3000000 /dev/urandom > big
expect "cp copies" 0 '' "$basefs" cp big copy
expect "cmp of identical files" 0 '' "$basefs" cmp big copy
expect "cp into a directory" 0 '' "$basefs" cp big dir
expect "cmp of the copy in the directory" 0 '' "$basefs" cmp big dir/big
printf 'x' >> copy
fails_with "cp -n skips an existing target" 0 "" "$basefs" cp -n big copy
fails_with "cp -n left the target as it was" 1 "" "$basefs" cmp -s big copy
fails_with "cp of a directory says so" 1 "basefs: -r not specified; omitting directory 'dir'" "$basefs" cp dir elsewhere
fails_with "cp of a directory makes nothing" 1 "" test -e elsewhere
fails_with "cp of a missing file" 1 "basefs: cannot stat 'missing': No such file or directory" "$basefs" cp missing x
fails_with "cp into a missing directory" 1 "basefs: cannot create regular file 'none/x': No such file or directory" \
    "$basefs" cp big none/x
fails_with "cp of a file onto itself" 1 "basefs: 'big' and 'big' are the same file" "$basefs" cp big big
fails_with "cp onto a full device" 1 "basefs: error writing '/dev/full': No space left on device" "$basefs" cp big /dev/full
fails_with "cp without a destination" 1 "$(usage_error "missing destination file operand after 'big'")" "$basefs" cp big
fails_with "cp of several files into a file" 1 "basefs: target 'copy': Not a directory" "$basefs" cp big dir/plain.txt copy
mkdir into
expect "cp of several files into a directory" 0 '' "$basefs" cp big dir/plain.txt into
exactly "both are there" "$(printf 'big\nplain.txt')" "$basefs" ls into
# A source file is copied through its directory's descriptor: a link named as
# the source, or as a destination that exists, is followed first, as GNU cp does.
printf 'through' > via-source && ln -s via-source via-link && printf 'old' > via-target && ln -s via-target via-target-link
expect "cp through a link to a file, onto a link to a file" 0 '^$' "$basefs" cp via-link via-target-link
exactly "cp wrote through the destination link, which stays a link" "through link" \
    sh -c 'echo "$(cat via-target) $(stat -c %F via-target-link | cut -d" " -f2)"'
expect "cp -r of a file operand" 0 '^$' "$basefs" cp -r big big-by-r
expect "cp -r copied the whole file" 0 '' cmp big big-by-r

# A destination that is a link to nothing is refused, as GNU cp refuses it:
# whoever planted the link would choose where the copy is created.
mkdir planted
ln -s "$work/planted/made" planted/dangling
ln -s dangling planted/chained
mkdir planted/dir
ln -s "$work/planted/made" planted/dir/big
for row in "onto a dangling link|dir/plain.txt planted/dangling" \
    "onto a chain of links ending in nothing|dir/plain.txt planted/chained" \
    "into a directory holding a dangling link|big planted/dir" \
    "-n onto a dangling link|-n dir/plain.txt planted/dangling" \
    "of two files into a dangling link|dir/plain.txt big planted/dangling"; do
    like_gnu "cp ${row%%|*} as GNU cp" cp ${row#*|}
done
fails_with "cp onto a dangling link created nothing" 1 "" test -e planted/made
fails_with "cp onto a dangling link left the link" 0 "" test -L planted/dangling
fails_with "cp onto a dangling link wording" 1 "basefs: not writing through dangling symlink 'planted/dangling'" \
    "$basefs" cp dir/plain.txt planted/dangling

# The copy reports what each step spanned, a hole's step maybe far more than
# 1 MiB: the bar adds it up to the file's size, no further.
truncate -s 64M sparse
dd if=big of=sparse bs=1M count=1 conv=notrunc 2> /dev/null
if command -v script > /dev/null; then
    expect "cp's progress over a hole ends at the file's size" 0 '100% 64\.0 MiB [^%]*left[^%]*$' \
        on_terminal "$basefs" cp sparse sparse-copy
    fails_with "the sparse copy is whole" 0 "" cmp sparse sparse-copy
else
    echo "SKIPPED: no script(1) here for a terminal"
fi

printf 'a\nb\nc\nd' > four
printf 'a\nb\nc\nX' > other
printf 'a\nb\n' > prefix
printf 'a\nb' > partial
: > empty
fails_with "cmp names the first differing byte and line" 1 "four other differ: byte 7, line 4" "$basefs" cmp four other
fails_with "cmp: EOF on a file that ends with a newline" 1 "basefs: EOF on prefix after byte 4, line 2" \
    "$basefs" cmp four prefix
fails_with "cmp: EOF inside a line" 1 "basefs: EOF on partial after byte 3, in line 2" "$basefs" cmp partial four
fails_with "cmp: EOF on an empty file" 1 "basefs: EOF on empty which is empty" "$basefs" cmp four empty
fails_with "cmp -s says nothing" 1 "" "$basefs" cmp -s four other
fails_with "cmp of a directory" 2 "basefs: dir: Is a directory" "$basefs" cmp dir four
fails_with "cmp of a directory second" 2 "basefs: dir: Is a directory" "$basefs" cmp four dir
fails_with "cmp of a missing file" 2 "basefs: missing: No such file or directory" "$basefs" cmp big missing
fails_with "cmp names a missing file before a directory" 2 "basefs: missing: No such file or directory" \
    "$basefs" cmp dir missing
fails_with "cmp with one operand" 2 "$(diffutils_usage_error "missing operand after 'four'")" "$basefs" cmp four
fails_with "cmp with three operands" 2 "$(diffutils_usage_error "extra operand 'prefix'")" "$basefs" cmp four other prefix
# Past the library's first 64 KiB block, the position is GNU cmp's.
head -c 200000 big > cut
cp big flipped
printf 'Q' | dd of=flipped bs=1 seek=150000 conv=notrunc 2>/dev/null
if command -v cmp > /dev/null; then
    for pair in "big copy" "big cut" "big flipped"; do
        set -- $pair
        gnu=$(cmp "$1" "$2" 2>&1 | sed 's/^cmp: /basefs: /')
        [ -n "$gnu" ] || gnu="the files are the same"
        fails_with "cmp $1 $2 as GNU cmp" 1 "$gnu" "$basefs" cmp "$1" "$2"
    done
else
    echo "SKIPPED: no GNU cmp to compare with"
fi
# A pipe can be read once only: the first difference is found in that one pass.
if command -v cmp > /dev/null && command -v bash > /dev/null; then
    for line in "cmp four <(printf 'a\nbX')" "cmp four <(printf 'a\nb\n')" "cmp four <(printf 'a\nb')" \
        "cmp four <(printf '')" "cmp four <(printf 'a\nb\nc\nd')" "cmp four <(printf 'a\nb\nc\nd\ne')" \
        "cmp <(printf 'a\nb\nQ') four" "cmp <(printf 'a\nb') <(printf 'a\nc')" "cmp -s four <(printf 'a\nbX')" \
        "cmp -s four <(printf 'a\nb\nc\nd')" "cmp big <(head -c 150000 flipped)" "cmp big <(cat big)" \
        "cmp missing <(printf 'a')" "cmp four /dev/null"; do
        like_gnu_in_bash "$line as GNU cmp" "$line"
    done
else
    echo "SKIPPED: no GNU cmp or bash for the comparisons with a pipe"
fi
mkfifo compare-fifo
(timeout 60 sh -c "printf 'a\nb\nX' > compare-fifo" &)
# A second open of the FIFO would wait for a writer forever: the time limit ends it.
fails_with "cmp of a FIFO names the byte and line" 1 "four compare-fifo differ: byte 5, line 3" \
    timeout 60 "$launcher" cmp four compare-fifo

# Errors only an unprivileged user meets: the tool runs as nobody.
nobody="setpriv --reuid=65534 --regid=65534 --clear-groups"
chmod 755 "$work"
unprivileged=
if [ "$(id -u)" -eq 0 ] && command -v setpriv > /dev/null && $nobody "$basefs" stat /etc/hostname > /dev/null 2>&1; then
    unprivileged=yes
    mkdir locked readonly
    chmod 000 locked
    chmod 555 readonly
    printf 's' > unreadable
    chmod 600 unreadable
    fails_with "ls of a directory that cannot be read" 2 "basefs: cannot open directory 'locked': Permission denied" \
        $nobody "$basefs" ls locked
    fails_with "ls of a path that cannot be searched" 2 "basefs: cannot access 'locked/x': Permission denied" \
        $nobody "$basefs" ls locked/x
    fails_with "cp of a file that cannot be read" 1 "basefs: cannot open 'unreadable' for reading: Permission denied" \
        $nobody "$basefs" cp unreadable readonly/x
    fails_with "cp into a directory that cannot be written" 1 \
        "basefs: cannot create regular file 'readonly/x': Permission denied" $nobody "$basefs" cp four readonly/x
    fails_with "cmp of a file that cannot be read" 2 "basefs: unreadable: Permission denied" \
        $nobody "$basefs" cmp four unreadable
    fails_with "chmod of another user's file" 1 "basefs: changing permissions of 'four': Operation not permitted" \
        $nobody "$basefs" chmod 600 four
    fails_with "ln -s in a directory that cannot be written" 1 \
        "basefs: failed to create symbolic link 'readonly/l': Permission denied" $nobody "$basefs" ln -s x readonly/l
    # Root copying into a directory another user owns, where that user has
    # planted a link to a file of root's choosing that does not exist yet.
    mkdir others
    chown 65534:65534 others
    $nobody ln -s "$work/root-owned" others/report
    like_gnu "cp as root onto another user's dangling link as GNU cp" cp four others/report
    mkdir mine && cp four mine/report
    like_gnu "cp as root into another user's directory holding a dangling link as GNU cp" cp mine/report others
    fails_with "cp as root created nothing where the link points" 1 "" test -e root-owned
else
    echo "SKIPPED: cannot run as nobody here (needs root and setpriv)"
fi
