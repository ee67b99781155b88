#!/bin/sh
# The Debian packages as a user meets them: built by cpack in the build tree,
# their file lists checked, then installed with apt into throwaway copies of
# Debian 11 and unstable roots. In each root: the tool, a plain Java program
# on the jars of /usr/share/java with the packaged library found in the
# multiarch jni directory, and an offline Maven build of a consumer project against
# /usr/share/maven-repo, which then runs.
# Usage: packages_test.sh BUILD_DIR [SUITE...]   (as root; default suites: bullseye sid;
#        "none" checks the packages' file lists alone, as for a cross build)
# The roots are kept in BASEFS_DEBIAN_ROOTS (default /var/cache/basefs-roots)
# and reused while present; each test runs on an overlay of its root.
set -eu
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
# Under umask 000: the packaged modes must not follow the packager's umask.
(cd "$build" && rm -f ./*.deb && umask 000 && cpack -G DEB > cpack.log 2>&1) || { cat "$build/cpack.log"; exit 1; }
jni_deb=$(ls "$build"/libbasefs-jni_"$version"_*.deb)
java_deb=$build/libbasefs-java_${version}_all.deb
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

test_root() {
    suite=$1
    "$here/make-root.sh" "$suite" "$roots/$suite"
    work=$(mktemp -d "${TMPDIR:-/tmp}/basefs-root-XXXXXX")
    merged=$work/merged
    mkdir "$work/upper" "$work/work" "$merged"
    mount -t overlay overlay -o "lowerdir=$roots/$suite,upperdir=$work/upper,workdir=$work/work" "$merged"
    mount -t proc proc "$merged/proc"
    mount --bind /dev "$merged/dev"
    mount --bind /dev/pts "$merged/dev/pts"
    trap 'umount "$merged/dev/pts" "$merged/dev" "$merged/proc" "$merged" 2>/dev/null; rm -rf "$work"' EXIT

    mkdir "$merged/tmp/basefs"
    cp "$jni_deb" "$java_deb" "$here/Probe.java" "$merged/tmp/basefs/"
    cp -r "$here/consumer" "$merged/tmp/basefs/consumer"
    # Everything the packages depend on is in the root already: apt installs offline.
    check "$suite: apt installs the packages" run_in "$merged" \
        "apt-get install -y --no-install-recommends /tmp/basefs/libbasefs-jni_*.deb /tmp/basefs/libbasefs-java_*.deb"
    check "$suite: basefs ls -l /etc" contains ls ' passwd$' "$(run_in "$merged" 'basefs ls -l /etc' 2>&1 || true)"

    # No temp copy is possible (the directory for it does not exist, and basefs.jar
    # carries no library): the jars of /usr/share/java load the packaged library.
    jars=/usr/share/java/basefs.jar:/usr/share/java/basefs-host.jar:/usr/share/java/basefs-eclipse-standin.jar
    probe=$(run_in "$merged" "cd /tmp/basefs && javac -d . -cp $jars Probe.java &&
        java --enable-native-access=ALL-UNNAMED -Dcom.quenvira.basefs.tmpdir=/nonexistent -cp .:$jars Probe /etc/" 2>&1 || true)
    check "$suite: a plain Java program lists /etc" contains probe '^entries [1-9]' "$probe"
    check "$suite: it maps the packaged library" contains probe "^mapped /usr/lib/$triplet/jni/libbasefs\.so$" "$probe"

    plugins="-Dbasefs.version=$version"
    for plugin in resources compiler surefire jar; do
        plugins="$plugins -D$plugin.version=$(plugin_version "$merged" "maven-$plugin-plugin")"
    done
    consumer=$(run_in "$merged" "cd /tmp/basefs/consumer &&
        mvn -o -q -B -s /etc/maven/settings-debian.xml $plugins package &&
        repo=/usr/share/maven-repo/com/quenvira &&
        java --enable-native-access=ALL-UNNAMED -cp target/basefs-consumer-1.jar:\$repo/basefs/$version/basefs-$version.jar:\$repo/basefs-host/$version/basefs-host-$version.jar:\$repo/basefs-eclipse-standin/$version/basefs-eclipse-standin-$version.jar \
            com.example.consumer.Main /etc/ /etc/hostname" 2>&1 || true)
    check "$suite: an offline Maven build of a consumer compiles and runs" contains maven '^entries [1-9][0-9]*, size ' "$consumer"

    umount "$merged/dev/pts" "$merged/dev" "$merged/proc" "$merged"
    rm -rf "$work"
    trap - EXIT
}

if [ "$suites" != none ]; then
    for suite in $suites; do
        test_root "$suite"
    done
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
