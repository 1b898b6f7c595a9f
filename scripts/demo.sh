#!/usr/bin/env bash
# The main job: builds, installs the virtual board in the Wine prefix,
# installs the capture driver as the prefix's video-capture device (as the
# Multimedia control panel does, without its About dialog) and records three
# seconds of video through it into out/capture.avi (and its first frame into
# out/capture.png).
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$ROOT/scripts/build.sh" >/dev/null
mkdir -p "$ROOT/out"
png=$(winpath "$ROOT/out/capture.png")
avi=$(winpath "$ROOT/out/capture.avi")
cd "$BUILD/bin"
wine_session bash -c "wine drvsetup.exe install --no-configure && wine capture.exe --seconds 3 --png '$png' '$avi'"
echo "demo: wrote $ROOT/out/capture.avi and $ROOT/out/capture.png"
