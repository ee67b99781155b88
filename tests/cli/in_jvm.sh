#!/bin/sh
# basefs ARGUMENT...: the command run by the checks' one JVM (CommandServer),
# where it would see what the launcher's JVM sees: the same user, directory,
# umask and environment, no terminal, and no operand that names this process's
# own descriptors; anything else runs through the launcher itself.
# From cli_test.sh (which also leaves environment() of the server's start in
# $BASEFS_JVM/env): BASEFS_JVM (the server's directory: FIFOs, transcripts,
# the environment it was started with), BASEFS_LAUNCHER, BASEFS_WORK.
set -u
jvm=$BASEFS_JVM

through_launcher() { exec "$BASEFS_LAUNCHER" "$@"; }

# Another user cannot even see the server's directory.
[ -O "$jvm" ] || through_launcher "$@"
[ -t 1 ] || [ -t 2 ] && through_launcher "$@"
# environment: what the JVM may read of it, that is all of it but what a shell
# sets for itself and TZ, which the request carries where it names a zone.
environment() { env | grep -v -e '^_=' -e '^SHLVL=' -e '^TZ=' | sort; }
[ . -ef "$BASEFS_WORK" ] && [ "$(umask)" = "$(cat "$jvm/umask")" ] && [ "$(environment)" = "$(cat "$jvm/env")" ] ||
    through_launcher "$@"
case ${TZ-unset} in
    ''|*[!A-Za-z_/+-]*) through_launcher "$@" ;;
esac
# The device that fails every write: the launcher's JVM writes to it.
[ /proc/self/fd/1 -ef /dev/full ] && through_launcher "$@"
for word in "$@"; do
    case $word in
        -|/dev/*|/proc/*) through_launcher "$@" ;;
    esac
done

# One request at a time, whoever asks.
exec 9> "$jvm/lock"
flock 9
printf '%s\0' "${TZ-}" "$#" "$@" > "$jvm/requests"
read -r status < "$jvm/replies"
if [ "$status" = died ]; then
    printf 'basefs: the checks'"'"' JVM ended:\n' >&2
    cat "$jvm/log" >&2
    exit 255
fi
# Standard output and error into one pipe or file: as the command wrote them.
if [ /proc/self/fd/1 -ef /proc/self/fd/2 ]; then
    cat "$jvm/both"
else
    cat "$jvm/out"
    cat "$jvm/err" >&2
fi
exit "$status"
