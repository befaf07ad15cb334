#!/bin/sh
# with-i386.sh CMD [ARG...]: runs CMD where 32-bit x86 Linux programs can start, so that 32-bit
# Wine, and MOXEL.dll in it, runs on any machine.
#
# Where the kernel starts them itself, CMD just runs. Where it cannot (no IA32 emulation: "Exec
# format error"), CMD runs in a user and mount namespace of its own, in which binfmt_misc (one
# instance per user namespace since Linux 6.7) hands every 32-bit x86 program to QEMU user mode's
# qemu-i386: Wine's loader and everything it starts. Nothing outside the namespace sees it, and no
# privilege is needed beyond unprivileged user namespaces.
#
# qemu-i386 comes from the qemu-user package of Debian's backports suite, fetched once with apt-get
# from the mirror the system's own sources name and unpacked (not installed) into build/qemu/.
# bookworm's own QEMU 7.2 cannot run Wine: it ignores MAP_FIXED_NOREPLACE, and Wine then stops with
# "failed to map the shared user data". MOXEL_QEMU_I386 names another qemu-i386 to use.
#
# with-i386.sh --check: says how 32-bit programs start here ("native" or "qemu"), fetching
# qemu-i386 if needed; fails, saying why, where neither way works.
set -eu
moxel_root=$(cd "$(dirname "$0")/.." && pwd)
cache="$moxel_root/build/qemu"

starts_natively() {
    /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# Prints the path of a qemu-i386 able to run Wine, fetching it on first use.
qemu_i386() {
    if [ -n "${MOXEL_QEMU_I386:-}" ]; then
        echo "$MOXEL_QEMU_I386"
        return
    fi
    mkdir -p "$cache"
    # One fetch, however many tests start at once.
    exec 9>"$cache/.lock"
    flock 9
    if [ ! -x "$cache/qemu-i386" ]; then
        fetch_qemu_i386 >&2
    fi
    exec 9>&-
    echo "$cache/qemu-i386"
}

fetch_qemu_i386() {
    . /etc/os-release
    codename=$VERSION_CODENAME
    arch=$(dpkg --print-architecture)
    # The mirror the system already uses for its own release.
    # shellcheck disable=SC2016 # apt-get's own format fields
    mirror=$(apt-get indextargets --format '$(REPO_URI)' "Release: $codename" \
        'Identifier: Packages' | head -n 1)
    : "${mirror:=http://deb.debian.org/debian/}"
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    echo "with-i386.sh: fetching qemu-i386 (qemu-user from $mirror $codename-backports)"
    keyring=/usr/share/keyrings/debian-archive-keyring.gpg
    for suite in "$codename" "$codename-backports"; do
        echo "deb [signed-by=$keyring] $mirror $suite main"
    done >"$work/sources.list"
    mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/parts"
    # A private apt: its own sources, lists and cache, nothing installed; the system's apt state
    # stays as it was, and no root is needed.
    set -- -o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts="$work/parts" \
        -o Dir::Etc::PreferencesParts="$work/parts" -o Dir::Etc::Preferences=/dev/null \
        -o Dir::State::Lists="$work/lists" -o Dir::State::status=/dev/null \
        -o Dir::Cache="$work/cache" -o APT::Architectures="$arch" \
        -o APT::Sandbox::User="$(id -un)" -o Debug::NoLocking=1
    apt-get "$@" -qq update
    # Backports first; a release whose backports lack it has a new enough QEMU of its own.
    (cd "$work" && apt-get "$@" -qq -t "$codename-backports" download "qemu-user:$arch")
    dpkg-deb --fsys-tarfile "$work"/qemu-user_*.deb | tar -x -C "$work" ./usr/bin/qemu-i386
    version=$("$work/usr/bin/qemu-i386" --version | sed -n 's/^qemu-i386 version \([0-9]*\).*/\1/p')
    if [ "${version:-0}" -lt 8 ]; then
        echo "with-i386.sh: the only qemu-i386 found ($version) is too old to run Wine" >&2
        exit 1
    fi
    mv "$work/usr/bin/qemu-i386" "$cache/qemu-i386"
    rm -rf "$work"
    trap - EXIT
}

# The register line for binfmt_misc: 32-bit little-endian x86 ELF executables and shared objects
# (the magic and mask of QEMU's own qemu-i386.conf). F opens the interpreter now, so it is found
# from any mount namespace and any working directory.
i386_magic='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\xfc\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# Root of a namespace of its own mounts binfmt_misc there and registers qemu-i386; CMD then runs
# in a namespace inside that one, as the caller's own user again, so that Wine's files and its
# server's socket (/tmp/.wine-UID) are the same ones as outside. binfmt_misc is looked up in the
# nearest namespace that has it mounted.
run_through_qemu() {
    MOXEL_BINFMT=":moxel-i386:M::$i386_magic:$i386_mask:$(qemu_i386):F"
    MOXEL_IDS="$(id -u) $(id -g)"
    export MOXEL_BINFMT MOXEL_IDS
    exec unshare --user --map-root-user --mount sh -c '
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || {
            echo "with-i386.sh: binfmt_misc cannot be mounted in a user namespace here (Linux 6.7 or later needed)" >&2
            exit 1
        }
        printf "%s" "$MOXEL_BINFMT" >/proc/sys/fs/binfmt_misc/register
        uid=${MOXEL_IDS% *} gid=${MOXEL_IDS#* }
        unset MOXEL_BINFMT MOXEL_IDS
        exec unshare --user --map-user="$uid" --map-group="$gid" -- "$@"
        ' with-i386 "$@"
}

if [ "${1:-}" = --check ]; then
    if starts_natively; then
        echo native
    elif ! unshare --user --map-root-user true 2>/dev/null; then
        echo "with-i386.sh: this kernel cannot start 32-bit programs, and user namespaces are not allowed" >&2
        exit 1
    elif (run_through_qemu /lib/ld-linux.so.2 --version >/dev/null); then
        echo qemu
    else
        echo "with-i386.sh: this kernel cannot start 32-bit programs, even through QEMU user mode" >&2
        exit 1
    fi
    exit 0
fi
if [ $# -eq 0 ]; then
    echo "usage: with-i386.sh CMD [ARG...] | --check" >&2
    exit 2
fi
if starts_natively; then
    exec "$@"
fi
run_through_qemu "$@"
