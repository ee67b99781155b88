#!/bin/sh
# The Debian packages as a user meets them: built by cpack in the build tree,
# their file lists checked, then installed with apt into throwaway copies of
# Debian 11 and unstable roots. In each root: the tool, a plain Java program
# on the jars of /usr/share/java with the packaged library found in the
# multiarch jni directory, and an offline Maven build of a consumer project against
# /usr/share/maven-repo, which then runs.
# A cross build's libbasefs-jni goes into a root of its architecture, run
# through qemu (SUITE-ARCH, such as bookworm-arm64), beside the libbasefs-java
# of the tree named by --java-from: the one package for every architecture.
# There the tool and the plain Java program (compiled here) run; Maven does not.
# Usage: packages_test.sh [--java-from BUILD_DIR] BUILD_DIR [SUITE[-ARCH]...]
#        (as root; default suites: bullseye sid; "none" checks the packages'
#        file lists alone)
# The roots are kept in BASEFS_DEBIAN_ROOTS (default /var/cache/basefs-roots)
# and reused while present; each test runs on an overlay of its root.
set -eu
java_build=
if [ "$1" = --java-from ]; then
    java_build=$(readlink -f "$2")
    shift 2
fi
build=$(readlink -f "$1")
shift
suites=${*:-bullseye sid}
here=$(dirname "$(readlink -f "$0")")
roots=${BASEFS_DEBIAN_ROOTS:-/var/cache/basefs-roots}
passed=0
failed=0

check() {
    name=$1
    shift
    if output=$("$@" 2>&1); then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAILED: %s\n%s\n' "$name" "$output"
    fi
}

