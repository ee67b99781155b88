# What the tool's test scripts share (sourced): the counts, the exact check,
# and the JDK that restricts native access.
passed=0
failed=0

# fails_with NAME STATUS EXPECTED COMMAND...: COMMAND exits with STATUS and
# prints exactly EXPECTED on stdout and stderr together.
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

# arch_of JAVA: the processor JAVA runs on, as os.arch names it.
arch_of() { "$1" -XshowSettings:properties -version 2>&1 | sed -n 's/^ *os\.arch = //p'; }

# restricted_java JAVA: the first JDK at hand that restricts native access
# (JDK 24 and later: JAVA itself, else Temurin 25) and runs on JAVA's
# processor, so that it loads the library built for it (not in a cross
# build); nothing when there is none.
restricted_java() {
    for candidate in "$1" /usr/lib/jvm/temurin-25-jdk-amd64/bin/java; do
        if [ -x "$candidate" ] && "$candidate" --illegal-native-access=deny -version > /dev/null 2>&1 &&
            [ "$(arch_of "$candidate")" = "$(arch_of "$1")" ]; then
            echo "$candidate"
            return
        fi
    done
}

# finish: the counts, and the status of the whole script.
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
