#!/usr/bin/env bash
# Renders the connection warning, the proxy settings dialog (empty and
# filled in), the warning box and the on-screen keyboard under Xvfb, in
# Polish, English and Croatian, into docs/images/.
# Usage: scripts/screenshots.sh     (build directory: build/, or $BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${BUILD_DIR:-build}
cmake --build "$build_dir" --target ui_screenshots -j2 >/dev/null
program="$build_dir/bin/ui_screenshots"
out=docs/images
mkdir -p "$out"

. scripts/lib/xvfb.sh
wm_pid=
cleanup() {
    if [ -n "$wm_pid" ]; then
        kill "$wm_pid" 2>/dev/null || true
        wait "$wm_pid" 2>/dev/null || true
    fi
    stop_xvfb
}
trap cleanup EXIT
start_xvfb 160 199 1024x768x24 || { echo "screenshots: no free X display" >&2; exit 1; }

# A window manager draws the title bars with the window icon.
home=$(mktemp -d)
HOME="$home" DISPLAY="$xvfb_display" openbox --sm-disable >/dev/null 2>&1 &
wm_pid=$!
sleep 1

# The home of its own also keeps the module's log out of the user's home.
for id in 0 1 2; do
    env -u QT_QPA_PLATFORM HOME="$home" DISPLAY="$xvfb_display" QT_QPA_PLATFORM=xcb "$program" "$id" "$out"
done
rm -rf "$home"
ls -1 "$out"/*.png
