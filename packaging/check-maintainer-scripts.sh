#!/usr/bin/env bash
# check-maintainer-scripts.sh PACKAGE.deb
#
# Installs and removes the package with dpkg inside a private mount namespace whose /usr, /etc
# and /var are overlays on throw-away folders, so the real system never changes, and checks that
# installing registers the volume control in the system-wide store, removing unregisters it and
# purging removes that store.
# Needs root (mount namespaces, overlays) and a root folder that is a mount point; says so and
# succeeds without checking otherwise.
set -euo pipefail

package=$(realpath "$1")
if [ "$(id -u)" -ne 0 ]; then
    echo "check-maintainer-scripts: not root, maintainer scripts not checked"
    exit 0
fi

# A chroot whose root is no mount point (as debootstrap makes one) has no root to make private.
if ! unshare --mount --propagation private true 2>/dev/null; then
    echo "check-maintainer-scripts: no private mount namespace here (a chroot whose root is no" \
        "mount point?), maintainer scripts not checked"
    exit 0
fi

scratch=$(mktemp -d /tmp/quiva-deb-check.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

inside() {
    local tree
    for tree in usr etc var; do
        mkdir -p "$scratch/$tree/upper" "$scratch/$tree/work"
        mount -t overlay overlay \
            -o "lowerdir=/$tree,upperdir=$scratch/$tree/upper,workdir=$scratch/$tree/work" "/$tree"
    done
    local store=/etc/quiva/registry.reg
    local control='@="/usr/lib/quiva/libDalvex.so"'

    dpkg -i "$package" >/dev/null
    grep -qF "$control" "$store" || { echo "FAIL: installing did not register the control"; return 1; }
    # A build's registration in root's own store (as an older `make run` left one) must not keep
    # removal from clearing the system-wide store.
    export QUIVA_REGISTRY="$scratch/root.reg"
    install -D /usr/lib/quiva/libDalvex.so "$scratch/build/libDalvex.so"
    /usr/lib/quiva/quiva-regsvr "$scratch/build/libDalvex.so" >/dev/null
    dpkg -r quiva >/dev/null
    if grep -qF -e "$control" -e Pemrik.Dalvex "$store"; then
        echo "FAIL: removing left the control registered"
        return 1
    fi
    dpkg -P quiva >/dev/null
    [ ! -e "$store" ] && [ ! -e "$store.lock" ] || { echo "FAIL: purging left $store"; return 1; }
    echo "maintainer scripts: installing registers the volume control system-wide, removing unregisters it, purging removes the store"
}

export -f inside
export package scratch
unshare --mount --propagation private bash -euo pipefail -c inside
