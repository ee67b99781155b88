#!/bin/sh
# Which java the launchers run: the build tree's basefs and basefs-bench, and
# the basefs installed into a fresh prefix. JAVA_HOME's java when JAVA_HOME is
# set, else the PATH's, else /usr/bin/java; a runtime older than 17, or none,
# refused with one line and status 2 before any JVM starts. The runtimes are
# stand-ins: a JAVA_HOME whose bin/java notes that it ran, then runs the real
# one (or, for an old version, nothing).
# Usage: launcher_test.sh BUILD_DIR JAVA
set -u
build=$(readlink -f "$1")
real_java=$(readlink -f "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/basefs-launcher-XXXXXX")
trap 'rm -rf "$work"' EXIT
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
advice="set JAVA_HOME or put java 17 or later on the PATH"
passed=0
failed=0

# runtime NAME RELEASE_VERSION [VERSION_LINE]: a runtime in $work/NAME whose
# release file gives RELEASE_VERSION (none when empty) and whose java notes
# each start in $work/NAME.ran; with VERSION_LINE it prints that to -version
# and runs nothing, else it runs the real java.
runtime() {
    mkdir -p "$work/$1/bin"
    [ -z "$2" ] || printf 'IMPLEMENTOR="test"\nJAVA_VERSION="%s"\n' "$2" > "$work/$1/release"
    if [ $# -gt 2 ]; then
        run="echo '$3' >&2"
    else
        run="exec '$real_java' \"\$@\""
    fi
    printf '#!/bin/sh\necho "$*" >> "%s"\n%s\n' "$work/$1.ran" "$run" > "$work/$1/bin/java"
    chmod 755 "$work/$1/bin/java"
}
runtime current "$(sed -n 's/^JAVA_VERSION="\(.*\)"$/\1/p' "${real_java%/bin/java}/release")"
runtime on-path "$(sed -n 's/^JAVA_VERSION="\(.*\)"$/\1/p' "${real_java%/bin/java}/release")"
runtime old 11.0.2
runtime ancient 1.8.0_402
runtime old-without-release "" 'openjdk version "11.0.22" 2024-01-16'
runtime current-without-release ""
mkdir "$work/none"
# A PATH with the launchers' tools but no java: /usr/bin/java is the last resort.
mkdir "$work/tools"
for tool in readlink dirname uname sed; do ln -s "$(command -v "$tool")" "$work/tools/$tool"; done

# expect NAME STATUS OUTPUT RAN COMMAND...: COMMAND exits with STATUS and
# prints exactly OUTPUT, and the stand-in RAN (or none, for "-") was started.
expect() {
    name=$1 status=$2 expected=$3 ran=$4
    shift 4
    rm -f "$work"/*.ran
    output=$("$@" 2>&1)
    actual=$?
    started=$(cd "$work" && ls -- *.ran 2>/dev/null | sed 's/\.ran$//')
    if [ "$actual" -eq "$status" ] && [ "$output" = "$expected" ] && [ "$started" = "${ran#-}" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAILED: %s (status %s, expected %s; started: %s)\nexpected:\n%s\ngot:\n%s\n' \
            "$name" "$actual" "$status" "${started:-nothing}" "$expected" "$output"
    fi
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" > /dev/null || { echo "cannot install into $prefix"; exit 2; }
version_output=$(printf 'basefs %s\nlibrary %s' "$version" "$version")
for launcher in "$build/basefs" "$prefix/bin/basefs"; do
    where=${launcher#"$work"/}
    where=${where#"$build"/}
    expect "$where: JAVA_HOME's java" 0 "$version_output" current \
        env JAVA_HOME="$work/current" PATH="$work/on-path/bin:$PATH" "$launcher" --version
    expect "$where: JAVA_HOME's java without a release file, asked once for its version" 0 "$version_output" \
        current-without-release env JAVA_HOME="$work/current-without-release" "$launcher" --version
    expect "$where: the PATH's java without JAVA_HOME" 0 "$version_output" on-path \
        env -u JAVA_HOME PATH="$work/on-path/bin:$PATH" "$launcher" --version
    expect "$where: /usr/bin/java without either" 0 "$version_output" - \
        env -u JAVA_HOME PATH="$work/tools" "$launcher" --version
    expect "$where: an empty JAVA_HOME counts as unset" 0 "$version_output" on-path \
        env JAVA_HOME= PATH="$work/on-path/bin:$PATH" "$launcher" --version
done
for launcher in "$build/basefs" "$prefix/bin/basefs" "$build/basefs-bench"; do
    program=${launcher##*/}
    where=${launcher#"$work"/}
    where=${where#"$build"/}
    expect "$where: a JAVA_HOME without java is no fallback to the PATH" 2 \
        "$program: no Java runtime found; $advice" - \
        env JAVA_HOME="$work/none" PATH="$work/on-path/bin:$PATH" "$launcher" --version
    expect "$where: Java 11 refused before it starts" 2 \
        "$program: the Java runtime found is version 11, older than 17; $advice" - \
        env JAVA_HOME="$work/old" "$launcher" --version
    expect "$where: Java 8 (1.8) refused before it starts" 2 \
        "$program: the Java runtime found is version 8, older than 17; $advice" - \
        env JAVA_HOME="$work/ancient" "$launcher" --version
    expect "$where: Java 11 without a release file refused after -version alone" 2 \
        "$program: the Java runtime found is version 11, older than 17; $advice" old-without-release \
        env JAVA_HOME="$work/old-without-release" "$launcher" --version
    expect "$where: an old java on the PATH refused" 2 \
        "$program: the Java runtime found is version 11, older than 17; $advice" - \
        env -u JAVA_HOME PATH="$work/old/bin:$PATH" "$launcher" --version
done

# Outside /usr the installed launcher names the library of this processor,
# lib/$(uname -m)-linux-gnu/jni: one that is no library fails to load there.
library=$prefix/lib/$(uname -m)-linux-gnu/jni/libbasefs.so
echo 'not a library' > "$library"
output=$("$prefix/bin/basefs" stat /etc/hostname 2>&1)
if printf '%s\n' "$output" | grep -q -F "$library"; then
    passed=$((passed + 1))
else
    failed=$((failed + 1))
    printf 'FAILED: the installed launcher loads %s\ngot:\n%s\n' "$library" "$output"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
