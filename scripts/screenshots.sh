#!/usr/bin/env bash
# Takes the pictures of the capture driver's dialogs and of the Display
# properties page in docs/, under Xvfb.
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$ROOT/scripts/build.sh" >/dev/null
mkdir -p "$ROOT/docs"
cd "$BUILD/bin"
docs=$(winpath "$ROOT/docs")
wine_session bash -c \
  "wine screenshots.exe '$docs' && wine panelhost.exe --screenshot '$docs\\panel.png'"
