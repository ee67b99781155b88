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

. "$cli/cli_commands.sh"
. "$cli/cli_options.sh"
. "$cli/cli_recursion.sh"
. "$cli/cli_loader.sh"
. "$cli/cli_signals.sh"

stop_jvm
exactly "the checks' JVM served them all and printed nothing (no JNI warning)" "" cat "$jvm/log"
finish
