#!/bin/sh
# The basefs command-line tool used as a person would: real files in a fresh
# directory, output and exit status checked; also through a plain `java` with
# nothing but the tool's jar (its Class-Path names basefs.jar, the natives
# jar, basefs-host.jar and basefs-eclipse-standin.jar), which must find its
# library by itself.
# Usage: cli_test.sh LAUNCHER JAVA TOOL_JAR LIBRARY
set -u
basefs=$(readlink -f "$1")
java=$2
jar=$(readlink -f "$3")
library=$(readlink -f "$4")
umask 022
work=$(mktemp -d "${TMPDIR:-/tmp}/basefs-cli-XXXXXX")
trap 'umount "$work/noexec" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 2
passed=0
failed=0

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

# fails_with NAME STATUS EXPECTED COMMAND...: COMMAND exits with STATUS and prints exactly EXPECTED.
fails_with() {
    name=$1 status=$2 expected=$3
    shift 3
    output=$("$@" 2>&1)
    actual=$?
    if [ "$actual" -eq "$status" ] && [ "$output" = "$expected" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAILED: %s (status %s, expected %s)\nexpected:\n%s\ngot:\n%s\n' "$name" "$actual" "$status" "$expected" "$output"
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

mkdir dir
printf 'hello' > dir/plain.txt
printf 'secret' > dir/.hidden
mkdir dir/sub
ln -s plain.txt dir/link

exactly "ls lists the visible names, sorted" "$(printf 'link\nplain.txt\nsub')" "$basefs" ls dir
exactly "ls -a shows dot files" "$(printf '.hidden\nlink\nplain.txt\nsub')" "$basefs" ls -a dir
expect "ls -l mode, owner and size" 0 '^-rw-r--r-- root +root +5 [0-9-]+ [0-9:]+ plain\.txt$' "$basefs" ls -l dir
expect "ls -l directory" 0 '^drwxr-xr-x .* sub$' "$basefs" ls -l dir
expect "ls -l link target" 0 '^lrwxrwxrwx .* link -> plain\.txt$' "$basefs" ls -l dir
expect "ls -ln numeric IDs" 0 '^-rw-r--r-- 0 +0 +5 ' "$basefs" ls -ln dir
expect "ls of a missing directory" 1 "^basefs: cannot access 'missing': Path does not exist \[2\]$" "$basefs" ls missing
expect "ls of a file lists the file" 0 '^dir/plain\.txt$' "$basefs" ls dir/plain.txt

expect "touch creates and sets a date" 0 '' "$basefs" touch -d '2001-02-03 04:05:06' dir/new
expect "stat shows the time set" 0 'Modify: 2001-02-03 04:05:06' "$basefs" stat dir/new
expect "touch -a keeps the modification time" 0 '' "$basefs" touch -a -d @0 dir/new
expect "stat after touch -a" 0 'Modify: 2001-02-03 04:05:06' "$basefs" stat dir/new
expect "touch with a bad date" 2 "invalid date format 'yesterday'" "$basefs" touch -d yesterday dir/new

expect "chmod sets set-uid and sticky" 0 '' "$basefs" chmod 5755 dir/new
expect "stat shows the mode" 0 'Mode: \(5755/-rwsr-xr-t\)' "$basefs" stat dir/new
expect "chmod with a bad mode" 2 "invalid mode: '9'" "$basefs" chmod 9 dir/new
expect "chmod of a missing file" 1 "^basefs: cannot change permissions of 'nope': Path does not exist \[2\]$" \
    "$basefs" chmod 644 nope

expect "ln -s creates a link" 0 '' "$basefs" ln -s some/target dir/made
expect "readlink reads it" 0 '^some/target$' "$basefs" readlink dir/made
expect "ln -s onto an existing path" 1 "Path already exists \[17\]" "$basefs" ln -s x dir/made
expect "readlink of a plain file" 1 "The file is not a symbolic link" "$basefs" readlink dir/plain.txt

expect "user 0" 0 '^0 root$' "$basefs" user 0
expect "group 0" 0 '^0 root$' "$basefs" group 0
expect "user without an entry" 1 "User does not exist" "$basefs" user 3999999999

head -c 3000000 /dev/urandom > big
expect "cp copies" 0 '' "$basefs" cp big copy
expect "cmp of identical files" 0 '' "$basefs" cmp big copy
expect "cp -n refuses an existing target" 1 "^basefs: cannot copy 'big' to 'copy': Path already exists \[17\]$" \
    "$basefs" cp -n big copy
expect "cp into a directory" 0 '' "$basefs" cp big dir
expect "cmp of the copy in the directory" 0 '' "$basefs" cmp big dir/big
printf 'x' >> copy
expect "cmp of different files" 1 '^big copy differ$' "$basefs" cmp big copy
expect "cmp of a missing file" 2 "Path does not exist \[2\]" "$basefs" cmp big missing

# The launcher decodes names as UTF-8 whatever the caller's locale.
printf 'e' > "dir/smile-$(printf '\360\237\230\200').txt"
expect "names outside the BMP in the C locale" 0 "^smile-$(printf '\360\237\230\200')\.txt$" env LC_ALL=C "$basefs" ls dir
expect "unknown command" 2 "unknown command 'frob'" "$basefs" frob
quiet "the launcher starts without a warning" "$basefs" stat /etc/hostname

# Where the library comes from: the property's file alone when it is set, else
# the jar's copy, written into a private directory and removed again, and
# java.library.path only when that copy cannot be had.
access=--enable-native-access=ALL-UNNAMED
mkdir extract
expect "the jar's own copy" 0 '^  File: /etc/hostname$' stat_with "$java" $access -Djava.io.tmpdir=extract
exactly "the jar's copy is deleted after loading" "" ls -A extract
expect "the property's file and nothing else" 2 "^basefs: Can't load library: $work/missing\.so$" \
    stat_with "$java" $access -Dcom.quenvira.basefs.library="$work/missing.so" -Djava.library.path="${library%/*}"
expect "java.library.path when the jar's copy cannot be written" 0 '^  File: /etc/hostname$' \
    stat_with "$java" $access -Djava.library.path="${library%/*}" -Dcom.quenvira.basefs.tmpdir=big/under-a-file
expect "an unwritable directory for the copy names the property" 2 \
    "^basefs: cannot load libbasefs\.so: the jar's copy cannot be written to $work/big/under-a-file \(Not a directory\); set -Dcom\.quenvira\.basefs\.tmpdir=DIR .*; java\.library\.path: no basefs in java\.library\.path" \
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
arch_of() { "$1" -XshowSettings:properties -version 2>&1 | sed -n 's/^ *os\.arch = //p'; }
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

# A decoy libbasefs.so in the current directory, which an empty element of
# LD_LIBRARY_PATH puts on java.library.path: the jar's copy comes first, so
# the decoy's constructor never runs. The decoy is built for this machine.
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
    # The copy is created once, exclusively, in a directory of mode 0700, and
    # mapped from there: nothing is unlinked and created again in between.
    if command -v strace > /dev/null; then
        sh -c 'umask 002; exec strace -f -qq -o trace -e trace=mkdir,openat,unlink,unlinkat,rename,renameat,renameat2 "$@"' \
            sh "$java" $access -Djava.io.tmpdir="$work/shared" -cp "$jar" com.quenvira.tools.BaseFs stat /etc/hostname > /dev/null 2>&1
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
    else
        echo "SKIPPED: no strace here for the trace of the copy"
    fi
else
    echo "SKIPPED: no compiler for a decoy library of the processor java runs as"
fi

# JDK 24 and later restrict native access: the first JDK at hand that has the
# restriction (the build's own, else Temurin 25) must load quietly with the
# flag or the jar's manifest, and fail in one line when access is denied.
# Temurin 25 only where it runs on the processor the build made the library for
# (not for a cross build).
restricted=
for candidate in "$java" /usr/lib/jvm/temurin-25-jdk-amd64/bin/java; do
    if [ -x "$candidate" ] && "$candidate" --illegal-native-access=deny -version > /dev/null 2>&1 &&
        [ "$(arch_of "$candidate")" = "$build_arch" ]; then
        restricted=$candidate
        break
    fi
done
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

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
