#!/usr/bin/env bash
# The whole test suite: builds, creates the 32-bit prefix if needed, installs
# and starts the virtual board, and runs every test under Wine and Xvfb.
# Extra arguments go to ctest (for example -R Board).
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$ROOT/scripts/build.sh"
cd "$ROOT"
start=$(date +%s)
xvfb-run -a -s "-screen 0 1024x768x24" "$ROOT/scripts/wine-session.sh" \
  ctest --preset win32 "$@"
echo "test suite: $(( $(date +%s) - start )) s"
