#!/bin/sh
# What each jar of the build holds and what its manifest says: basefs.jar only
# com.quenvira.internal.io; the stand-ins in jars of their own; every manifest,
# `basefs --version` and the library file carry the project's version; each
# jar names its automatic module.
# Usage: packaging_test.sh BUILD_DIR VERSION JAR_TOOL LIBRARY NATIVES_JAR [ARCH=LIBRARY...]
#        (ARCH=LIBRARY: the libraries of other trees that this tree's natives jars carry)
set -u
build=$(readlink -f "$1") version=$2 jar=$3 library=$(readlink -f "$4") own_natives=$(readlink -f "$5")
shift 5
work=$(mktemp -d "${TMPDIR:-/tmp}/basefs-packaging-XXXXXX")
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

# check NAME COMMAND...: COMMAND succeeds.
check() {
    name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $name"
    fi
}

# read JAR: lists JAR's files (directories left out) into $work/JAR.list and
# its manifest's main section, continuation lines joined, into $work/JAR.mf.
read_jar() {
    "$jar" tf "$build/$1" | grep -v '/$' > "$work/$1.list"
    rm -rf "$work/x" && mkdir "$work/x" && (cd "$work/x" && "$jar" xf "$build/$1" META-INF/MANIFEST.MF) &&
        tr -d '\r' < "$work/x/META-INF/MANIFEST.MF" | awk '/^ / { line = line substr($0, 2); next }
            { if (NR > 1) print line; line = $0 } END { print line }' | sed '/^$/,$d' > "$work/$1.mf"
}
entries() { cat "$work/$1.list"; }
manifest() { cat "$work/$1.mf"; }
# header JAR NAME: the value of NAME in JAR's manifest.
header() { manifest "$1" | sed -n "s/^$2: //p"; }
# only JAR PATTERN: every entry of JAR but the manifest matches PATTERN.
only() { [ -z "$(entries "$1" | grep -v -x 'META-INF/MANIFEST.MF' | grep -v -E "$2")" ]; }
# is HEADER JAR VALUE: JAR's manifest gives HEADER exactly VALUE.
is() { [ "$(header "$2" "$1")" = "$3" ] || { echo "$2: $1 is '$(header "$2" "$1")', not '$3'"; false; }; }
# matches HEADER JAR PATTERN: HEADER's value matches the extended regular expression PATTERN.
matches() { header "$2" "$1" | grep -q -E -- "$3" || { echo "$2: $1 is '$(header "$2" "$1")'"; false; }; }

cd "$build" || exit 2
natives=$(ls basefs-natives-*.jar)
all="basefs.jar basefs-host.jar basefs-eclipse-standin.jar basefs-tool.jar basefs-bench.jar $natives"
for j in $all; do
    read_jar "$j" || { echo "cannot read $j"; exit 2; }
done

check "basefs.jar holds com.quenvira.internal.io and nothing else" \
    only basefs.jar '^com/quenvira/internal/io/[A-Za-z0-9$]+\.class$'
check "basefs.jar holds BaseFileSystem and the loader" \
    sh -c "grep -qx com/quenvira/internal/io/BaseFileSystem.class '$work/basefs.jar.list' &&
        grep -qx com/quenvira/internal/io/NativeLibraryLoader.class '$work/basefs.jar.list'"
check "basefs-host.jar holds com.quenvira.io and com.quenvira.interfaces only" \
    only basefs-host.jar '^com/quenvira/(io|interfaces)/[A-Za-z0-9$]+\.class$'
check "basefs-eclipse-standin.jar holds IProgressMonitor only" \
    only basefs-eclipse-standin.jar '^org/eclipse/core/runtime/IProgressMonitor\.class$'
