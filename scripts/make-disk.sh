#!/usr/bin/env bash
# Makes the driver disk from the built DLLs: stripped copies of both, their INF
# files and README.TXT, under 8.3 names and with CR-LF line ends, as a zip and
# as a 1.44 MB FAT12 floppy image; prints the DLLs' sizes.
# Usage: make-disk.sh BIN OUT VERSION  (writes OUT/brightvane-VERSION.{zip,img})
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$1 out=$2 version=$3
name=brightvane-$version
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -f "$out/$name.zip" "$out/$name.img"

for dll in zentacap qordexa; do
  i686-w64-mingw32-strip -o "$stage/${dll^^}.DLL" "$bin/$dll.dll"
  printf '%-12s %7d bytes (built: %d bytes)\n' "${dll^^}.DLL" \
    "$(stat -c %s "$stage/${dll^^}.DLL")" "$(stat -c %s "$bin/$dll.dll")"
done
text() { # source, name on the disk
  sed "s/@VERSION@/$version/; s/\r*$/\r/" "$1" >"$stage/$2"
}
text "$root/capture/oemsetup.inf" OEMSETUP.INF
text "$root/panel/qordexa.inf" QORDEXA.INF
text "$root/scripts/disk-readme.txt" README.TXT

(cd "$stage" && zip -q -X "$out/$name.zip" ./*)
mformat -i "$out/$name.img" -C -f 1440 -v BV7K42Q ::
mcopy -i "$out/$name.img" "$stage"/* ::
echo "driver disk: $out/$name.img, $out/$name.zip"
