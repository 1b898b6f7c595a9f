#!/usr/bin/env bash
# Creates (or reuses) the project's 32-bit Wine prefix. wineboot returns before
# Wine has finished setting the prefix up; the first kernel-service start then
# times out, so creation waits for the wineserver to go idle.
set -euo pipefail
source "$(dirname "$0")/env.sh"

# Everything here runs in Wine's 32-bit loader: a kernel without 32-bit
# emulation (dmesg: "32-bit emulation disabled") cannot start it at all.
if ! wine --version >/dev/null 2>&1; then
  echo "prefix.sh: Wine's 32-bit loader does not start on this machine ($(uname -sr)): its kernel cannot run" \
       "32-bit x86 programs, so the 32-bit prefix, the virtual board and every test under Wine cannot run here" >&2
  exit 1
fi

if [ -f "$WINEPREFIX/system.reg" ] && grep -q '^#arch=win32' "$WINEPREFIX/system.reg"; then
  exit 0
fi
[ -e "$WINEPREFIX" ] && { echo "prefix.sh: $WINEPREFIX is not a 32-bit prefix; removing it"; rm -rf "$WINEPREFIX"; }
mkdir -p "$(dirname "$WINEPREFIX")"
echo "prefix.sh: creating 32-bit prefix $WINEPREFIX"
wineboot -i >/dev/null 2>&1
wineserver -w
# Windows get their captions without a window manager, and close without delay.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
# A crashing test program ends at once instead of waiting in the debugger.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f >/dev/null 2>&1
wineserver -w
