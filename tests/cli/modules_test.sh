#!/bin/sh
# The jars on the module path: copied alone into one directory, each is an
# automatic module named after its bundle; the tool runs as a module, and a
# program, as a module of its own or on the class path, lists a directory
# through basefs.jar as module com.quenvira.basefs, whose natives jar it finds
# there too. With JDK 24 or later (the build's, else Temurin 25) native access
# is granted to that module by name, and denied access names it in one line.
# Usage: modules_test.sh JAVA JAVAC LISTER_SOURCES JAR...
#        (JAR: basefs.jar, basefs-host.jar, basefs-eclipse-standin.jar, the natives jars, basefs-tool.jar)
set -u
java=$1 javac=$2 sources=$(readlink -f "$3")
shift 3
umask 022
work=$(mktemp -d "${TMPDIR:-/tmp}/basefs-modules-XXXXXX")
trap 'rm -rf "$work"' EXIT
. "$(dirname "$(readlink -f "$0")")/checks.sh"

# starts_with NAME LINE COMMAND...: COMMAND succeeds and its first line of
# stdout is LINE; stderr (a JVM's warning) is not looked at.
starts_with() {
    name=$1 line=$2
    shift 2
    "$@" > "$work/out" 2> /dev/null
    actual=$?
    if [ "$actual" -eq 0 ] && [ "$(head -n 1 "$work/out")" = "$line" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAILED: %s (status %s)\nexpected first line: %s\ngot:\n%s\n' "$name" "$actual" "$line" "$(cat "$work/out")"
    fi
}

# quietly NAME LINE COMMAND...: as starts_with, and nothing at all on stderr.
quietly() {
    name=$1 line=$2
    shift 2
    "$@" > "$work/out" 2> "$work/err"
    actual=$?
    if [ "$actual" -eq 0 ] && [ "$(head -n 1 "$work/out")" = "$line" ] && [ ! -s "$work/err" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAILED: %s (status %s)\nstdout:\n%s\nstderr:\n%s\n' "$name" "$actual" "$(cat "$work/out")" "$(cat "$work/err")"
    fi
}

# The built jars alone in one directory; the natives jars and their module names.
modules=$work/modules
mkdir "$modules" "$work/extract"
natives=
native_modules=
for j in "$@"; do
    cp "$j" "$modules/" || exit 2
    name=${j##*/}
    case $name in
        basefs-natives-linux-*.jar)
            arch=${name#basefs-natives-linux-}
            natives="$natives${natives:+:}$modules/$name"
            native_modules="$native_modules com.quenvira.basefs.linux.${arch%.jar}"
            ;;
    esac
done
[ -n "$natives" ] || { echo "no natives jar among $*"; exit 2; }

# run JAVA OPTION...: JAVA with the library copied into $work/extract.
run() {
    with=$1
    shift
    env -u LD_LIBRARY_PATH "$with" -Djava.io.tmpdir="$work/extract" "$@"
}
# granted OPTION...: the build's java, native access granted to the library's
# module (JDK 17 takes the option too, and JDK 24 and later warn without it).
granted() { run "$java" --enable-native-access=com.quenvira.basefs "$@"; }

expected_modules=$(printf '%s\n' com.quenvira.basefs com.quenvira.basefs.eclipse.standin com.quenvira.basefs.host \
    $native_modules com.quenvira.basefs.tool | sort)
listed_modules() { "$java" -p "$modules" --list-modules | sed -n 's/^\(com\.quenvira\.[^ @]*\).* automatic$/\1/p' | sort; }
fails_with "each jar is an automatic module of its bundle's name" 0 "$expected_modules" listed_modules

starts_with "the tool runs as a module" "  File: /etc/hostname" \
    run "$java" -p "$modules" -m com.quenvira.basefs.tool stat /etc/hostname

# The program, compiled as a module that requires the library's and on its own.
mkdir "$work/named" "$work/unnamed"
lister=$sources/com/quenvira/test/lister/Lister.java
"$javac" --release 17 -p "$modules" -d "$work/named" "$sources/module-info.java" "$lister" &&
    "$javac" --release 17 -cp "$modules/basefs.jar:$modules/basefs-host.jar:$modules/basefs-eclipse-standin.jar" -d "$work/unnamed" "$lister" ||
    { echo "cannot compile the program"; exit 2; }
mkdir "$work/listed" "$work/listed/sub"
: > "$work/listed/file"
ln -s file "$work/listed/link"
listing=$(printf 'file\nlink\nsub')
fails_with "a program module lists a directory" 0 "$(printf 'program com.quenvira.test.lister\nlibrary com.quenvira.basefs\n%s' "$listing")" \
    granted -p "$modules:$work/named" -m com.quenvira.test.lister/com.quenvira.test.lister.Lister "$work/listed"
fails_with "a program on the class path lists through the library's module" 0 \
    "$(printf 'program unnamed\nlibrary com.quenvira.basefs\n%s' "$listing")" \
    granted -p "$modules" --add-modules com.quenvira.basefs -cp "$work/unnamed" com.quenvira.test.lister.Lister "$work/listed"
# As an application keeps its own classes: the host's and Eclipse's on the
# class path, which the library's records are made of; only the library and
# its natives are modules.
fails_with "the library's module makes records of the host's classes on the class path" 0 \
    "$(printf 'program unnamed\nlibrary com.quenvira.basefs\n%s' "$listing")" \
    granted -p "$modules/basefs.jar:$natives" --add-modules com.quenvira.basefs \
    -cp "$work/unnamed:$modules/basefs-host.jar:$modules/basefs-eclipse-standin.jar" \
    com.quenvira.test.lister.Lister "$work/listed"

# Eclipse's own equinox.common in place of the stand-in (both at once would
# put org.eclipse.core.runtime in two modules, which the JVM refuses).
equinox=/usr/share/java/equinox-common.jar
if [ -f "$equinox" ]; then
    mkdir "$work/with-equinox"
    cp "$modules"/*.jar "$equinox" "$work/with-equinox/" && rm "$work/with-equinox/basefs-eclipse-standin.jar"
    fails_with "the tool with equinox.common in place of the stand-in" 0 "$listing" \
        granted -p "$work/with-equinox" -m com.quenvira.basefs.tool ls "$work/listed"
else
    echo "SKIPPED: no $equinox here"
fi

restricted=$(restricted_java "$java")
if [ -n "$restricted" ]; then
    quietly "JDK 24+: the grant by module name loads without a warning" "  File: /etc/hostname" \
        run "$restricted" --illegal-native-access=deny --enable-native-access=com.quenvira.basefs \
        -p "$modules" -m com.quenvira.basefs.tool stat /etc/hostname
    fails_with "JDK 24+: denied native access names the module's flag in one line" 2 \
        "basefs: native access is denied to libbasefs.so: start java with --enable-native-access=com.quenvira.basefs" \
        run "$restricted" --illegal-native-access=deny -p "$modules" -m com.quenvira.basefs.tool stat /etc/hostname
    fails_with "JDK 24+: a grant to the class path does not reach the library's module" 1 \
        "$(printf 'program unnamed\nlibrary com.quenvira.basefs\nnative access is denied to libbasefs.so: start java with --enable-native-access=com.quenvira.basefs')" \
        run "$restricted" --illegal-native-access=deny --enable-native-access=ALL-UNNAMED \
        -p "$modules" --add-modules com.quenvira.basefs -cp "$work/unnamed" com.quenvira.test.lister.Lister "$work/listed"
else
    echo "SKIPPED: no JDK 24 or later here, the native-access cases need one"
fi
fails_with "nothing is left in the directory for copies" 0 "" ls -A "$work/extract"

finish
