#!/usr/bin/env bash
# Rebuilds the skin generator and redraws the checked-in skin pictures and icons
# (player/resources/*.png, the volume control's pictures in volume/resources/ and the
# directory list's folders in platform/ui/resources/).
# Usage: tools/regenerate-skin.sh [BUILD_DIR]    (default: $QUIVA_BUILD_DIR, else build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${QUIVA_BUILD_DIR:-$root/build}}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target quiva-skin-gen -j2
"$build/bin/quiva-skin-gen" "$root"
git -C "$root" status --short -- 'player/resources/*.png' 'volume/resources/*.png' \
    'platform/ui/resources/*.png'
