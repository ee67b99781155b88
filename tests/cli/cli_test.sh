#!/bin/sh
# The basefs command-line tool used as a person would: real files in a fresh
# directory, output and exit status checked; also through a plain `java` with
# nothing but the tool's jar (its Class-Path names basefs.jar, the natives
# jar, basefs-host.jar and basefs-eclipse-standin.jar), which must find its
# library by itself.
# Usage: cli_test.sh LAUNCHER JAVA TOOL_JAR LIBRARY TEST_JAR
set -u
launcher=$(readlink -f "$1")
java=$2
jar=$(readlink -f "$3")
library=$(readlink -f "$4")
test_jar=$(readlink -f "$5")
cli=$(dirname "$(readlink -f "$0")")
umask 022
work=$(mktemp -d "${TMPDIR:-/tmp}/basefs-cli-XXXXXX")
jvm=$(mktemp -d "${TMPDIR:-/tmp}/basefs-cli-jvm-XXXXXX")
# holder: a process of this test that holds a lock, while it runs.
holder=
# server: the process that runs the checks' JVM (below), while it runs.
server=
trap '[ -z "$holder" ] || kill "$holder" 2>/dev/null; stop_jvm; umount "$work/noexec" 2>/dev/null; rm -rf "$work" "$jvm"' EXIT
. "$cli/checks.sh"
cd "$work" || exit 2

