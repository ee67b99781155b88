#!/bin/sh
# The file systems the reflink copy tests copy on: an XFS made with reflink=1
# and a btrfs, each in a sparse image file mounted through a loop device.
#   reflink_mounts.sh setup DIR     makes DIR/xfs.img, DIR/btrfs.img and mounts
#                                   them on DIR/xfs and DIR/btrfs
#   reflink_mounts.sh cleanup DIR   unmounts them and removes DIR
# ctest runs these as the setup and cleanup of the reflink tests' fixture.
# Where this machine cannot mount them (no root, no loop devices, a mkfs tool
# missing, mounting refused), setup says why and leaves that mount out; when
# neither is mounted it prints "SKIPPED:", which ctest reports as a skip. The
# tests themselves skip each file system that is not mounted.
set -eu
action=${1:-}
dir=${2:-}
[ -n "$action" ] && [ -n "$dir" ] || { echo "usage: $0 setup|cleanup DIR" >&2; exit 2; }
# Room for a 512 MiB source and the file system's own blocks; sparse.
image_size=1280M

# Unmounts whatever is mounted on DIR/NAME and detaches any loop device left
# on its image, so an interrupted earlier run leaves nothing behind either.
release() {
    if mountpoint -q "$dir/$1" 2>/dev/null; then
        umount "$dir/$1" || return 1
    fi
    if [ -f "$dir/$1.img" ] && command -v losetup > /dev/null; then
        losetup -j "$dir/$1.img" | cut -d: -f1 | xargs -r -n1 losetup -d || return 1
    fi
    return 0
}

cleanup() {
    status=0
    for fs in xfs btrfs; do
        release "$fs" || { echo "cannot unmount $dir/$fs" >&2; status=1; }
    done
    [ "$status" -eq 0 ] && rm -rf "$dir"
    return "$status"
}

# mount_one NAME MKFS...: makes the file system in DIR/NAME.img and mounts it
# on DIR/NAME. Returns 1 (with the reason in $why) when this machine cannot;
# a mkfs that fails on an image it was given is an error and ends the script.
mount_one() {
    fs=$1
    shift
    if ! command -v "$1" > /dev/null; then
        why="$1 is not installed (apt-get install xfsprogs btrfs-progs)"
        return 1
    fi
    mkdir -p "$dir/$fs"
    rm -f "$dir/$fs.img"
    truncate -s "$image_size" "$dir/$fs.img"
    if ! output=$("$@" "$dir/$fs.img" 2>&1); then
        printf 'reflink_mounts: %s failed:\n%s\n' "$*" "$output" >&2
        exit 1
    fi
    # A loop mount detaches its loop device again when it is unmounted.
    if ! output=$(mount -o loop "$dir/$fs.img" "$dir/$fs" 2>&1); then
        why="mounting a loop device is refused here: $output"
        rm -f "$dir/$fs.img"
        return 1
    fi
}

setup() {
    cleanup
    mkdir -p "$dir"
    if [ "$(id -u)" -ne 0 ]; then
        echo "SKIPPED: mounting the reflink file systems needs root"
        return 0
    fi
    if [ ! -e /dev/loop-control ]; then
        echo "SKIPPED: no loop devices here (/dev/loop-control is missing)"
        return 0
    fi
    mounted=0
    for fs in xfs btrfs; do
        why=
        case $fs in
        xfs) mount_one xfs mkfs.xfs -q -f -m reflink=1 || true ;;
        btrfs) mount_one btrfs mkfs.btrfs -q -f || true ;;
        esac
        if [ -z "$why" ]; then
            echo "$fs mounted on $dir/$fs"
            mounted=$((mounted + 1))
        else
            echo "$fs not mounted: $why"
        fi
    done
    if [ "$mounted" -eq 0 ]; then
        echo "SKIPPED: neither file system could be mounted"
    fi
}

case $action in
setup) setup ;;
cleanup) cleanup ;;
*) echo "usage: $0 setup|cleanup DIR" >&2; exit 2 ;;
esac
