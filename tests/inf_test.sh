#!/usr/bin/env bash
# The disk's INF files through Wine's Setup API, as a right-click Install
# runs them: each INF is taken from the floppy image with its DLL, installed
# (DefaultInstall), its file and registry entries checked, then uninstalled
# (DefaultUninstall) and the entries checked gone. Starts without them.
# Runs inside a Wine session (scripts/test.sh). Usage: inf_test.sh IMAGE
set -uo pipefail
image=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
system=$WINEPREFIX/drive_c/windows/system32
nt='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
clsid='HKCR\CLSID\{7546D600-BBBE-11D0-9232-00609760A35B}'
handlers='HKLM\Software\Microsoft\Windows\CurrentVersion\Controls Folder\Display\shellex\PropertySheetHandlers'

check() { # what, expected, actual
  if [ "$2" == "$3" ]; then echo "ok: $1 = $3"; else echo "FAILED: $1: expected $2, got $3"; failures=$((failures + 1)); fi
}

# An entry is "key|value name|type data"; an empty name is the key's default value.
value() { # entry: "type data" of the value, or "absent"
  local key name which=(/ve) out
  IFS='|' read -r key name _ <<<"$1"
  [ -n "$name" ] && which=(/v "$name")
  out=$(wine reg query "$key" "${which[@]}" 2>/dev/null | tr -d '\r') || { echo absent; return; }
  out=$(awk -F'    ' 'NF >= 4 { print $3 " " $4; exit }' <<<"$out")
  [ -z "$out" ] || [[ $out == *"(value not set)"* ]] && out=absent
  echo "$out"
}

remove() { # entry
  local key name which=(/ve)
  IFS='|' read -r key name _ <<<"$1"
  [ -n "$name" ] && which=(/v "$name")
  wine reg delete "$key" "${which[@]}" /f >/dev/null 2>&1
}

setup() { # section, INF: rundll32 needs the INF's absolute path (Z: is /)
  wine rundll32 setupapi.dll,InstallHinfSection "$1" 128 "Z:$(tr / '\\' <<<"$work/$2")" >/dev/null 2>&1
}

try() { # INF on the disk, the DLL it installs, its entries
  local inf=$1 dll=$2 entry
  shift 2
  rm -f "$system/$dll"
  for entry; do remove "$entry"; done
  setup DefaultInstall "$inf"
  check "$inf: $dll in the system folder" "the disk's" \
    "$(cmp -s "$work/${dll^^}" "$system/$dll" && echo "the disk's" || echo "missing or another")"
  for entry; do check "$inf: ${entry%|*}" "${entry##*|}" "$(value "$entry")"; done
  setup DefaultUninstall "$inf"
  check "$inf uninstalled: $dll" absent "$([ -e "$system/$dll" ] && echo present || echo absent)"
  for entry; do check "$inf uninstalled: ${entry%|*}" absent "$(value "$entry")"; done
}

mcopy -n -i "$image" ::OEMSETUP.INF ::ZENTACAP.DLL ::QORDEXA.INF ::QORDEXA.DLL "$work/" ||
  { echo "FAILED: files from $image"; exit 1; }
try OEMSETUP.INF zentacap.dll \
  "$nt\\Drivers32|msvideo|REG_SZ zentacap.dll" \
  "$nt\\drivers.desc|zentacap.dll|REG_SZ Brightvane 7K42Q VideoIn"
try QORDEXA.INF qordexa.dll \
  "$clsid||REG_SZ Brightvane 7K42Q Display Properties" \
  "$clsid\\InProcServer32||REG_EXPAND_SZ %SystemRoot%\\System32\\qordexa.dll" \
  "$clsid\\InProcServer32|ThreadingModel|REG_SZ Apartment" \
  "$handlers\\Brightvane 7K42Q||REG_SZ {7546D600-BBBE-11D0-9232-00609760A35B}"

echo "$(( failures == 0 ? 1 : 0 )) passed, $(( failures == 0 ? 0 : 1 )) failed"
[ "$failures" -eq 0 ]
