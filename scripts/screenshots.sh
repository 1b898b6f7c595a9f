#!/usr/bin/env bash
# Takes the pictures of the driver's dialogs in docs/, under Xvfb.
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$ROOT/scripts/build.sh" >/dev/null
mkdir -p "$ROOT/docs"
cd "$BUILD/bin"
xvfb-run -a -s "-screen 0 1024x768x24" "$ROOT/scripts/wine-session.sh" \
  wine screenshots.exe "$(winepath -w "$ROOT/docs" 2>/dev/null)"
