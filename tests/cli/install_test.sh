#!/bin/sh
# Installs the build into a fresh prefix and runs the installed launcher, which
# must find the installed library and jar, with JAVA the first java on the PATH
# (a cross build's runs the emulated JVM). Usage: install_test.sh BUILD_DIR JAVA
set -eu
prefix=$(mktemp -d "${TMPDIR:-/tmp}/basefs-install-XXXXXX")
java_dir=$(mktemp -d "${TMPDIR:-/tmp}/basefs-install-java-XXXXXX")
trap 'rm -rf "$prefix" "$java_dir"' EXIT
ln -s "$(readlink -f "$2")" "$java_dir/java"
# Under umask 000: the installed modes must not follow the installer's umask.
(umask 000 && cmake --install "$1" --prefix "$prefix" > /dev/null)
writable=$(find "$prefix" -mindepth 1 ! -type l -perm /022)
[ -z "$writable" ] || { echo "writable by group or others after install:"; echo "$writable"; exit 1; }
# Debian's Java layout: the JNI library in lib/TRIPLET/jni, versioned jars with
# plain-named links (which the tool's Class-Path names), poms and jars in a
# Maven repository.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt")
library=$(cd "$prefix" && ls lib/*-linux-gnu/jni/libbasefs.so | head -n 1)
natives=$(cd "$prefix" && ls share/java/basefs-natives-linux-*.jar | head -n 1)
platform=${natives#share/java/basefs-natives-}
platform=${platform%.jar}
maven=share/maven-repo/com/quenvira
files="bin/basefs $library $natives share/java/basefs-tool.jar include/FileSystemCommon.h
    $maven/basefs-natives/$version/basefs-natives-$version.pom
    $maven/basefs-natives/$version/basefs-natives-$version-$platform.jar"
for jar in basefs basefs-host basefs-eclipse-standin; do
    files="$files share/java/$jar-$version.jar share/java/$jar.jar
        $maven/$jar/$version/$jar-$version.jar $maven/$jar/$version/$jar-$version.pom"
    test "$(readlink "$prefix/share/java/$jar.jar")" = "$jar-$version.jar" ||
        { echo "share/java/$jar.jar is no link to $jar-$version.jar"; exit 1; }
done
for file in $files; do
    test -f "$prefix/$file" || { echo "missing after install: $file"; exit 1; }
done
grep -q "<version>$version</version>" "$prefix/$maven/basefs/$version/basefs-$version.pom" ||
    { echo "the pom of basefs names no version $version"; exit 1; }
printf 'installed' > "$prefix/probe"
output=$(env -u JAVA_HOME PATH="$java_dir:$PATH" "$prefix/bin/basefs" ls -l "$prefix")
echo "$output"
echo "$output" | grep -q ' probe$'
echo "2 passed, 0 failed"
