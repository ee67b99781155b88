#!/bin/sh
# Installs the build into a fresh prefix and runs the installed launcher, which
# must find the installed library and jar. Usage: install_test.sh BUILD_DIR
set -eu
prefix=$(mktemp -d "${TMPDIR:-/tmp}/basefs-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" > /dev/null
# The tool's jar names the others, which must lie beside it.
natives=$(cd "$prefix" && ls share/java/basefs-natives-linux-*.jar | head -n 1)
for file in bin/basefs lib/libbasefs.so share/java/basefs.jar share/java/basefs-host.jar \
    share/java/basefs-eclipse-standin.jar "$natives" share/java/basefs-tool.jar include/FileSystemCommon.h; do
    test -f "$prefix/$file" || { echo "missing after install: $file"; exit 1; }
done
printf 'installed' > "$prefix/probe"
output=$("$prefix/bin/basefs" ls -l "$prefix")
echo "$output"
echo "$output" | grep -q ' probe$'
echo "1 passed, 0 failed"
