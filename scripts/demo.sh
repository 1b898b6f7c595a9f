#!/usr/bin/env bash
# The main job: builds, installs the virtual board in the Wine prefix and
# captures its picture to out/scene.png, reading the board's device directly.
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$ROOT/scripts/build.sh" >/dev/null
mkdir -p "$ROOT/out"
cd "$BUILD/bin"
xvfb-run -a -s "-screen 0 1024x768x24" "$ROOT/scripts/wine-session.sh" \
  wine rawcap.exe --frames 25 "$(winepath -w "$ROOT/out/scene.png" 2>/dev/null)"
echo "demo: wrote $ROOT/out/scene.png"
