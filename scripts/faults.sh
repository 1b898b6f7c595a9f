#!/usr/bin/env bash
# The fault campaign: seeded random schedules of host operations, board
# faults, hostile settings, failing system calls, dialogs and contending
# clients against both libraries, inside a Wine session with the virtual
# board and under Xvfb. Options go to faults.exe: --schedules N --seed S.
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$ROOT/scripts/build.sh" >/dev/null
cd "$BUILD/bin"
wine_session wine faults.exe "$@"
