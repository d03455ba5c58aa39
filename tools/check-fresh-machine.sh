#!/usr/bin/env bash
# check-fresh-machine.sh [ROOT]: runs the README's commands the way a new
# user would on a fresh machine. Makes a minimal Debian 12 root with
# debootstrap (in ROOT, by default a new folder under /var/tmp), adds only
# git, clones this repository's HEAD into it, runs the test command and the
# run command inside it, and prints their results and the SHA-256 of the
# program built there. Needs root and the Debian package mirror
# (DEBIAN_MIRROR, by default the one apt uses here), so it is not part of
# the tests. The root is kept for a look afterwards; remove it by hand.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

[ "$(id -u)" -eq 0 ] || { echo "check-fresh-machine.sh needs root (debootstrap, chroot, mount)" >&2; exit 2; }
mirror=${DEBIAN_MIRROR:-$(sed -n 's/^URIs: *\([^ ]*\/debian\)$/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)}
mirror=${mirror:-http://deb.debian.org/debian}
root=${1:-$(mktemp -d /var/tmp/fresh-debian12.XXXXXX)}

if ! command -v debootstrap >/dev/null; then
    apt-get update -q >/dev/null
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap >/dev/null
fi

echo "== debootstrap --variant=minbase bookworm $root $mirror"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.debootstrap.log" 2>&1 ||
    { tail -n 20 "$root.debootstrap.log" >&2; exit 1; }
cp /etc/resolv.conf "$root/etc/resolv.conf"

mkdir -p "$root/src/repo"
mounts=(proc sys dev dev/pts src/repo)
mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
mount --bind -o ro "$repo" "$root/src/repo"
cleanup() {
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "$root/${mounts[i]}" 2>/dev/null || true; done
}
trap cleanup EXIT

# What the machine's network needs rather than the project: certificate
# authorities this machine trusts beyond Debian's (a proxy's, say) are
# trusted inside too, the way this machine's environment points at them.
ca_environment=()
[ -n "${NODE_EXTRA_CA_CERTS-}" ] && ca_environment+=(NODE_EXTRA_CA_CERTS="$NODE_EXTRA_CA_CERTS")
inside() {
    chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        LANG=C.UTF-8 "${ca_environment[@]}" bash -c "$1"
}

echo "== only git added (and this machine's extra certificate authorities, if any)"
inside 'apt-get update -q >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends git >/dev/null'
if compgen -G '/usr/local/share/ca-certificates/*.crt' >/dev/null; then
    inside 'DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends ca-certificates >/dev/null'
    cp /usr/local/share/ca-certificates/*.crt "$root/usr/local/share/ca-certificates/"
    inside 'update-ca-certificates >/dev/null'
fi
inside 'git config --global --add safe.directory /src/repo/.git && git clone -q /src/repo /root/uninstall-runner'
echo "cloned $(inside 'git -C /root/uninstall-runner log -1 --format="%h %s"')"

status=0
echo "== bash tools/test.sh"
inside 'cd /root/uninstall-runner && bash tools/test.sh' >"$root.test.log" 2>&1 || status=$?
grep -E '^(installing:|[0-9]+% tests passed|The following tests FAILED|Total Test time)|\*\*\*Failed|CMake Error|Not Run' "$root.test.log" || true
echo "test command exit status: $status (full output: $root.test.log)"
[ $status -eq 0 ] || { tail -n 30 "$root.test.log"; exit 1; }

echo "== bash tools/demo.sh"
inside 'cd /root/uninstall-runner && bash tools/demo.sh' 2>&1 | tail -n 8 || status=$?
echo "run command exit status: $status"

exe=$root/root/uninstall-runner/build/bin/uninstall-runner.exe
echo "== $(stat -c %s "$exe") bytes, SHA-256 $(sha256sum "$exe" | cut -d' ' -f1)"
[ -f "$repo/build/bin/uninstall-runner.exe" ] &&
    echo "   here: SHA-256 $(sha256sum "$repo/build/bin/uninstall-runner.exe" | cut -d' ' -f1) ($repo/build)"
exit $status
