#!/usr/bin/env bash
# The main job: builds, installs the virtual board in the Wine prefix and
# records three seconds of video through the capture driver into
# out/capture.avi (and its first frame into out/capture.png).
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$ROOT/scripts/build.sh" >/dev/null
mkdir -p "$ROOT/out"
cd "$BUILD/bin"
xvfb-run -a -s "-screen 0 1024x768x24" "$ROOT/scripts/wine-session.sh" \
  wine capture.exe --seconds 3 --png "$(winepath -w "$ROOT/out/capture.png" 2>/dev/null)" \
  "$(winepath -w "$ROOT/out/capture.avi" 2>/dev/null)"
echo "demo: wrote $ROOT/out/capture.avi and $ROOT/out/capture.png"
