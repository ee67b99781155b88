#!/bin/sh
# Installs the build into a fresh prefix and runs the installed launcher, which
# must find the installed library and jar, with JAVA the first java on the PATH
# (a cross build's runs the emulated JVM); checks that the Maven repository's
# sources and javadoc jars hold what they should and, where Maven and Debian's
# dependency plugin are installed, that an offline Maven resolves them by classifier.
# Usage: install_test.sh BUILD_DIR JAR_TOOL JAVA
set -eu
jar=$2
prefix=$(mktemp -d "${TMPDIR:-/tmp}/basefs-install-XXXXXX")
work=$(mktemp -d "${TMPDIR:-/tmp}/basefs-install-work-XXXXXX")
java_dir=$(mktemp -d "${TMPDIR:-/tmp}/basefs-install-java-XXXXXX")
trap 'rm -rf "$prefix" "$work" "$java_dir"' EXIT
ln -s "$(readlink -f "$3")" "$java_dir/java"
# Under umask 000: the installed modes must not follow the installer's umask.
(umask 000 && cmake --install "$1" --prefix "$prefix" > /dev/null)
writable=$(find "$prefix" -mindepth 1 ! -type l -perm /022)
[ -z "$writable" ] || { echo "writable by group or others after install:"; echo "$writable"; exit 1; }
# Debian's Java layout: the JNI library in lib/TRIPLET/jni, versioned jars with
# plain-named links (which the tool's Class-Path names), poms and jars in a
# Maven repository, with each artifact's sources and javadoc jars.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt")
library=$(cd "$prefix" && ls lib/*-linux-gnu/jni/libbasefs.so | head -n 1)
natives=$(cd "$prefix" && ls share/java/basefs-natives-linux-*.jar | head -n 1)
platform=${natives#share/java/basefs-natives-}
platform=${platform%.jar}
maven=share/maven-repo/com/quenvira
files="bin/basefs $library $natives share/java/basefs-tool.jar include/FileSystemCommon.h
    $maven/basefs-natives/$version/basefs-natives-$version.pom
    $maven/basefs-natives/$version/basefs-natives-$version-$platform.jar"
for name in basefs basefs-host basefs-eclipse-standin; do
    files="$files share/java/$name-$version.jar share/java/$name.jar
        $maven/$name/$version/$name-$version.jar $maven/$name/$version/$name-$version.pom
        $maven/$name/$version/$name-$version-sources.jar $maven/$name/$version/$name-$version-javadoc.jar"
    test "$(readlink "$prefix/share/java/$name.jar")" = "$name-$version.jar" ||
        { echo "share/java/$name.jar is no link to $name-$version.jar"; exit 1; }
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

# api_jars LAYOUT DIR: the sources and javadoc jars under DIR, in a Maven
# repository (LAYOUT "repository") or side by side as Maven copies them
# ("flat"), hold each artifact's sources and the pages of its public classes,
# no class file, and no page of the loader, which is no public API.
api_jars() {
    while read -r name source page; do
        at=$2
        [ "$1" = flat ] || at=$2/$name/$version
        "$jar" tf "$at/$name-$version-sources.jar" > "$work/list"
        grep -qx "$source" "$work/list" || { echo "$name-$version-sources.jar holds no $source"; return 1; }
        ! grep -q '\.class$' "$work/list" || { echo "$name-$version-sources.jar holds class files"; return 1; }
        "$jar" tf "$at/$name-$version-javadoc.jar" > "$work/list"
        grep -qx "$page" "$work/list" || { echo "$name-$version-javadoc.jar holds no $page"; return 1; }
        ! grep -q 'NativeLibraryLoader' "$work/list" || { echo "$name-$version-javadoc.jar documents the loader"; return 1; }
    done <<TABLE
basefs com/quenvira/internal/io/BaseFileSystem.java com/quenvira/internal/io/BaseFileSystem.html
basefs-host com/quenvira/io/FileInfo.java com/quenvira/io/FileInfo.html
basefs-eclipse-standin org/eclipse/core/runtime/IProgressMonitor.java org/eclipse/core/runtime/IProgressMonitor.html
TABLE
}
api_jars repository "$prefix/$maven"

# A consumer's offline Maven takes the sources and javadoc jars by classifier,
# from a local repository made of links: the system's /usr/share/maven-repo
# (the plugin and what it needs) and the installed com/quenvira.
system_repo=/usr/share/maven-repo
plugin=$(cd "$system_repo/org/apache/maven/plugins/maven-dependency-plugin" 2>/dev/null &&
    ls -d */maven-dependency-plugin-*.jar | sed 's|/.*||' | sort -V | tail -n 1 || true)
if ! command -v mvn > /dev/null || [ -z "$plugin" ]; then
    echo "skipped: resolving by classifier needs mvn and Debian's libmaven-dependency-plugin-java"
    echo "3 passed, 0 failed, 1 skipped"
    exit 0
fi
repo=$work/repo
mkdir -p "$repo/com"
for entry in "$system_repo"/*; do
    [ "$entry" = "$system_repo/com" ] || ln -s "$entry" "$repo/"
done
for entry in "$system_repo"/com/*; do
    [ "$entry" = "$system_repo/com/quenvira" ] || ln -s "$entry" "$repo/com/"
done
ln -s "$prefix/$maven" "$repo/com/quenvira"
mkdir "$work/consumer"
{
    echo '<project xmlns="http://maven.apache.org/POM/4.0.0"><modelVersion>4.0.0</modelVersion>'
    echo '<groupId>com.example</groupId><artifactId>basefs-api-consumer</artifactId><version>1</version>'
    echo '<packaging>pom</packaging><dependencies>'
    for name in basefs basefs-host basefs-eclipse-standin; do
        for classifier in sources javadoc; do
            echo "<dependency><groupId>com.quenvira</groupId><artifactId>$name</artifactId>"
            echo "<version>$version</version><classifier>$classifier</classifier></dependency>"
        done
    done
    echo '</dependencies></project>'
} > "$work/consumer/pom.xml"
(cd "$work/consumer" && mvn -o -q -B -Dmaven.repo.local="$repo" \
    "org.apache.maven.plugins:maven-dependency-plugin:$plugin:copy-dependencies" \
    -DoutputDirectory="$work/resolved") > "$work/mvn.log" 2>&1 ||
    { cat "$work/mvn.log"; echo "an offline Maven resolves no sources and javadoc jars by classifier"; exit 1; }
api_jars flat "$work/resolved"
echo "4 passed, 0 failed"
