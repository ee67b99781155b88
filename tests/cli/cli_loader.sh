# Where the library comes from, started by a plain java with the tool's jar.
# Sourced by cli_test.sh, in order.
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
elif mount -t tmpfs -o noexec,size=16m tmpfs noexec 2>/dev/null; then
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