# The checks' commands run one after another in one JVM, started as the
# launcher starts it and with -Xcheck:jni, wherever they would see what a JVM
# of their own sees (in_jvm.sh says where); the launchers, other users,
# terminals, signals and traces get a JVM of their own, through $launcher.
# The process that runs the JVM keeps both FIFOs open for reading and
# writing, so that no open waits for the other side and no request written
# before the JVM reads is lost.
mkfifo "$jvm/requests" "$jvm/replies"
umask > "$jvm/umask"
BASEFS_JVM=$jvm BASEFS_LAUNCHER=$launcher BASEFS_WORK=$work
export BASEFS_JVM BASEFS_LAUNCHER BASEFS_WORK
# What in_jvm.sh compares, as it does.
env | grep -v -e '^_=' -e '^SHLVL=' -e '^TZ=' | sort > "$jvm/env"
(
    exec 6<> "$jvm/requests" 7<> "$jvm/replies"
    . "$cli/../../tools/launcher-options.sh"
    # A request names the zone it runs in, or none for the system's.
    unset TZ
    "$java" "$native_access" $quick_start -Xcheck:jni -Dcom.quenvira.basefs.library="$library" \
        -cp "$jar:$test_jar" com.quenvira.tools.CommandServer "$jvm" < /dev/null > "$jvm/log" 2>&1 &
    echo $! > "$jvm/pid.new" && mv "$jvm/pid.new" "$jvm/pid"
    wait $!
    # Every request from now on, and one the JVM took, learns that no reply will come.
    until [ -e "$jvm/stopped" ]; do
        echo died >&7
        sleep 0.1
    done
) &
server=$!
until [ -e "$jvm/pid" ]; do sleep 0.01; done
# stop_jvm: ends the checks' JVM (a request of -1 arguments is its last).
stop_jvm() {
    [ -n "$server" ] || return 0
    touch "$jvm/stopped"
    printf '\0-1\0' > "$jvm/requests"
    waited=0
    while kill -0 "$(cat "$jvm/pid")" 2> /dev/null && [ "$waited" -lt 100 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    kill "$(cat "$jvm/pid")" "$server" 2> /dev/null
    wait "$server" 2> /dev/null
    server=
}
basefs=$cli/in_jvm.sh

# expect NAME STATUS PATTERN COMMAND...: COMMAND exits with STATUS and its
# output (stdout and stderr) matches the extended regular expression PATTERN.
expect() {
    name=$1 status=$2 pattern=$3
    shift 3
    output=$("$@" 2>&1)
    actual=$?
    if [ "$actual" -eq "$status" ] && printf '%s\n' "$output" | grep -Eq -- "$pattern"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAILED: %s (status %s, expected %s)\n%s\n' "$name" "$actual" "$status" "$output"
    fi
}

# exactly NAME EXPECTED COMMAND...: COMMAND succeeds and prints exactly EXPECTED.
exactly() {
    name=$1 expected=$2
    shift 2
    output=$("$@" 2>&1)
    actual=$?
    if [ "$actual" -eq 0 ] && [ "$output" = "$expected" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAILED: %s (status %s)\nexpected:\n%s\ngot:\n%s\n' "$name" "$actual" "$expected" "$output"
    fi
}

# quiet NAME COMMAND...: COMMAND succeeds and writes nothing to stderr (no JVM warning).
quiet() {
    name=$1
    shift
    errors=$("$@" 2>&1 >/dev/null)
    actual=$?
    if [ "$actual" -eq 0 ] && [ -z "$errors" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAILED: %s (status %s)\n%s\n' "$name" "$actual" "$errors"
    fi
}

# stat_with JAVA OPTION...: the tool from the jar alone, as a new user starts it.
stat_with() {
    with=$1
    shift
    env -u LD_LIBRARY_PATH "$with" "$@" -cp "$jar" com.quenvira.tools.BaseFs stat /etc/hostname
}

# A usage error is one line naming the problem and this one.
try_help="Try 'basefs --help' for more information."
usage_error() { printf 'basefs: %s\n%s' "$1" "$try_help"; }
# diffutils (cmp) names the program in that line too.
diffutils_usage_error() { printf 'basefs: %s\nbasefs: %s' "$1" "$try_help"; }

# like_gnu NAME PROGRAM ARGUMENT...: basefs PROGRAM exits with GNU PROGRAM's
# status and prints what it prints, with basefs for the program's name.
like_gnu() {
    name=$1
    shift
    gnu=$(LC_ALL=C.UTF-8 "$@" 2>&1)
    gnu_status=$?
    fails_with "$name" "$gnu_status" "$(printf '%s\n' "$gnu" | sed "s/^$1: /basefs: /")" "$basefs" "$@"
}

# like_gnu_in_bash NAME LINE: the same for a bash command line (for process
# substitution), run once as it is and once with basefs before it.
like_gnu_in_bash() {
    name=$1 line=$2
    gnu=$(LC_ALL=C.UTF-8 bash -c "$line" 2>&1)
    gnu_status=$?
    fails_with "$name" "$gnu_status" "$(printf '%s\n' "$gnu" | sed "s/^${line%% *}: /basefs: /")" \
        bash -c "\"\$0\" $line" "$basefs"
}

# on_terminal COMMAND...: COMMAND's output on a terminal of its own (script's
# pseudo-terminal), without the terminal's carriage returns; COMMAND's status.
on_terminal() {
    words=
    for word in "$@"; do
        words="$words '$(printf '%s' "$word" | sed "s/'/'\\\\''/g")'"
    done
    # script needs a standard input, or it prints nothing.
    LC_ALL=C.UTF-8 script -qec "$words" /dev/null < /dev/null > terminal.out
    terminal_status=$?
    tr -d '\r' < terminal.out
    return "$terminal_status"
}

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

# --- options: stat -L and -c, readlink -f, ln -sf, touch -c, cmp -l, -n and -
# Against GNU on the same files, with times of whole seconds: the library's
# times have no fraction, so GNU's ".000000000" is the one difference left.
TZ=UTC
export TZ
mkdir opts opts/dir opts/replace opts/replace/taken
printf 'hello' > opts/file
: > opts/empty
mkfifo opts/fifo
ln -s file opts/link
ln -s link opts/chain
ln -s dir opts/to-dir
ln -s nowhere opts/dangling
ln -s loop-b opts/loop-a && ln -s loop-a opts/loop-b
ln -s ../opts/dir/../file opts/dotted
touch -h -d @1000000000 opts/file opts/empty opts/fifo opts/dir opts/link opts/chain opts/to-dir
# like_gnu_stat NAME ARGUMENT...: basefs stat prints what GNU stat prints, less the fractions of a second.
like_gnu_stat() {
    name=$1
    shift
    gnu=$(LC_ALL=C.UTF-8 stat "$@" 2>&1)
    gnu_status=$?
    fails_with "$name" "$gnu_status" "$(printf '%s\n' "$gnu" | sed -e 's/\.000000000 / /g' -e 's/^stat: /basefs: /')" \
        "$basefs" stat "$@"
}
every='%n|%s|%F|%a|%A|%U|%G|%u|%g|%x|%y|%X|%Y|%%'
# A directory's size is the library's 0, not GNU's: left out for directories.
sizeless='%n|%F|%a|%A|%U|%G|%u|%g|%x|%y|%X|%Y'
like_gnu_stat "stat -c, every directive, of a file, an empty file, a FIFO and links" -c "$every" \
    opts/file opts/empty opts/fifo opts/link opts/chain opts/to-dir
like_gnu_stat "stat -c of a directory" -c "$sizeless" opts/dir
like_gnu_stat "stat -L -c follows links" -L -c "$every" opts/link opts/chain
like_gnu_stat "stat --dereference --format= of a link to a directory" --dereference --format="$sizeless" opts/to-dir
like_gnu_stat "stat --format FORMAT, %% and a % at the end" --format '%%%n%' opts/file
TZ=Asia/Kolkata like_gnu_stat "stat -c %x %y in a zone of its own" -c '%x|%y|%Y' opts/file
fails_with "stat -L of a dangling link, and on to the next" 1 \
    "$(printf '%s\n%s' "basefs: cannot statx 'opts/dangling': No such file or directory" opts/file)" \
    "$basefs" stat -L -c %n opts/dangling opts/file
fails_with "stat -c with an unsupported directive prints nothing else" 1 \
    "basefs: stat: unsupported directive '%i' in format" "$basefs" stat -c '%n %i' opts/file
fails_with "stat -c names a directive with a width whole" 1 \
    "basefs: stat: unsupported directive '%-5n' in format" "$basefs" stat -c '%-5n' opts/file
expect "stat -L shows the file a link leads to" 0 '^  Type: regular file   Size: 5$' "$basefs" stat -L opts/chain

# readlink -f: every component but the last must exist; failures print
# nothing and exit 1, and say why with -v.
like_gnu "readlink -f of chains of links, .. and a missing last component" readlink -f \
    opts/chain opts/dotted opts/to-dir/../dir/ opts/dir/missing "$work/opts//dir/./missing/" opts/dangling .
like_gnu "readlink -f of a missing middle component prints nothing" readlink -f opts/missing/x
like_gnu "readlink -fv says why each fails" readlink -fv opts/missing/x opts/file/x opts/file/ opts/loop-a opts/chain
like_gnu "readlink -fn of several operands" readlink -fn opts/chain opts/link

# ln -sf replaces files and links, never a directory; the new link is made
# under another name and renamed over the old, which is never removed first.
printf 'x' > opts/replace/file
ln -s old opts/replace/link
exactly "ln -sf replaces a file and a link" "$(printf 'one\ntwo')" \
    sh -c '"$1" ln -sf one opts/replace/file && "$1" ln -sf two opts/replace/link && readlink opts/replace/file opts/replace/link' \
    sh "$basefs"
like_gnu "ln -sf refuses to replace a directory" ln -sf taken opts/replace
exactly "ln -sf leaves nothing else in the directory" "file link taken" echo $(ls opts/replace)
if command -v strace > /dev/null; then
    exactly "strace: ln -sf renames over the destination and removes nothing" "rename unlink-free" \
        sh -c 'strace -f -qq -o ln.trace -e trace=unlink,unlinkat,rename,renameat,renameat2 "$1" ln -sf three opts/replace/file;
            grep -q "rename.*\"opts/replace/file\") = 0" ln.trace && printf "rename "; grep -q "unlink.*opts/replace/file" ln.trace || printf unlink-free' \
        sh "$launcher"
else
    echo "SKIPPED: no strace here for the trace of ln -sf"
fi
if [ -n "$unprivileged" ]; then
    mkdir -m 1777 opts/sticky
    printf 'r' > opts/sticky/roots
    exactly "as nobody: ln -sf over root's file in a sticky directory as GNU ln" \
        "$($nobody ln -sf x opts/sticky/roots 2>&1 | sed 's/^ln: /basefs: /'; ls -A opts/sticky)" \
        sh -c '$0 "$@" 2>&1; ls -A opts/sticky' \
        $nobody "$basefs" ln -sf x opts/sticky/roots
fi

# touch -c creates nothing, through a dangling link neither, and passes over what is missing.
like_gnu "touch -c of missing files and a dangling link" touch -c opts/none opts/dangling opts/no-dir/x
like_gnu "touch -c of a path through a file" touch -c opts/file/x
fails_with "touch -c created nothing" 2 "" sh -c 'ls -d opts/none opts/nowhere opts/no-dir 2> /dev/null'
for row in "-c -d @1000 second" "-c -h -d @2000 link" "-c -h -m -d @3000 second"; do
    exactly "touch $row changes what GNU touch changes" "$(times_after touch $row)" times_after "$basefs" touch $row
done

# cmp -l, -n and - are read in Java; -l's numbers are as wide as the most
# bytes compared, as GNU's.
cp big several
for at in 0 65535 65536 2999999; do
    printf '\377' | dd of=several bs=1 seek="$at" conv=notrunc 2>/dev/null
done
# split_output COMMAND...: COMMAND's standard output, then its standard error; COMMAND's status.
split_output() {
    "$@" 2> split.err
    split_status=$?
    sed 's/^cmp: /basefs: /' split.err
    return "$split_status"
}
# like_gnu_split NAME ARGUMENT...: basefs cmp as GNU cmp, standard output and standard error apart.
like_gnu_split() {
    name=$1
    shift
    gnu=$(LC_ALL=C.UTF-8 split_output cmp "$@")
    gnu_status=$?
    fails_with "$name" "$gnu_status" "$gnu" split_output "$basefs" cmp "$@"
}
like_gnu "cmp -l lists every differing byte" cmp -l big several
like_gnu_split "cmp -l with a shorter file: its bytes, then EOF without a line" -l several cut
like_gnu_split "cmp --verbose with an empty file" --verbose four empty
like_gnu "cmp -n before the first difference" cmp -n 6 four other
like_gnu "cmp -n at the first difference" cmp --bytes=7 four other
like_gnu_split "cmp -n past the end of the shorter file" -n 1K four prefix
like_gnu "cmp -ln limits the listing and its width" cmp -ln 0x10000 big several
for count in 010 1KB K; do
    like_gnu "cmp -n $count as GNU cmp" cmp -n "$count" big several
done
for count in 08 1x 8E; do
    fails_with "cmp -n '$count' is refused" 2 "$(diffutils_usage_error "invalid --bytes value '$count'")" \
        "$basefs" cmp -n "$count" four other
done
fails_with "cmp -l and -s together are refused" 2 "$(diffutils_usage_error "options -l and -s are incompatible")" \
    "$basefs" cmp -l -s four other
if command -v bash > /dev/null; then
    for line in "cmp - four < <(printf 'a\nbQ')" "cmp -l four - < <(printf 'a\nX\nc\nY')" \
        "cmp -n 3 - four < <(printf 'a\nbQ')" "cmp - - < <(printf 'a')"; do
        like_gnu_in_bash "$line as GNU cmp" "$line"
    done
else
    echo "SKIPPED: no bash for cmp with standard input from a pipe"
fi
# Standard input from a file at an offset: the comparison starts there, and
# -l's width counts only the bytes from there on.
at_offset() { (dd bs=1 skip=2999990 count=0 2> /dev/null; exec "$@" -l - several) < big; }
gnu=$(LC_ALL=C.UTF-8 split_output at_offset cmp)
fails_with "cmp -l - from a file at an offset as GNU cmp" $? "$gnu" split_output at_offset "$basefs" cmp

# The launcher decodes names as UTF-8 whatever the caller's locale.
printf 'e' > "dir/smile-$(printf '\360\237\230\200').txt"
expect "names outside the BMP in the C locale" 0 "^smile-$(printf '\360\237\230\200')\.txt$" env LC_ALL=C "$basefs" ls dir
# A name that is not UTF-8 is printed as its own bytes, as GNU ls does.
printf 'l' > "dir/latin-$(printf '\351').txt"
expect "a name that is not UTF-8 keeps its bytes" 0 "^latin-$(printf '\351')\.txt$" "$basefs" ls dir

# A name is data, not terminal control: on a terminal names holding control
# characters are quoted as GNU quotes them; through a pipe they stay as they are.
esc=$(printf '\033')
stat_file_lines() { on_terminal "$basefs" stat "$@" | grep File:; }
mkdir names
for name in "a${esc}b" "$(printf 'new\nline')" "$(printf 'tab\tx')" "$(printf 'bel\007')" "$(printf 'del\177')" \
    "$(printf 'c1\302\233x')" "$(printf 'lat\351in')" "sp ace" "it's" "it's${esc}" "plain" "$(printf '\303\251')" \
    "~home" "a:b" 'dq"x'; do
    : > "names/$name"
done
ln -s "a${esc}b" names/link
if command -v script > /dev/null; then
    exactly "ls on a terminal names a name with ESC in quotes" "'names/a'\$'\\033''b'" \
        on_terminal "$basefs" ls "names/a${esc}b"
    exactly "stat on a terminal quotes the name and the link's target" \
        "$(printf '%s\n%s' "  File: 'names/a'\$'\\033''b'" "  File: names/link -> 'a'\$'\\033''b'")" \
        stat_file_lines "names/a${esc}b" names/link
    exactly "readlink on a terminal quotes the target" "'a'\$'\\033''b'" on_terminal "$basefs" readlink names/link
    fails_with "readlink -v on a terminal quotes the name" 1 "basefs: 'names/a'\$'\\033''b': Invalid argument" \
        on_terminal "$basefs" readlink -v "names/a${esc}b"
    if ls --quoting-style=shell-escape / > /dev/null 2>&1; then
        exactly "ls on a terminal quotes as GNU ls does" "$(on_terminal ls -1 names)" on_terminal "$basefs" ls names
        exactly "ls -l on a terminal quotes and lines up as GNU ls -l does" \
            "$(on_terminal ls -l --time-style=long-iso names | sed -e 1d -E -e 's/^([^ ]+) +[0-9]+ /\1 /')" \
            on_terminal "$basefs" ls -l names
        exactly "ls of several operands on a terminal as GNU ls" \
            "$(on_terminal ls -1 "names/sp ace" names/plain names)" on_terminal "$basefs" ls "names/sp ace" names/plain names
    else
        echo "SKIPPED: no GNU ls to compare the quoting with"
    fi
else
    echo "SKIPPED: no script(1) here for a terminal"
fi
exactly "ls through a pipe prints names as they are, as GNU ls does" "$(LC_ALL=C.UTF-8 ls -1 names)" "$basefs" ls names
exactly "stat through a pipe prints the name as it is, as GNU stat does" \
    "$(stat "names/a${esc}b" | sed -n 1p)" sh -c '"$0" stat "$1" | sed -n 1p' "$basefs" "names/a${esc}b"
exactly "readlink through a pipe prints the target as it is" "a${esc}b" "$basefs" readlink names/link
# Messages quote such names always, as GNU's do.
like_gnu "ls: a missing name with ESC is quoted in the message" ls "names/x${esc}"
like_gnu "cp: a missing name with a newline is quoted in the message" cp "$(printf 'names/no\nsuch')" names/copy
like_gnu "readlink -v: the name is quoted in the message" readlink -v "names/a${esc}b"
like_gnu "chmod: a missing name with a tab is quoted in the message" chmod 644 "$(printf 'names/no\tsuch')"
fails_with "cmp: a name with ESC is quoted in its EOF message" 1 "basefs: EOF on 'names/a'\$'\\033''b' which is empty" \
    "$basefs" cmp four "names/a${esc}b"
fails_with "no command" 2 "$(usage_error "missing command")" "$basefs"
fails_with "unknown command" 2 "$(usage_error "unknown command 'frob'")" "$basefs" frob
quiet "the launcher starts without a warning" "$launcher" stat /etc/hostname

# --- recursion: ls -R, ls -d, ls -1, chmod symbolic modes and -R, cp -r
# One tree for all: nested directories, a hidden one, a name with a space, a
# link to /etc, a dangling link, a link to a file outside, and a FIFO.
mkdir -p tree/sub/deep tree/.hidden
printf 'spaced' > 'tree/with space'
printf 'f' > tree/sub/f
printf 'h' > tree/.hidden/h
printf 'outside' > outside
chmod 600 outside
ln -s /etc tree/etc
ln -s nowhere tree/dangling
ln -s ../../outside tree/sub/to-outside
mkfifo tree/fifo
ln -s tree tree-link
like_gnu "ls -R as GNU" ls -R tree
like_gnu "ls -Ra as GNU" ls -Ra tree
like_gnu "ls -R of a file and a link to a directory as GNU" ls -R tree/sub/f tree-link
like_gnu "ls -d lists directories and links as themselves" ls -d tree tree-link tree/sub/f
like_gnu "ls -dR does not recurse" ls -dR tree
# GNU ls -l less its totals and link counts; the library reports a directory's size as 0.
lR_of() { sed -E -e '/^total /d' -e 's/^([^ ]+) +[0-9]+ (.*)$/\1 \2/' -e 's/ +/ /g' -e 's/^(d[^ ]* [^ ]* [^ ]*) [0-9]+/\1 N/'; }
basefs_lR() { "$basefs" ls -lR tree | sed -E -e 's/ +/ /g' -e 's/^(d[^ ]* [^ ]* [^ ]*) [0-9]+/\1 N/'; }
if ls --time-style=long-iso / > /dev/null 2>&1; then
    exactly "ls -lR as GNU" "$(LC_ALL=C.UTF-8 ls -lR --time-style=long-iso tree | lR_of)" basefs_lR
fi
exactly "ls -1 on a terminal: one name a line" "$(on_terminal ls -1 tree)" on_terminal "$basefs" ls -1 tree

# chmod_after KIND START UMASK MODE COMMAND...: status and mode after
# COMMAND MODE on a fresh file (f) or directory (d) of mode START.
chmod_after() {
    kind=$1 start=$2 mask=$3 mode=$4
    shift 4
    rm -rf modes && if [ "$kind" = d ]; then mkdir modes; else : > modes; fi && chmod "$start" modes
    (umask "$mask" && "$@" "$mode" modes) > /dev/null 2>&1
    echo "$? $(stat -c %a modes)"
}
for row in "f 644 022 u+x,go-w" "f 755 022 o=u,g=u-w" "f 644 022 +X" "d 644 022 a-x,+X" "f 600 022 +w" \
    "f 600 077 +rx" "d 2755 022 755" "d 2755 022 00755" "d 2755 022 =755" "d 6755 022 -6000"; do
    exactly "chmod $row as GNU" "$(chmod_after $row chmod --)" chmod_after $row "$basefs" chmod --
done
fails_with "chmod with an invalid symbolic mode" 1 "$(usage_error "invalid mode: 'q+z'")" "$basefs" chmod q+z outside
chmod 666 tree/sub/f
like_gnu "chmod -w warns when the umask kept a bit" chmod -w tree/sub/f
like_gnu "chmod of a dangling link" chmod -R 644 tree/dangling
# modes_of DIR: each name under DIR with its mode, or a link's target.
modes_of() { (cd "$1" && find . -printf '%p %M %l\n' | sort); }
rm -rf gnu-modes && mkdir gnu-modes && cp -a tree gnu-modes/tree
chmod -R u=rwx,go=rx,+t gnu-modes/tree
expect "chmod -R through the tree" 0 '^$' "$basefs" chmod -R u=rwx,go=rx,+t tree
exactly "chmod -R changed what GNU chmod -R changes" "$(modes_of gnu-modes/tree)" modes_of tree
exactly "chmod -R left a link's target alone" "600" stat -c %a outside
chmod -R u=rwx,go=rx,-t tree

# cp -r against GNU cp -r; basefs refuses the FIFO and hands out no sticky bit.
chmod 2755 tree/sub
rm -rf gnu-copy && cp -r tree gnu-copy
fails_with "cp -r refuses a FIFO by name and copies the rest" 1 "basefs: cannot copy special file 'tree/fifo'" \
    "$basefs" cp -r tree tree-copy
exactly "cp -r copies as GNU cp -r, links as links" "$(modes_of gnu-copy | grep -v ' p')" modes_of tree-copy
exactly "cp -r copied the link to /etc as a link and nothing of /etc" "/etc 0" \
    sh -c 'echo "$(readlink tree-copy/etc) $(find tree-copy -name passwd | wc -l)"'
fails_with "cp -r into an existing directory copies into DIR/NAME" 1 "basefs: cannot copy special file 'tree/fifo'" \
    "$basefs" cp -r tree tree-copy
exactly "cp -r into an existing directory made DIR/NAME as GNU" "$(modes_of gnu-copy | grep -v ' p')" modes_of tree-copy/tree
fails_with "cp -r of a directory into itself" 1 "basefs: cannot copy a directory, 'tree', into itself, 'tree/sub/tree'" \
    "$basefs" cp -r tree tree/sub
fails_with "cp -r into itself made nothing" 1 "" test -e tree/sub/tree
mkdir -p merge/tree && ln -s nowhere 'merge/tree/with space'
expect "cp -r does not write through a dangling link in the destination" 1 \
    "^basefs: not writing through dangling symlink 'merge/tree/with space'$" "$basefs" cp -r tree merge
fails_with "cp -r left the dangling link alone" 1 "" test -e merge/nowhere
# Links inside a tree lead out of it: to /dev/zero, to a root-only file and to
# a directory outside. None is followed, read or changed; a FIFO is not waited on.
mkdir -p hostile/in aside && printf 'kept' > aside/file && chmod 600 aside/file && chmod 700 aside
mkfifo hostile/in/fifo
ln -s /dev/zero hostile/zero && ln -s ../../outside hostile/in/outside && ln -s ../aside hostile/aside
fails_with "cp -r of links out of the tree and a FIFO ends at once" 1 "basefs: cannot copy special file 'hostile/in/fifo'" \
    timeout 60 "$launcher" cp -r hostile hostile-copy
exactly "cp -r copied each link as a link and nothing it leads to" "/dev/zero ../../outside ../aside 0" \
    sh -c 'echo "$(readlink hostile-copy/zero) $(readlink hostile-copy/in/outside) $(readlink hostile-copy/aside)" \
        "$(find hostile-copy ! -type d ! -type l | wc -l)"'
expect "chmod -R over links out of the tree" 0 '^$' timeout 60 "$launcher" chmod -R 777 hostile
exactly "chmod -R changed the tree, not what its links lead to" "777 777 700 600 600 666" \
    sh -c 'echo $(stat -c %a hostile/in hostile/in/fifo aside aside/file outside /dev/zero)'
like_gnu "ls -R of links out of the tree as GNU" ls -R hostile
if ls --time-style=long-iso / > /dev/null 2>&1; then
    basefs_laR() { "$basefs" ls -laR tree | sed -E -e 's/ +/ /g' -e 's/^(d[^ ]* [^ ]* [^ ]*) [0-9]+/\1 N/'; }
    exactly "ls -laR as GNU, . and .. included" "$(LC_ALL=C.UTF-8 ls -laR --time-style=long-iso tree | lR_of)" basefs_laR
fi
# A tree deeper than PATH_MAX: walked by descriptors, each name relative to its open parent.
perl -e 'mkdir "deep"; chdir "deep" or die; for (1 .. 25) { mkdir "0" x 200; chdir "0" x 200 or die }
    open(my $f, ">", "leaf") or die; print $f "leaf"' || echo "FAILED: a tree deeper than PATH_MAX could not be made"
exactly "ls -R walks a tree deeper than PATH_MAX" 26 sh -c '"$1" ls -R deep | grep -c ":$"' sh "$basefs"
expect "chmod -R changes a tree deeper than PATH_MAX" 0 '^$' "$basefs" chmod -R u=rwx,go= deep
expect "cp -r copies a tree deeper than PATH_MAX" 0 '^$' "$basefs" cp -r deep deep-copy
exactly "cp -r copied its deepest file, with the mode chmod -R gave it" "1 700" \
    sh -c 'find deep-copy -name leaf | wc -l | tr "\n" " "; find deep -name leaf -printf "%m\n"'
mkdir -p bar-tree/in
head -c 3000000 /dev/zero > bar-tree/a
printf 'small' > bar-tree/in/b
head -c 2000000 /dev/zero > bar-tree/in/c
bar=$(on_terminal "$basefs" cp -r bar-tree bar-copy)
exactly "cp -r draws one bar for the whole tree, to its total" "1 1" \
    sh -c 'printf "%s\n" "$1" | grep -c "cp \[" | tr "\n" " "; printf "%s\n" "$1" | grep -c "100% 4\.8 MiB"' sh "$bar"
if [ -n "$unprivileged" ]; then
    mkdir -p shut/open shut/closed && printf 'x' > shut/open/x && chmod 000 shut/closed && chmod 555 shut/open
    fails_with "ls -R: a subdirectory that cannot be read is a minor problem" 1 \
        "$(printf "shut:\nclosed\nopen\nbasefs: cannot open directory 'shut/closed': Permission denied\n\nshut/open:\nx")" \
        $nobody "$basefs" ls -R shut
    mkdir -m 777 nobody-copies
    expect "cp -r of a directory its owner may not write" 0 '^$' $nobody "$basefs" cp -r shut/open nobody-copies/open
    exactly "cp -r filled it and gave it its mode back" "555 x" \
        sh -c 'echo "$(stat -c %a nobody-copies/open) $(cat nobody-copies/open/x)"'
    # Directories whose owner has no bits, readable through their group: each copy is
    # made open to its owner, filled, then given the source's mode, as GNU cp does.
    mkdir -p ownerless/inner && printf 'o' > ownerless/inner/o && chown -R 0:65534 ownerless
    chmod 0075 ownerless ownerless/inner
    $nobody cp -r ownerless nobody-copies/gnu-ownerless
    expect "cp -r of directories without owner bits" 0 '^$' $nobody "$basefs" cp -r ownerless nobody-copies/ownerless
    exactly "cp -r of directories without owner bits made what GNU cp makes" \
        "$(cd nobody-copies/gnu-ownerless && find . -printf '%p %m\n' | sort)" \
        sh -c 'cd nobody-copies/ownerless && find . -printf "%p %m\n" | sort'
    # A directory that may be searched, not read: the copy goes by the paths there.
    mkdir -m 711 search-only && printf 's' > search-only/s && mkdir -m 733 drop-box
    expect "cp from a directory that may be searched, not read" 0 '^$' $nobody "$basefs" cp search-only/s nobody-copies/s
    expect "cp into a directory that may be written, not read" 0 '^$' $nobody "$basefs" cp four drop-box/four
    exactly "both copies are whole" "s" sh -c 'cmp four drop-box/four && cat nobody-copies/s'
fi

# Where the library comes from: the property's file alone when it is set, else
# the jar's copy, written into a private directory and removed again, and
# the absolute elements of java.library.path only when that copy cannot be had.
access=--enable-native-access=ALL-UNNAMED
# stat_as_nobody OPTION...: stat_with "$java", run as the unprivileged user.
stat_as_nobody() {
    $nobody env -u LD_LIBRARY_PATH "$java" $access "$@" -cp "$jar" com.quenvira.tools.BaseFs stat /etc/hostname
}
mkdir extract
expect "the jar's own copy" 0 '^  File: /etc/hostname$' stat_with "$java" $access -Djava.io.tmpdir=extract
exactly "the jar's copy is deleted after loading" "" ls -A extract
expect "the property's file and nothing else" 2 "^basefs: Can't load library: $work/missing\.so$" \
    stat_with "$java" $access -Dcom.quenvira.basefs.library="$work/missing.so" -Djava.library.path="${library%/*}"
expect "java.library.path when the jar's copy cannot be written" 0 '^  File: /etc/hostname$' \
    stat_with "$java" $access -Djava.library.path="${library%/*}" -Dcom.quenvira.basefs.tmpdir=big/under-a-file
expect "an unwritable directory for the copy names the property" 2 \
    "^basefs: cannot load libbasefs\.so: the jar's copy cannot be written to $work/big/under-a-file \(Not a directory\); set -Dcom\.quenvira\.basefs\.tmpdir=DIR .*; java\.library\.path: no libbasefs\.so in /" \
    stat_with "$java" $access -Dcom.quenvira.basefs.tmpdir=big/under-a-file
# A shared directory with the sticky bit, under a umask that lets the group
# write: the copy goes into a private directory all the same.
mkdir -m 1777 shared
stat_under_umask_002() { (umask 002; stat_with "$@"); }
expect "a shared sticky directory under umask 002" 0 '^  File: /etc/hostname$' \
    stat_under_umask_002 "$java" $access -Djava.io.tmpdir=shared
exactly "nothing is left in the shared directory" "" ls -A shared
# Where others may rename entries (no sticky bit) nothing can be kept private.
mkdir -m 0777 open
expect "a world-writable directory without the sticky bit is refused" 2 \
    "^basefs: cannot load libbasefs\.so: the jar's copy cannot be written to $work/open \(writable by other users, without the sticky bit\)" \
    stat_with "$java" $access -Dcom.quenvira.basefs.tmpdir=open
exactly "nothing was written to it" "" ls -A open
# The directory for copies is resolved once to its real path, and each
# directory on that path must belong to root or the caller and be writable by
# nobody else unless sticky. Another user (uid 65533) owns a directory here,
# and links of theirs may point anywhere.
other=65533
mkdir theirs theirs/mine
chmod 0700 theirs/mine
chown "$other:$other" theirs
ln -s shared aimed-at-shared
ln -s theirs/mine aimed-at-theirs
chown -h "$other:$other" aimed-at-shared aimed-at-theirs
fails_with "a directory inside another user's is refused, and each way is named" 2 \
    "basefs: cannot load libbasefs.so: the jar's copy cannot be written to $work/theirs/mine ($work/theirs: owned by another user (uid $other)); set -Dcom.quenvira.basefs.tmpdir=DIR to use another directory; java.library.path: no libbasefs.so in /nonexistent" \
    stat_with "$java" $access -Dcom.quenvira.basefs.tmpdir=theirs/mine -Djava.library.path=/nonexistent
exactly "nothing was written inside the other user's directory" "" ls -A theirs/mine
expect "another user's link into their directory is refused" 2 \
    "^basefs: cannot load libbasefs\.so: the jar's copy cannot be written to $work/aimed-at-theirs \($work/theirs: owned by another user \(uid $other\)\); set -Dcom\.quenvira\.basefs\.tmpdir=DIR " \
    stat_with "$java" $access -Dcom.quenvira.basefs.tmpdir=aimed-at-theirs
expect "another user's link to a sticky directory: the copy goes to its real path" 0 '^  File: /etc/hostname$' \
    stat_with "$java" $access -Dcom.quenvira.basefs.tmpdir=aimed-at-shared
exactly "nothing is left in the link's target" "" ls -A shared
if [ -n "$unprivileged" ]; then
    mkdir -m 0700 nobodys theirs/nobodys
    chown 65534:65534 nobodys theirs/nobodys
    expect "as nobody: a directory of nobody's own in one of root's" 0 '^  File: /etc/hostname$' \
        stat_as_nobody -Dcom.quenvira.basefs.tmpdir=nobodys
    exactly "as nobody: nothing is left in it" "" ls -A nobodys
    expect "as nobody: a directory of nobody's own inside another user's is refused" 2 \
        "^basefs: cannot load libbasefs\.so: the jar's copy cannot be written to $work/theirs/nobodys \($work/theirs: owned by another user \(uid $other\)\)" \
        stat_as_nobody -Dcom.quenvira.basefs.tmpdir=theirs/nobodys
    # A user namespace shows an unmapped owner as 65534: such a directory is
    # another user's to everyone but 65534.
    expect "a directory of uid 65534 is refused to root" 2 \
        "^basefs: cannot load libbasefs\.so: the jar's copy cannot be written to $work/nobodys \(owned by another user \(uid 65534\)\)" \
        stat_with "$java" $access -Dcom.quenvira.basefs.tmpdir=nobodys
else
    echo "SKIPPED: cannot run as nobody here, the cases of an unprivileged caller's directory need it"
fi

# Leftovers of JVMs killed while loading: the next load removes this user's
# private directories whose lock nobody holds, and nothing else.
mkdir left left-target
# leftover NAME FILE...: a private directory holding these files.
leftover() {
    mkdir -m 0700 "left/$1"
    name=$1
    shift
    for file in "$@"; do printf 'x' > "left/$name/$file"; done
}
leftover basefs-11-1 lock libbasefs.so
leftover basefs-12-1 lock libbasefs.so
leftover basefs-13-1 lock libbasefs.so
chown -R "$other:$other" left/basefs-13-1
leftover basefs-14-1 libbasefs.so
leftover basefs-15-1 libbasefs.so
leftover basefs-16-1 lock notes
leftover basefs-17 libbasefs.so
leftover basefs-19-1 lock
printf 'k' > keep-me
ln -s "$work/keep-me" left/basefs-19-1/libbasefs.so
printf 'x' > left-target/lock
ln -s "$work/left-target" left/basefs-18-1
mkdir -m 0700 left/basefs-cli-1
touch -d '2 minutes ago' left/basefs-15-1 left/basefs-17 left/basefs-cli-1
# Another process holds basefs-12-1's lock, the way a loading JVM does (fcntl, as FileChannel locks).
printf '%s\n' 'import java.nio.channels.FileChannel;' 'import java.nio.file.*;' \
    'public class Hold { public static void main(String[] a) throws Exception {' \
    '    try (FileChannel c = FileChannel.open(Paths.get(a[0]), StandardOpenOption.WRITE)) {' \
    '        c.lock(); Files.createFile(Paths.get(a[1])); Thread.sleep(600000); } } }' > Hold.java
"$java" Hold.java left/basefs-12-1/lock held &
holder=$!
# Ten times a second, for two minutes at most (an emulated JVM starts slowly).
waited=0
while [ ! -e held ] && [ "$waited" -lt 1200 ]; do
    sleep 0.1
    waited=$((waited + 1))
done
expect "a load amid leftovers" 0 '^  File: /etc/hostname$' stat_with "$java" $access -Dcom.quenvira.basefs.tmpdir=left
kill "$holder"
wait "$holder" 2> /dev/null
holder=
# Removed: unheld (11), without a lock and older than a minute (15, and 17 of
# a loader that took none), holding a link (19). Kept: held (12), another
# user's (13), without a lock but new (14), holding a file not the loader's
# (16), a link (18), another program's name.
exactly "leftovers: only this user's unheld private directories are removed" \
    "basefs-12-1 basefs-13-1 basefs-14-1 basefs-16-1 basefs-18-1 basefs-cli-1" echo $(ls left)
exactly "leftovers: what links point to is kept" "kx" cat keep-me left-target/lock
# A directory name the JVM cannot encode in the C locale: one line, exit 2.
output=$(env LC_ALL=C LANG=C "$java" $access -Dcom.quenvira.basefs.tmpdir="$work/$(printf '\303\274n\303\257')" \
    -cp "$jar" com.quenvira.tools.BaseFs stat /etc/hostname 2>&1)
status=$?
if [ "$status" -eq 2 ] && [ "$(printf '%s\n' "$output" | wc -l)" -eq 1 ] &&
    printf '%s\n' "$output" | grep -q "the jar's copy cannot be written to .*; set -Dcom\.quenvira\.basefs\.tmpdir=DIR"; then
    passed=$((passed + 1))
else
    failed=$((failed + 1))
    printf 'FAILED: an unencodable directory name (status %s)\n%s\n' "$status" "$output"
fi
# The processor the build's java runs as; a cross build's runs under an
# emulator, which maps the library's code itself and so ignores noexec.
build_arch=$(arch_of "$java")
case $build_arch in amd64) build_machine=x86_64 ;; *) build_machine=$build_arch ;; esac
# A directory mounted noexec takes the copy but cannot map it (needs a tmpfs mount).
mkdir noexec
if [ "$build_machine" != "$(uname -m)" ]; then
    echo "SKIPPED: java runs under an emulator here, which ignores noexec"
elif mount -t tmpfs -o noexec,size=1m tmpfs noexec 2>/dev/null; then
    expect "a noexec directory for the copy names the property" 2 \
        "^basefs: .*cannot be loaded from $work/noexec \(.*\); set -Dcom\.quenvira\.basefs\.tmpdir=DIR " \
        stat_with "$java" $access -Dcom.quenvira.basefs.tmpdir=noexec
    exactly "the copy that could not be loaded is deleted too" "" ls -A noexec
    umount noexec
else
    echo "SKIPPED: no tmpfs can be mounted here for the noexec case"
fi

# The jars as Debian installs them: no natives jar beside them.
mkdir nonatives
for name in basefs-tool basefs basefs-host basefs-eclipse-standin; do cp "${jar%/*}/$name.jar" nonatives/; done
no_natives_jar="linux-$build_machine/libbasefs.so"

# A decoy libbasefs.so in the current directory, which an empty element of
# LD_LIBRARY_PATH or java.library.path names: the jar's copy comes first, and
# java.library.path is searched through its absolute elements alone, so the
# decoy's constructor never runs. The decoy is built for this machine.
if [ "$build_machine" = "$(uname -m)" ] && command -v cc > /dev/null; then
    mkdir decoy
    printf '%s\n' '#include <stdio.h>' \
        '__attribute__((constructor)) static void mark(void) { FILE *f = fopen("DECOY-RAN", "w"); if (f) fclose(f); }' \
        > decoy/decoy.c
    cc -shared -fPIC -o decoy/libbasefs.so decoy/decoy.c
    expect "a decoy in the current directory: the jar's copy is loaded" 0 '^  File: /etc/hostname$' \
        sh -c 'cd decoy && LD_LIBRARY_PATH="/nonexistent:" "$@"' sh "$java" $access -Djava.io.tmpdir="$work/extract" \
        -cp "$jar" com.quenvira.tools.BaseFs stat /etc/hostname
    exactly "the decoy's constructor never ran" "decoy.c libbasefs.so" echo $(ls decoy)
    in_decoy() { (cd decoy && "$@"); }
    expect "no natives jar, java.library.path=:DIR: DIR's library" 0 '^  File: /etc/hostname$' \
        in_decoy env -u LD_LIBRARY_PATH "$java" $access -Djava.library.path=":${library%/*}" \
        -cp "$work/nonatives/basefs-tool.jar" com.quenvira.tools.BaseFs stat /etc/hostname
    exactly "no natives jar: the decoy's constructor never ran" "decoy.c libbasefs.so" echo $(ls decoy)
    fails_with "no natives jar, no absolute element with a library: each way named" 2 \
        "basefs: cannot load libbasefs.so: the jar holds no com/quenvira/basefs/native/$no_natives_jar; java.library.path: no libbasefs.so in /nonexistent (relative elements are never searched)" \
        in_decoy env -u LD_LIBRARY_PATH "$java" $access -Djava.library.path=":/nonexistent:." \
        -cp "$work/nonatives/basefs-tool.jar" com.quenvira.tools.BaseFs stat /etc/hostname
    expect "no natives jar, LD_LIBRARY_PATH=: alone: no library" 2 \
        "^basefs: cannot load libbasefs\.so: the jar holds no .*; java\.library\.path: no libbasefs\.so in /.* \(relative elements are never searched\)$" \
        in_decoy env LD_LIBRARY_PATH=: "$java" $access -cp "$work/nonatives/basefs-tool.jar" com.quenvira.tools.BaseFs stat /etc/hostname
    exactly "LD_LIBRARY_PATH=:: the decoy's constructor never ran" "decoy.c libbasefs.so" echo $(ls decoy)
    # The copy refused (as when another user fills a small shared tmpfs): the
    # absolute elements only.
    expect "the jar's copy refused, java.library.path=:DIR: DIR's library" 0 '^  File: /etc/hostname$' \
        in_decoy env -u LD_LIBRARY_PATH "$java" $access -Dcom.quenvira.basefs.tmpdir="$work/open" \
        -Djava.library.path=":${library%/*}" -cp "$jar" com.quenvira.tools.BaseFs stat /etc/hostname
    exactly "the copy refused: the decoy's constructor never ran" "decoy.c libbasefs.so" echo $(ls decoy)
    # The copy is created once, exclusively, in a directory of mode 0700, and
    # mapped from there: nothing is unlinked and created again in between.
    if command -v strace > /dev/null; then
        # -ff: a file per thread, so that no call is split by another thread's
        # into an unfinished and a resumed line; the loader runs on one thread.
        sh -c 'umask 002; exec strace -ff -qq -o trace -e trace=mkdir,openat,unlink,unlinkat,rename,renameat,renameat2 "$@"' \
            sh "$java" $access -Djava.io.tmpdir="$work/shared" -cp "$jar" com.quenvira.tools.BaseFs stat /etc/hostname > /dev/null 2>&1
        cat trace.* > trace && rm -f trace.*
        copy=$(sed -n 's|.*mkdir("\('"$work"'/shared/basefs-[^"]*\)", 0700) = 0$|\1|p' trace)
        exactly "strace: one private directory" "1" sh -c "printf '%s\n' '$copy' | grep -c ."
        exactly "strace: the copy created once, exclusively" "1" \
            sh -c "grep -c 'openat(AT_FDCWD, \"$copy/libbasefs.so\", O_WRONLY|O_CREAT|O_EXCL' trace"
        # JDK 25's JVM opens it with O_CLOEXEC too, to read its ELF header before dlopen.
        exactly "strace: the copy mapped from its private directory" "1" \
            sh -c "grep 'openat(AT_FDCWD, \"$copy/libbasefs.so\", O_RDONLY|O_CLOEXEC)' trace | grep -v ENOENT | tail -n 1 | grep -c ."
        between=$(awk -v copy="$copy/libbasefs.so" 'index($0, copy) && /O_EXCL/ { on = 1; next }
            index($0, copy) && /O_RDONLY/ { on = 0 } on && /unlink|rename/' trace)
        exactly "strace: no unlink or rename before loading" "" echo "$between"
        # Through another user's link: resolved once, and every later step goes
        # through the real path, so nothing is reached through the link's name.
        strace -ff -qq -o trace-link -e trace=%file "$java" $access -Dcom.quenvira.basefs.tmpdir="$work/aimed-at-shared" \
            -cp "$jar" com.quenvira.tools.BaseFs stat /etc/hostname > /dev/null 2>&1
        cat trace-link.* > trace-link && rm -f trace-link.*
        exactly "strace: nothing is reached through another user's link" "0" \
            sh -c "grep -c '\"$work/aimed-at-shared/' trace-link || true"
        exactly "strace: the private directory is made in the link's real target" "1" \
            sh -c "grep -c 'mkdir(\"$work/shared/basefs-[0-9]*-[0-9]*\", 0700) = 0' trace-link"
        exactly "strace: the copy is mapped from the real target" "1" \
            sh -c "grep 'openat(AT_FDCWD, \"$work/shared/basefs-[0-9-]*/libbasefs.so\", O_RDONLY|O_CLOEXEC)' trace-link | grep -v ENOENT | tail -n 1 | grep -c ."
    else
        echo "SKIPPED: no strace here for the trace of the copy"
    fi
else
    echo "SKIPPED: no compiler for a decoy library of the processor java runs as"
fi

# Debian's layout, in a mount namespace of this test's own: the jars in
# /usr/share/java and the library in the multiarch jni directory of the JVM's
# architecture; java.library.path leads nowhere, and no natives jar is there.
case $build_machine in
x86_64 | aarch64) jni=/usr/lib/$build_machine-linux-gnu/jni ;;
*) jni= ;;
esac
# debian_layout WITH_LIBRARY COMMAND...: COMMAND where tmpfs mounts that it
# alone sees put the jars in /usr/share/java and, when WITH_LIBRARY is yes,
# the library in $jni.
debian_layout() {
    with=$1
    shift
    unshare --mount --propagation private sh -c '
        with=$1 jars=$2 library=$3 jni=$4
        shift 4
        mount -t tmpfs -o size=64m tmpfs /usr/share/java && mount -t tmpfs -o size=64m tmpfs "$jni" &&
            cp "$jars"/*.jar /usr/share/java/ || exit 99
        if [ "$with" = yes ]; then cp "$library" "$jni/" || exit 99; fi
        exec "$@"' sh "$with" "$work/nonatives" "$library" "$jni" "$@"
}
# debian_stat WITH_LIBRARY JAR: the tool from JAR in Debian's layout, with
# nothing on java.library.path.
debian_stat() {
    debian_layout "$1" env -u LD_LIBRARY_PATH "$java" $access -Djava.library.path=/nonexistent -cp "$2" \
        com.quenvira.tools.BaseFs stat /etc/hostname
}
if [ "$build_machine" = "$(uname -m)" ] && [ -n "$jni" ] && [ -d "$jni" ] && [ -d /usr/share/java ] &&
    command -v unshare > /dev/null && debian_layout yes true 2> /dev/null; then
    expect "Debian's jars load the packaged library of the JVM's architecture" 0 '^  File: /etc/hostname$' \
        debian_stat yes /usr/share/java/basefs-tool.jar
    fails_with "Debian's jars without the packaged library: each way named" 2 \
        "basefs: cannot load libbasefs.so: the jar holds no com/quenvira/basefs/native/$no_natives_jar; the packaged library: no $jni/libbasefs.so; java.library.path: no libbasefs.so in /nonexistent" \
        debian_stat no /usr/share/java/basefs-tool.jar
    fails_with "the same jars elsewhere never look for the packaged library" 2 \
        "basefs: cannot load libbasefs.so: the jar holds no com/quenvira/basefs/native/$no_natives_jar; java.library.path: no libbasefs.so in /nonexistent" \
        debian_stat yes "$work/nonatives/basefs-tool.jar"
else
    echo "SKIPPED: no mount namespace with Debian's layout here (needs root, unshare and $jni)"
fi

# JDK 24 and later restrict native access: the first JDK at hand that has the
# restriction (the build's own, else Temurin 25) must load quietly with the
# flag or the jar's manifest, and fail in one line when access is denied.
# Temurin 25 only where it runs on the processor the build made the library for
# (not for a cross build).
restricted=$(restricted_java "$java")
if [ -n "$restricted" ]; then
    quiet "JDK 24+: the flag loads without a warning" stat_with "$restricted" $access -Djava.io.tmpdir=extract
    quiet "JDK 24+: java -jar gets native access from the manifest" \
        env -u LD_LIBRARY_PATH "$restricted" -Djava.io.tmpdir=extract -jar "$jar" stat /etc/hostname
    fails_with "JDK 24+: denied native access names the flag in one line" 2 \
        "basefs: native access is denied to libbasefs.so: start java with --enable-native-access=ALL-UNNAMED" \
        stat_with "$restricted" --illegal-native-access=deny
    exactly "JDK 24+: nothing left in the directory" "" ls -A extract
else
    echo "SKIPPED: no JDK 24 or later here, the native-access cases need one"
fi

# --- tool-core: signals, progress, order on a terminal, help, GNU's words

# interrupt NAME SIGNAL STATUS EXPECTED COMMAND...: once COMMAND waits in the
# kernel for a FIFO's writer, it gets SIGNAL; it must end with STATUS (a guard
# kills it after 5 s, which shows as 137) and print exactly EXPECTED.
interrupt() {
    name=$1 signal=$2 status=$3 expected=$4
    shift 4
    # A job started with & ignores SIGINT: env gives the command the default back.
    env --default-signal "$@" > interrupt.out 2>&1 &
    pid=$!
    waited=0
    until grep -qs wait_for_partner /proc/$pid/task/*/wchan; do
        if [ "$waited" -ge 600 ] || ! kill -0 "$pid" 2> /dev/null; then
            break
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    kill -s "$signal" "$pid"
    (sleep 5; kill -s KILL "$pid" 2> /dev/null) &
    guard=$!
    wait "$pid"
    actual=$?
    kill "$guard" 2> /dev/null
    output=$(cat interrupt.out)
    if [ "$actual" -eq "$status" ] && [ "$output" = "$expected" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAILED: %s (status %s, expected %s)\nexpected:\n%s\ngot:\n%s\n' "$name" "$actual" "$status" \
            "$expected" "$output"
    fi
}
mkfifo no-writer
interrupt "Ctrl-C ends cp blocked on a FIFO with 130, naming the destination" INT 130 \
    "basefs: interrupted; 'fifo-copy' may be incomplete" "$launcher" cp no-writer fifo-copy
interrupt "SIGTERM ends cp blocked on a FIFO with 143" TERM 143 \
    "basefs: interrupted; 'fifo-copy' may be incomplete" "$launcher" cp no-writer fifo-copy
interrupt "Ctrl-C ends cmp blocked on a FIFO with 130, silent as GNU cmp" INT 130 "" "$launcher" cmp no-writer four

# on_screen COMMAND...: what a terminal shows after COMMAND ran on it: of each
# line, what follows its last carriage return, without erase sequences.
on_screen() {
    on_terminal "$@" > /dev/null
    screen_status=$?
    sed -e 's/\r$//' -e 's/.*\r//' -e "s/${esc}\\[K//g" terminal.out
    return "$screen_status"
}
# drew_progress PATTERN: the raw terminal.out held a progress line matching PATTERN.
drew_progress() { tr '\r' '\n' < terminal.out | grep -Eq -- "$1"; }
if command -v script > /dev/null; then
    exactly "cp from a pipe on a terminal leaves no progress line behind" "" \
        on_screen sh -c 'head -c 20000000 /dev/zero | "$0" cp /dev/stdin piped-copy' "$basefs"
    fails_with "cp from a pipe showed bytes and rate, no percentage" 0 "" \
        drew_progress '^cp [0-9.]+ (B|KiB|MiB) [0-9.]+ [KMG]?i?B/s'"${esc}"'\[K$'
    fails_with "the copy from a pipe is whole" 0 "" cmp -n 20000000 /dev/zero piped-copy
    # cmp today left its two passes' bars above the result.
    fails_with "cmp on a terminal shows the result alone" 1 "$(LC_ALL=C.UTF-8 cmp big flipped)" \
        on_screen "$basefs" cmp big flipped
    fails_with "cmp on a terminal drew its bar before erasing it" 0 "" drew_progress '^cmp \[#* *\] +[0-9]+%'
    exactly "the sparse copy leaves no bar behind" "" on_screen "$basefs" cp sparse sparse-copy
    fails_with "no progress when only standard output is a terminal" 0 "" \
        on_terminal sh -c '"$0" cp big quiet-copy 2> progress.err && test ! -s progress.err' "$basefs"
    # stat's record of a, the error, then b's, in that order: GNU's error()
    # writes standard output before each message, on a terminal or not.
    records_and_messages() { on_terminal "$@" | grep -E 'File:|basefs:'; }
    exactly "on a terminal standard output comes before each message" \
        "$(printf "  File: four\nbasefs: cannot statx 'missing': No such file or directory\n  File: big")" \
        records_and_messages "$basefs" stat four missing big
else
    echo "SKIPPED: no script(1) here for a terminal"
fi

exactly "into a pipe as well records and messages in order, as GNU stat's" \
    "$(LC_ALL=C stat four missing big 2>&1 | grep -E 'File:|stat:' | sed 's/^stat:/basefs:/')" \
    sh -c '"$0" stat four missing big 2>&1 | grep -E "File:|basefs:"' "$basefs"

# help_lists COMMAND OPTION...: COMMAND --help starts with its synopsis and
# gives each OPTION a line of its own.
help_lists() {
    command=$1
    shift
    pattern="^Usage: basefs $command "
    help=$("$basefs" "$command" --help 2>&1)
    actual=$?
    missing=
    printf '%s\n' "$help" | head -n 1 | grep -Eq -- "$pattern" || missing="the synopsis"
    for option in "$@" --help; do
        printf '%s\n' "$help" | grep -Eq -- "^ +(-., )?$option( |,|$)" || missing="$missing $option"
    done
    if [ "$actual" -eq 0 ] && [ -z "$missing" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAILED: %s --help (status %s) lacks%s\n%s\n' "$command" "$actual" "$missing" "$help"
    fi
}
help_lists cp -n -r -R
help_lists ls -a -A -d -l -n -R -1
help_lists stat -L -c
help_lists touch -a -c -d -h -m
help_lists chmod -R
help_lists ln -f -s
help_lists readlink -f -n -q -s -v
help_lists cmp -l -n -s
help_lists user
expect "basefs --help lists the commands and names --version" 0 "^      --version " "$basefs" --help
exactly "basefs help COMMAND is COMMAND --help" "$("$basefs" chmod --help)" "$basefs" help chmod
fails_with "an unknown command's --help is an error" 2 "$(usage_error "unknown command 'frob'")" "$basefs" frob --help

# GNU cp 9.1 looks at the destination before it opens the source, and says
# so in its own words.
touch not-a-dir
for row in "target that is a file|big four not-a-dir" \
    "a missing name with a trailing slash|four dir/nothing/" \
    "a name under a file|four not-a-dir/x" "a file named with a trailing slash|four four/"; do
    like_gnu "cp: ${row%%|*} as GNU cp" cp ${row#*|}
done
if [ -n "$unprivileged" ]; then
    # like_gnu_as_nobody NAME PROGRAM ARGUMENT...: like_gnu for an unprivileged user.
    like_gnu_as_nobody() {
        name=$1
        shift
        gnu=$(LC_ALL=C.UTF-8 $nobody "$@" 2>&1)
        gnu_status=$?
        fails_with "$name" "$gnu_status" "$(printf '%s\n' "$gnu" | sed "s/^$1: /basefs: /")" $nobody "$basefs" "$@"
    }
    like_gnu_as_nobody "cp into a directory that cannot be searched as GNU cp" cp four locked/x
    like_gnu_as_nobody "cp of an unreadable file onto a trailing slash as GNU cp" cp unreadable dir/nothing/
    like_gnu_as_nobody "stat under a directory that cannot be searched as GNU stat" stat locked/x
    like_gnu_as_nobody "touch of another user's file as GNU touch" touch four
fi
fails_with "ln without an operand as GNU ln" 1 "$(usage_error "missing file operand")" "$basefs" ln

stop_jvm
exactly "the checks' JVM served them all and printed nothing (no JNI warning)" "" cat "$jvm/log"
finish
