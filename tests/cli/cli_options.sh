# Their options against GNU on the same files: stat -L and -c, readlink -f,
# ln -sf, touch -c, cmp -l, -n and -; names on a terminal. Sourced by cli_test.sh, in order.
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
