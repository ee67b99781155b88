# Picks the java a launcher runs (the build copies this into each launcher,
# which sets $launcher, its name in messages first): the java of JAVA_HOME
# when JAVA_HOME is set, else the first java on the PATH,
# else Debian's /usr/bin/java; a runtime older than 17 is refused with one
# line, before it starts. The version comes from the runtime's release file
# (every JDK and JRE since 9 has one), read without starting anything; only a
# runtime without one is asked with -version, at the cost of a second start.
min_java=17
if [ -n "${JAVA_HOME-}" ]; then
    java=$JAVA_HOME/bin/java
    java_home=$JAVA_HOME
else
    java=$(command -v java) || java=/usr/bin/java
    java_home=
fi
no_java() {
    echo "$launcher: $1; set JAVA_HOME or put java $min_java or later on the PATH" >&2
    exit 2
}
[ -f "$java" ] && [ -x "$java" ] || no_java "no Java runtime found"
# The home of a java on the PATH: where its links (Debian's alternatives) end.
if [ -z "$java_home" ]; then
    java_home=$(readlink -f "$java")
    java_home=${java_home%/bin/java}
fi
java_version=
if [ -f "$java_home/release" ]; then
    while IFS= read -r line; do
        case $line in
        JAVA_VERSION=*) java_version=${line#JAVA_VERSION=} ;;
        esac
    done < "$java_home/release"
else
    java_version=$("$java" -version 2>&1 | sed -n '1s/^[^"]* version //p')
fi
# "17.0.15", "25", "1.8.0_402": the major version, Java 8 and older counted after "1.".
java_version=${java_version#\"}
case $java_version in
1.*) java_version=${java_version#1.} ;;
esac
java_major=${java_version%%[!0-9]*}
[ -n "$java_major" ] || no_java "no Java runtime found"
[ "$java_major" -ge "$min_java" ] || no_java "the Java runtime found is version $java_major, older than $min_java"
