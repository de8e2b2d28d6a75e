#!/usr/bin/env bash
# Runs one test program in a private, throw-away home: HOME, the XDG directories, the runtime
# directory and TMPDIR all live in one temporary folder that is removed afterwards, and nothing
# of the desktop it was started from is reachable (its X or Wayland display, sound server,
# session bus): a test that needs a server starts its own.
# Usage: tests/isolated.sh [--unprivileged] PROGRAM [ARGUMENTS...]
#   --unprivileged  run as the user nobody when started as root, for cases about permissions
#                   that root would override (as any other user it runs as that user).
# With QUIVA_PROGRESS_DIR set, the test may report how far it has got in the file named by
# QUIVA_PROGRESS_FILE (tools/run-tests.sh shows it while the test runs).
set -u
unprivileged=false
if [ "${1:-}" = --unprivileged ]; then
    unprivileged=true
    shift
fi
here=$(cd "$(dirname "$0")" && pwd)
name=$(basename "$1")
root=$(mktemp -d /tmp/quiva-test.XXXXXX)
progress=
finish() {
    # Names that are not UTF-8 and folders a test left without permissions are removed too.
    chmod -R u+rwx "$root" 2>/dev/null
    rm -rf "$root"
    [ -z "$progress" ] || rm -rf "$progress"
}
trap finish EXIT
mkdir -p "$root/home" "$root/config" "$root/data" "$root/cache" "$root/runtime" "$root/tmp"
demoted=false
if $unprivileged && [ "$(id -u)" -eq 0 ]; then
    demoted=true
fi
# The user nobody may not reach the build or the source (a clone under /root is closed to every
# other user): a demoted program runs from copies of itself, the build's libraries and test songs
# and the sanitizers' suppressions, in the temporary folder.
if $demoted; then
    mkdir -p "$root/build/bin" "$root/build/lib" "$root/support"
    cp "$1" "$root/build/bin/" && cp "$QUIVA_BUILD_DIR"/lib/*.so "$root/build/lib/" &&
        cp "$here"/*.supp "$root/support/" || exit 1
    [ ! -d "$QUIVA_BUILD_DIR/test-mp3s" ] || cp -r "$QUIVA_BUILD_DIR/test-mp3s" "$root/build/"
    export QUIVA_BUILD_DIR="$root/build" LD_LIBRARY_PATH="$root/build/lib"
    here="$root/support"
    set -- "$root/build/bin/$name" "${@:2}"
fi
# Like /tmp, the private TMPDIR is open to every user: tests drop privileges in children that
# must still reach their files.
chmod 755 "$root"
chmod 1777 "$root/tmp"
chmod 700 "$root/runtime"
export HOME="$root/home" XDG_CONFIG_HOME="$root/config" XDG_DATA_HOME="$root/data"
export XDG_CACHE_HOME="$root/cache" XDG_RUNTIME_DIR="$root/runtime" TMPDIR="$root/tmp"
export QUIVA_TEST_ROOT="$root"
unset DISPLAY WAYLAND_DISPLAY XAUTHORITY XDG_SESSION_TYPE DBUS_SESSION_BUS_ADDRESS
unset QUIVA_REGISTRY # the store of a player run from its build tree
unset "${!PULSE_@}" "${!PIPEWIRE_@}"
# The desktop's own settings: its name, the extra folders it adds to the system's data and
# configuration, and what it tells Qt (theme, style, scaling). The platform is the test's.
unset XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP XDG_DATA_DIRS XDG_CONFIG_DIRS
for variable in "${!QT_@}"; do
    [ "$variable" = QT_QPA_PLATFORM ] || unset "$variable"
done
# FONTCONFIG_FILE passes through: `make test-fonts` chooses the fonts with it.
# libpulse reads no other client configuration: it looks for a server only in the private runtime
# folder (not in a system-wide one) and never starts one on its own.
export PULSE_CLIENTCONFIG="$root/pulse-client.conf"
printf 'autospawn = no\ndefault-server = unix:%s/pulse/native\n' "$XDG_RUNTIME_DIR" \
    >"$PULSE_CLIENTCONFIG"
# Sanitizer builds: report our leaks, not those of the system libraries (children inherit it).
export LSAN_OPTIONS="suppressions=$here/lsan.supp:print_suppressions=0"
# QProcess starts its children with clone(CLONE_VM | CLONE_VFORK), which ThreadSanitizer takes
# for a fork of a threaded process: it would then kill the test at its next thread start,
# although the child only ever execs.
export TSAN_OPTIONS="suppressions=$here/tsan.supp:print_suppressions=0:die_after_fork=0"
if [ -n "${QUIVA_PROGRESS_DIR:-}" ]; then
    progress="$QUIVA_PROGRESS_DIR/$name"
    mkdir -p "$progress" && date +%s >"$progress/started"
    export QUIVA_PROGRESS_FILE="$progress/progress"
fi
run=()
if $demoted; then
    chown -R nobody:nogroup "$root"
    [ -z "$progress" ] || chown nobody:nogroup "$progress"
    run=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
fi
cd "$root"
"${run[@]}" "$@"
