#!/usr/bin/env bash
# Runs one test program in a private, throw-away home: HOME, the XDG directories and the
# runtime directory all live in one temporary folder that is removed afterwards.
set -u
root=$(mktemp -d /tmp/quiva-test.XXXXXX)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/home" "$root/config" "$root/data" "$root/cache" "$root/runtime"
chmod 700 "$root/runtime"
export HOME="$root/home" XDG_CONFIG_HOME="$root/config" XDG_DATA_HOME="$root/data"
export XDG_CACHE_HOME="$root/cache" XDG_RUNTIME_DIR="$root/runtime" QUIVA_TEST_ROOT="$root"
unset PULSE_SERVER DISPLAY WAYLAND_DISPLAY
# No session bus of the host's: a test that wants one starts its own.
unset DBUS_SESSION_BUS_ADDRESS DBUS_STARTER_ADDRESS DBUS_STARTER_BUS_TYPE
# Sanitizer builds: report our leaks, not those of the system libraries (children inherit it).
here=$(cd "$(dirname "$0")" && pwd)
export LSAN_OPTIONS="suppressions=$here/lsan.supp:print_suppressions=0"
export TSAN_OPTIONS="suppressions=$here/tsan.supp:print_suppressions=0"
cd "$root"
"$@"
