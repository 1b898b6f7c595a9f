#!/usr/bin/env bash
# Runs a command inside one Wine session of the project's prefix: a persistent
# wineserver (so the board's kernel service lives between test programs) with
# the virtual board freshly installed and started. Run it under Xvfb.
# With --server-log FILE first, the wineserver's own output (its +server
# trace) goes to FILE.
set -euo pipefail
source "$(dirname "$0")/env.sh"
started=$(date +%s)
server_log=""
if [ "${1:-}" = --server-log ]; then
  server_log=$2
  shift 2
fi
"$ROOT/scripts/prefix.sh"

wineserver -k 2>/dev/null || true
if [ -n "$server_log" ]; then wineserver -p 2>"$server_log"; else wineserver -p; fi
trap 'wineserver -k 2>/dev/null || true' EXIT
wine cmd /c exit </dev/null >/dev/null 2>&1

# The board: stopped before its image is replaced, then registered and started.
# A start that fails here (as in a prefix that has not settled) stops the run.
wine "$BUILD/bin/boardctl.exe" stop >/dev/null 2>&1 || true
wine "$BUILD/bin/boardctl.exe" install
wine "$BUILD/bin/boardctl.exe" start || { echo "wine-session.sh: the virtual board did not start" >&2; exit 1; }
echo "wine-session.sh: prefix, server and board ready in $(( $(date +%s) - started )) s" >&2
"$@"
