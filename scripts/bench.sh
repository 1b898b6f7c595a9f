#!/usr/bin/env bash
# Benchmarks (figures, not tests): the board's frame generation and the rate
# of free-running reads through Wine; the stream engine against raw reads.
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$ROOT/scripts/build.sh" >/dev/null
cd "$BUILD/bin"
xvfb-run -a -s "-screen 0 1024x768x24" "$ROOT/scripts/wine-session.sh" \
  bash -c "wine board_bench.exe && wine stream_bench.exe"