# contains NAME PATTERN TEXT: TEXT has a line matching the extended regular expression.
contains() {
    printf '%s\n' "$3" | grep -Eq -- "$2" || { printf 'no line matches %s in:\n%s\n' "$2" "$3"; return 1; }
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
# make_packages DIR: the packages of the build tree DIR.
# Under umask 000: the packaged modes must not follow the packager's umask.
make_packages() {
    (cd "$1" && rm -f ./*.deb && umask 000 && cpack -G DEB > cpack.log 2>&1) || { cat "$1/cpack.log"; exit 1; }
}
make_packages "$build"
jni_deb=$(ls "$build"/libbasefs-jni_"$version"_*.deb)
java_deb=$build/libbasefs-java_${version}_all.deb
if [ -n "$java_build" ]; then
    make_packages "$java_build"
    own_java_deb=$java_deb
    java_deb=$java_build/libbasefs-java_${version}_all.deb
fi
arch=$(dpkg-deb -f "$jni_deb" Architecture)
case $arch in
amd64) triplet=x86_64-linux-gnu ;;
arm64) triplet=aarch64-linux-gnu ;;
*) echo "packages_test: no triplet known for $arch" >&2; exit 1 ;;
esac

# The layout of Debian's Java policy.
jni_files=$(dpkg-deb -c "$jni_deb")
java_files=$(dpkg-deb -c "$java_deb")
check "libbasefs-jni holds the JNI library" contains jni "\./usr/lib/$triplet/jni/libbasefs\.so$" "$jni_files"
for jar in basefs basefs-host basefs-eclipse-standin; do
    check "libbasefs-java: $jar-$version.jar" contains java "\./usr/share/java/$jar-$version\.jar$" "$java_files"
    check "libbasefs-java: $jar.jar links to it" contains java "\./usr/share/java/$jar\.jar -> $jar-$version\.jar$" "$java_files"
    check "libbasefs-java: the pom of $jar" contains java \
        "\./usr/share/maven-repo/com/quenvira/$jar/$version/$jar-$version\.pom$" "$java_files"
    check "libbasefs-java: the Maven jar of $jar" contains java \
        "\./usr/share/maven-repo/com/quenvira/$jar/$version/$jar-$version\.jar -> " "$java_files"
done
check "libbasefs-java: the tool" contains java '\./usr/bin/basefs$' "$java_files"
check "libbasefs-java: the licence" contains java '\./usr/share/doc/libbasefs-java/copyright$' "$java_files"
check "libbasefs-jni: the licence" contains jni '\./usr/share/doc/libbasefs-jni/copyright$' "$jni_files"
check "libbasefs-java depends on the JNI library and a JRE" contains depends \
    "libbasefs-jni \(= $version\).*java17-runtime-headless" "$(dpkg-deb -f "$java_deb" Depends)"
check "libbasefs-java is for every architecture" contains arch '^all$' "$(dpkg-deb -f "$java_deb" Architecture)"

# Nothing in libbasefs-java names one architecture: the launcher no library
# path, and the tool's Class-Path the natives jars of all alike, the same
# whichever tree built it.
unpacked=$(mktemp -d "${TMPDIR:-/tmp}/basefs-deb-XXXXXX")
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$java_deb" "$unpacked/java"
# names_no_architecture FILE: no line of FILE but a comment names an architecture.
names_no_architecture() {
    ! grep -n -v '^ *#' "$1" | grep -E 'x86_64|aarch64|amd64|arm64'
}
check "libbasefs-java: the launcher names no architecture" names_no_architecture "$unpacked/java/usr/bin/basefs"
# tool_manifest DIR: the manifest of the tool's jar unpacked in DIR, less the JDK that made it.
tool_manifest() {
    (cd "$1" && jar xf "usr/share/java/basefs-tool-$version.jar" META-INF/MANIFEST.MF) &&
        grep -v '^Created-By:' "$1/META-INF/MANIFEST.MF"
}
if [ -n "$java_build" ]; then
    dpkg-deb -x "$own_java_deb" "$unpacked/own"
    check "libbasefs-java: the same launcher from either tree" cmp "$unpacked/java/usr/bin/basefs" "$unpacked/own/usr/bin/basefs"
    check "libbasefs-java: the same manifest of the tool's jar from either tree" \
        test "$(tool_manifest "$unpacked/java")" = "$(tool_manifest "$unpacked/own")"
fi

# writable_entries LISTING: the entries of a `dpkg-deb -c` listing, links aside,
# that group or others may write.
writable_entries() {
    ! printf '%s\n' "$1" | awk '$1 !~ /^l/ && (substr($1, 6, 1) == "w" || substr($1, 9, 1) == "w")' | grep .
}
check "libbasefs-jni: no entry writable by group or others" writable_entries "$jni_files"
check "libbasefs-java: no entry writable by group or others" writable_entries "$java_files"

# run_in ROOT COMMAND: runs a shell command inside the root.
run_in() {
    chroot "$1" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 sh -c "$2"
}

# The newest version of a Maven plugin that the root's repository holds.
plugin_version() {
    ls "$1/usr/share/maven-repo/org/apache/maven/plugins/$2" | grep -E '^[0-9]' | sort -V | tail -n 1
}

# The host's own packages go into a root of its own architecture.
host_arch=$(dpkg --print-architecture)

test_root() {
    name=$1
    case $name in
    *-*) suite=${name%-*} root_arch=${name##*-} ;;
    *) suite=$name root_arch=$host_arch ;;
    esac
    if [ "$root_arch" != "$arch" ]; then
        echo "packages_test: the $name root is no root for the $arch libbasefs-jni" >&2
        exit 1
    fi
    "$here/make-root.sh" "$suite" "$roots/$name" "$root_arch"
    work=$(mktemp -d "${TMPDIR:-/tmp}/basefs-root-XXXXXX")
    merged=$work/merged
    mkdir "$work/upper" "$work/work" "$merged"
    mount -t overlay overlay -o "lowerdir=$roots/$name,upperdir=$work/upper,workdir=$work/work" "$merged"
    mount -t proc proc "$merged/proc"
    mount --bind /dev "$merged/dev"
    mount --bind /dev/pts "$merged/dev/pts"
    trap 'umount "$merged/dev/pts" "$merged/dev" "$merged/proc" "$merged" 2>/dev/null; rm -rf "$work" "$unpacked"' EXIT

    mkdir "$merged/tmp/basefs"
    cp "$jni_deb" "$java_deb" "$here/Probe.java" "$merged/tmp/basefs/"
    cp -r "$here/consumer" "$merged/tmp/basefs/consumer"
    # Everything the packages depend on is in the root already: apt installs offline.
    check "$name: apt installs the packages" run_in "$merged" \
        "apt-get install -y --no-install-recommends /tmp/basefs/libbasefs-jni_*.deb /tmp/basefs/libbasefs-java_*.deb"
    check "$name: basefs ls -l /etc" contains ls ' passwd$' "$(run_in "$merged" 'basefs ls -l /etc' 2>&1 || true)"
    # Entries examined by helper threads (forced from the second entry): the
    # thread functions bind to the versions this root's C library has.
    check "$name: basefs ls of 300 entries with helper threads" contains many '^300$' "$(run_in "$merged" \
        'mkdir /tmp/many && cd /tmp/many && i=0 && while [ $i -lt 300 ]; do : > f$i; i=$((i+1)); done &&
         BASEFS_LIST_EXAMINERS=4 basefs ls /tmp/many | wc -l' 2>&1 || true)"

    # No temp copy is possible (the directory for it does not exist, and basefs.jar
    # carries no library): the jars of /usr/share/java load the packaged library.
    # A root of another architecture has a JRE alone: the program is compiled here.
    jars=/usr/share/java/basefs.jar:/usr/share/java/basefs-host.jar:/usr/share/java/basefs-eclipse-standin.jar
    compile="javac -d . -cp $jars Probe.java &&"
    if [ "$root_arch" != "$host_arch" ]; then
        compile=
        check "$name: the plain Java program compiles against the packaged jars" javac --release 17 \
            -d "$merged/tmp/basefs" -cp "$merged$(printf '%s' "$jars" | sed "s|:|:$merged|g")" "$here/Probe.java"
    fi
    probe=$(run_in "$merged" "cd /tmp/basefs && $compile
        java --enable-native-access=ALL-UNNAMED -Dcom.quenvira.basefs.tmpdir=/nonexistent -cp .:$jars Probe /etc/" 2>&1 || true)
    check "$name: a plain Java program lists /etc" contains probe '^entries [1-9]' "$probe"
    check "$name: it maps the packaged library" contains probe "^mapped /usr/lib/$triplet/jni/libbasefs\.so$" "$probe"
    if [ "$root_arch" != "$host_arch" ]; then
        finish_root
        return
    fi

    plugins="-Dbasefs.version=$version"
    for plugin in resources compiler surefire jar; do
        plugins="$plugins -D$plugin.version=$(plugin_version "$merged" "maven-$plugin-plugin")"
    done
    consumer=$(run_in "$merged" "cd /tmp/basefs/consumer &&
        mvn -o -q -B -s /etc/maven/settings-debian.xml $plugins package &&
        repo=/usr/share/maven-repo/com/quenvira &&
        java --enable-native-access=ALL-UNNAMED -cp target/basefs-consumer-1.jar:\$repo/basefs/$version/basefs-$version.jar:\$repo/basefs-host/$version/basefs-host-$version.jar:\$repo/basefs-eclipse-standin/$version/basefs-eclipse-standin-$version.jar \
            com.example.consumer.Main /etc/ /etc/hostname" 2>&1 || true)
    check "$name: an offline Maven build of a consumer compiles and runs" contains maven '^entries [1-9][0-9]*, size ' "$consumer"
    finish_root
}

finish_root() {
    umount "$merged/dev/pts" "$merged/dev" "$merged/proc" "$merged"
    rm -rf "$work"
    trap 'rm -rf "$unpacked"' EXIT
}

if [ "$suites" != none ]; then
    for root_name in $suites; do
        test_root "$root_name"
    done
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
