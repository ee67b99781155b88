# Signals, progress, order on a terminal, help, GNU's words.
# Sourced by cli_test.sh, in order.

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
# watch prints each change once it happens, names quoted as ls quotes them
# and a move's halves paired; Ctrl-C ends it at once with 130.
mkdir watched
env --default-signal "$launcher" watch watched > watch.out 2>&1 &
pid=$!
# wait_for TEXT: until the watch has printed TEXT (at most 30 s).
wait_for() {
    waited=0
    until grep -qsF -- "$1" watch.out || [ "$waited" -ge 300 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
}
wait_for "watching 'watched'"
mkdir watched/d
wait_for "created d/"
printf x > 'watched/d/a b'
mv 'watched/d/a b' "watched/d/a$(printf '\nb')"
wait_for "moved-to"
kill -s INT "$pid"
(sleep 5; kill -s KILL "$pid" 2> /dev/null) &
guard=$!
wait "$pid"
actual=$?
kill "$guard" 2> /dev/null
exactly "watch: changes as they happen, ended by Ctrl-C" "basefs: watching 'watched'
created d/
created 'd/a b'
modified 'd/a b'
moved-from 'd/a b' #N
moved-to 'd/a'$'\\n''b' #N
status 130" sh -c "sed 's/#[0-9]*\$/#N/' watch.out; echo status $actual"
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
