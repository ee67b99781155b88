#!/bin/sh
# Makes (or reuses) a minimal Debian root for the package tests: debootstrap,
# then a JDK, Maven and Debian's Maven settings and plugins, so that the tests
# themselves install nothing but the project's packages. A root of another
# architecture (arm64 on this x86_64 machine) runs its programs through qemu,
# registered with binfmt_misc, and holds a headless JRE alone: under emulation
# Maven would take many minutes, and its build is the same on every processor.
# Usage: make-root.sh SUITE DIR [ARCH]   (SUITE: bullseye, sid, ...; ARCH: Debian's name, default this machine's)
set -eu
suite=$1
root=$2
arch=${3:-$(dpkg --print-architecture)}
foreign=
[ "$arch" = "$(dpkg --print-architecture)" ] || foreign=yes
# The Debian mirror this machine's own apt uses.
mirror=$(sed -n 's/^URIs: *\(.*debian\)\/* *$/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
[ -n "$mirror" ] || mirror=$(sed -n 's/^deb \(http[^ ]*\) .*/\1/p' /etc/apt/sources.list 2>/dev/null | head -n 1)
[ -n "$mirror" ] || { echo "make-root: no Debian mirror in this machine's apt sources" >&2; exit 1; }

# Registers qemu's static emulator of ARCH with binfmt_misc, with the F flag so
# that the kernel keeps the emulator open and a chroot needs no copy of it.
register_emulator() {
    case $1 in
    arm64) name=qemu-aarch64 ;;
    *) echo "make-root: no emulator known for $1" >&2; exit 1 ;;
    esac
    command -v $name-static > /dev/null || { apt-get update && apt-get install -y qemu-user-static; }
    [ -f /proc/sys/fs/binfmt_misc/register ] || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    entry=/proc/sys/fs/binfmt_misc/$name
    # An entry without F (qemu-user-binfmt's) would look for the emulator inside the root.
    if [ -f "$entry" ] && ! grep -q '^flags:.*F' "$entry"; then
        echo -1 > "$entry"
    fi
    [ -f "$entry" ] || cat /usr/lib/binfmt.d/$name.conf > /proc/sys/fs/binfmt_misc/register
    echo 1 > "$entry"
}
[ -z "$foreign" ] || register_emulator "$arch"

# foreign_bootstrap: both stages of debootstrap into $root.part, the second
# run through the emulator.
foreign_bootstrap() {
    debootstrap --variant=minbase --arch="$arch" --foreign "$suite" "$root.part" "$mirror" &&
        chroot "$root.part" /bin/true &&
        chroot "$root.part" /debootstrap/debootstrap --second-stage
}

# A complete root is marked as such; anything else is made again.
if [ -f "$root/.basefs-root-complete" ]; then
    exit 0
fi
command -v debootstrap > /dev/null || { apt-get update && apt-get install -y debootstrap; }
rm -rf "$root.part"
mkdir -p "$(dirname "$root")"
if [ -z "$foreign" ]; then
    debootstrap --variant=minbase "$suite" "$root.part" "$mirror" > "$root.part.log" 2>&1 ||
        { tail -n 20 "$root.part.log" >&2; exit 1; }
else
    # Under emulation the second stage failed here once in four runs (dpkg,
    # unpacking bash), for no cause found: a failed root is made once more.
    if ! foreign_bootstrap > "$root.part.log" 2>&1; then
        tail -n 5 "$root.part/debootstrap/debootstrap.log" >&2 2>/dev/null || true
        umount "$root.part/proc" "$root.part/sys" 2>/dev/null || true
        rm -rf "$root.part"
        foreign_bootstrap > "$root.part.log" 2>&1 || { tail -n 20 "$root.part.log" >&2; exit 1; }
    fi
fi
rm -f "$root.part.log"
case $foreign$suite in
yes*)
    jdk=openjdk-17-jre-headless
    tools=
    ;;
bullseye)
    # openjdk-17 reached Debian 11 through its security archive.
    security=$(printf '%s' "$mirror" | sed 's|/debian$|/debian-security|')
    echo "deb $security bullseye-security main" >> "$root.part/etc/apt/sources.list"
    jdk=openjdk-17-jdk-headless
    tools="maven maven-debian-helper"
    ;;
*)
    jdk=default-jdk-headless
    tools="maven maven-debian-helper"
    ;;
esac
# Unstable's Release file may be past its Valid-Until on a mirror snapshot.
echo 'Acquire::Check-Valid-Until "false";' > "$root.part/etc/apt/apt.conf.d/99basefs-no-valid-until"
mount -t proc proc "$root.part/proc"
trap 'umount "$root.part/proc" 2>/dev/null || true' EXIT
chroot "$root.part" apt-get update > /dev/null
DEBIAN_FRONTEND=noninteractive chroot "$root.part" apt-get install -y --no-install-recommends \
    "$jdk" $tools > "$root.part/install.log" 2>&1 ||
    { tail -n 20 "$root.part/install.log" >&2; exit 1; }
chroot "$root.part" apt-get clean
umount "$root.part/proc"
trap - EXIT
touch "$root.part/.basefs-root-complete"
rm -rf "$root"
mv "$root.part" "$root"
