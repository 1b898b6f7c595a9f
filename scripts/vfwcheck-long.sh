#!/usr/bin/env bash
# The long fuzz run of the capture driver (figures, not a test): vfwcheck's
# full check plus 100,000 fuzz steps of one seed inside a Wine session with
# the virtual board, then the steps, the seconds and the failures.
# Usage: scripts/vfwcheck-long.sh [STEPS [SEED]]
set -euo pipefail
source "$(dirname "$0")/env.sh"
steps=${1:-100000}
seed=${2:-1}
"$ROOT/scripts/build.sh" >/dev/null
cd "$BUILD/bin"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
start=$(date +%s)
status=0
wine_session wine vfwcheck.exe --driver zentacap.dll --fuzz "$steps" --seed "$seed" >"$log" 2>&1 || status=$?
seconds=$(( $(date +%s) - start ))
cat "$log"
echo "vfwcheck-long: $steps steps, seed $seed, $seconds s, $(grep -c '^  FAIL fuzz\.' "$log" || true) fuzz failures, exit status $status"
exit "$status"
