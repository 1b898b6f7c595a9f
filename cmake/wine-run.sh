#!/usr/bin/env bash
# Runs a Windows program of the build under Wine in the project's 32-bit prefix.
# Refuses to run without WINEPREFIX, so nothing silently creates a 64-bit ~/.wine.
if [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-run: WINEPREFIX is not set (use scripts/test.sh or scripts/prefix.sh)" >&2
  exit 125
fi
export WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all}
exec wine "$@"
