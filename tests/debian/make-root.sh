#!/bin/sh
# Makes (or reuses) a minimal Debian root for the package tests: debootstrap,
# then a JDK, Maven and Debian's Maven settings and plugins, so that the tests
# themselves install nothing but the project's packages.
# Usage: make-root.sh SUITE DIR   (SUITE: bullseye, sid, ...)
set -eu
suite=$1
root=$2
# The Debian mirror this machine's own apt uses.
mirror=$(sed -n 's/^URIs: *\(.*debian\)\/* *$/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
[ -n "$mirror" ] || mirror=$(sed -n 's/^deb \(http[^ ]*\) .*/\1/p' /etc/apt/sources.list 2>/dev/null | head -n 1)
[ -n "$mirror" ] || { echo "make-root: no Debian mirror in this machine's apt sources" >&2; exit 1; }
# A complete root is marked as such; anything else is made again.
if [ -f "$root/.basefs-root-complete" ]; then
    exit 0
fi
command -v debootstrap > /dev/null || { apt-get update && apt-get install -y debootstrap; }
rm -rf "$root.part"
mkdir -p "$(dirname "$root")"
debootstrap --variant=minbase "$suite" "$root.part" "$mirror" > "$root.part.log" 2>&1 ||
    { tail -n 20 "$root.part.log" >&2; exit 1; }
rm -f "$root.part.log"
case $suite in
bullseye)
    # openjdk-17 reached Debian 11 through its security archive.
    security=$(printf '%s' "$mirror" | sed 's|/debian$|/debian-security|')
    echo "deb $security bullseye-security main" >> "$root.part/etc/apt/sources.list"
    jdk=openjdk-17-jdk-headless
    ;;
*)
    jdk=default-jdk-headless
    ;;
esac
# Unstable's Release file may be past its Valid-Until on a mirror snapshot.
echo 'Acquire::Check-Valid-Until "false";' > "$root.part/etc/apt/apt.conf.d/99basefs-no-valid-until"
mount -t proc proc "$root.part/proc"
trap 'umount "$root.part/proc" 2>/dev/null || true' EXIT
chroot "$root.part" apt-get update > /dev/null
DEBIAN_FRONTEND=noninteractive chroot "$root.part" apt-get install -y --no-install-recommends \
    "$jdk" maven maven-debian-helper > "$root.part/install.log" 2>&1 ||
    { tail -n 20 "$root.part/install.log" >&2; exit 1; }
chroot "$root.part" apt-get clean
umount "$root.part/proc"
trap - EXIT
touch "$root.part/.basefs-root-complete"
rm -rf "$root"
mv "$root.part" "$root"