check "basefs-tool.jar holds the tool only" only basefs-tool.jar '^com/quenvira/tools/[A-Za-z0-9$]+\.class$'
check "basefs-bench.jar holds the benchmark only" only basefs-bench.jar '^com/quenvira/bench/[A-Za-z0-9$]+\.class$'
for n in $natives; do
    arch=${n#basefs-natives-linux-}
    arch=${arch%.jar}
    check "$n holds its library only" only "$n" "^com/quenvira/basefs/native/linux-$arch/libbasefs\.so$"
    check "$n: fragment com.quenvira.basefs.linux.$arch" is Bundle-SymbolicName "$n" "com.quenvira.basefs.linux.$arch"
    check "$n: of com.quenvira.basefs $version" is Fragment-Host "$n" "com.quenvira.basefs;bundle-version=\"[$version,$version]\""
    check "$n: Bundle-NativeCode" is Bundle-NativeCode "$n" \
        "com/quenvira/basefs/native/linux-$arch/libbasefs.so;osname=Linux;processor=$arch"
    check "$n: Eclipse-PlatformFilter" is Eclipse-PlatformFilter "$n" "(&(osgi.os=linux)(osgi.arch=$arch))"
    check "$n: module com.quenvira.basefs.linux.$arch" is Automatic-Module-Name "$n" "com.quenvira.basefs.linux.$arch"
done
check "the natives jar of this tree carries this tree's library" \
    sh -c "mkdir '$work/own' && cd '$work/own' && '$jar' xf '$own_natives' &&
        cmp -s com/quenvira/basefs/native/linux-*/libbasefs.so '$library'"
for entry in "$@"; do
    arch=${entry%%=*}
    check "basefs-natives-linux-$arch.jar carries ${entry#*=}" \
        sh -c "mkdir '$work/$arch' && cd '$work/$arch' && '$jar' xf '$build/basefs-natives-linux-$arch.jar' &&
            cmp -s com/quenvira/basefs/native/linux-$arch/libbasefs.so '${entry#*=}'"
done
check "the stand-in of Eclipse's monitor is in no other jar" \
    sh -c "cd '$work' && ! grep -l '^org/eclipse/' *.list | grep -v -x basefs-eclipse-standin.jar.list"

for j in $all; do
    check "$j: Implementation-Version $version" is Implementation-Version "$j" "$version"
    check "$j: Implementation-Title" matches Implementation-Title "$j" '^com\.quenvira\.basefs'
done
check "the stand-in of Eclipse's monitor is no bundle" is Bundle-SymbolicName basefs-eclipse-standin.jar ""
for j in basefs.jar basefs-host.jar $natives; do
    check "$j: Bundle-Version $version" is Bundle-Version "$j" "$version"
    check "$j: Bundle-ManifestVersion 2" is Bundle-ManifestVersion "$j" 2
done
check "basefs.jar: bundle com.quenvira.basefs" is Bundle-SymbolicName basefs.jar com.quenvira.basefs
check "basefs.jar exports com.quenvira.internal.io" is Export-Package basefs.jar \
    "com.quenvira.internal.io;version=\"$version\";uses:=\"com.quenvira.interfaces,com.quenvira.io,org.eclipse.core.runtime\""
check "basefs.jar imports the host packages and Eclipse's split org.eclipse.core.runtime" is Import-Package basefs.jar \
    'com.quenvira.interfaces,com.quenvira.io,org.eclipse.core.runtime;common=split;version="[3.4,4)"'
check "basefs-host.jar: bundle com.quenvira.basefs.host" is Bundle-SymbolicName basefs-host.jar com.quenvira.basefs.host
check "basefs-host.jar exports both packages" is Export-Package basefs-host.jar \
    "com.quenvira.interfaces;version=\"$version\",com.quenvira.io;version=\"$version\""
# The module path's names: those of the bundles, and alike for the other jars.
while read -r j module; do
    check "$j: module $module" is Automatic-Module-Name "$j" "$module"
done <<EOF
basefs.jar com.quenvira.basefs
basefs-host.jar com.quenvira.basefs.host
basefs-eclipse-standin.jar com.quenvira.basefs.eclipse.standin
basefs-tool.jar com.quenvira.basefs.tool
basefs-bench.jar com.quenvira.basefs.bench
EOF
for j in basefs-tool.jar basefs-bench.jar; do
    check "$j: Enable-Native-Access" is Enable-Native-Access "$j" ALL-UNNAMED
    check "$j: Class-Path names the library's jars" matches Class-Path "$j" \
        '^basefs\.jar basefs-host\.jar basefs-eclipse-standin\.jar basefs-natives-linux-[a-z0-9_]+\.jar( |$)'
done
check "basefs-tool.jar: Main-Class" is Main-Class basefs-tool.jar com.quenvira.tools.BaseFs

output=$("$build/basefs" --version 2>&1)
check "basefs --version: '$output'" [ "$output" = "$(printf 'basefs %s\nlibrary %s' "$version" "$version")" ]
check "libbasefs.so carries its version as text" grep -a -q "basefs version $version" "$library"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
