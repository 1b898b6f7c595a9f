#!/usr/bin/env bash
# Installs what is missing, then configures and builds with the win32 preset.
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$ROOT/scripts/install-deps.sh"
cd "$ROOT"
cmake --preset win32 >/dev/null
cmake --build --preset win32
