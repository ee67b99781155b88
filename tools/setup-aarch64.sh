#!/bin/sh
# Prepares this Debian 12 x86_64 machine for the AArch64 build of basefs and
# for running its tests under qemu:
#   - the cross compiler, qemu's user-mode emulator and GoogleTest for arm64,
#     from the system packages;
#   - a sysroot (default: build-aarch64-sysroot beside this script's folder)
#     holding the arm64 JDK 17 and the few arm64 libraries it and the tests
#     run on, unpacked from their packages.
# The arm64 JDK is not installed with apt: its packages would pull upgrades of
# the machine's own amd64 packages, its JDK included.
# Usage: tools/setup-aarch64.sh [SYSROOT]    (run as root; safe to run again)
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
sysroot=${1:-$here/build-aarch64-sysroot}
jdk_packages="openjdk-17-jre-headless openjdk-17-jdk-headless"
lib_packages="libc6 libstdc++6 libgcc-s1 zlib1g"

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    dpkg --add-architecture arm64
    apt-get update -q
fi
if ! command -v aarch64-linux-gnu-g++ > /dev/null || ! command -v qemu-aarch64 > /dev/null ||
    ! dpkg -s libgtest-dev:arm64 > /dev/null 2>&1; then
    apt-get update -q
    apt-get install -y -q g++-aarch64-linux-gnu qemu-user libgtest-dev:arm64
fi

# The versions apt would fetch now; a sysroot made from the same ones is kept.
wanted=$(for p in $jdk_packages $lib_packages; do
    printf '%s %s\n' "$p" "$(apt-cache policy "$p:arm64" | sed -n 's/^ *Candidate: //p')"
done)
if [ -f "$sysroot/.packages" ] && [ "$(cat "$sysroot/.packages")" = "$wanted" ]; then
    echo "aarch64 sysroot up to date: $sysroot"
    exit 0
fi

rm -rf "$sysroot"
mkdir -p "$sysroot/debs"
cd "$sysroot/debs"
for p in $jdk_packages $lib_packages; do
    apt-get download -q -o APT::Sandbox::User=root "$p:arm64"
done
for deb in *.deb; do
    dpkg-deb -x "$deb" "$sysroot"
done
cd "$sysroot"
rm -rf debs

# The JDK's links into /etc and elsewhere are absolute: point them into the
# sysroot where their target is there.
find "$sysroot" -type l | while read -r link; do
    target=$(readlink "$link")
    case $target in
    /*) if [ -e "$sysroot$target" ] || [ -L "$sysroot$target" ]; then
            ln -sfn "$sysroot$target" "$link"
        fi ;;
    esac
done

jdk=$(echo "$sysroot"/usr/lib/jvm/java-17-openjdk-arm64)
test -f "$jdk/lib/server/libjvm.so" || { echo "no arm64 libjvm.so in $jdk" >&2; exit 1; }

# `java` of the arm64 JDK, run under qemu: the command-line tests start it.
mkdir -p "$sysroot/bin"
cat > "$sysroot/bin/java" <<EOF
#!/bin/sh
exec qemu-aarch64 -L "$sysroot" "$jdk/bin/java" "\$@"
EOF
chmod +x "$sysroot/bin/java"

echo "$wanted" > "$sysroot/.packages"
echo "aarch64 sysroot ready: $sysroot"
