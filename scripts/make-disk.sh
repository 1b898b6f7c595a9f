#!/usr/bin/env bash
# Makes the driver disk from the built DLLs and programs: stripped copies of
# the two DLLs and of capture.exe and vfwcheck.exe, the INF files and
# README.TXT, under 8.3 names and with CR-LF line ends, as a zip and as a
# 1.44 MB FAT12 floppy image; prints the images' sizes and the floppy's free
# space (what does not fit fails the copy onto it).
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

for image in zentacap.dll qordexa.dll capture.exe vfwcheck.exe; do
  i686-w64-mingw32-strip -o "$stage/${image^^}" "$bin/$image"
  printf '%-12s %7d bytes (built: %d bytes)\n' "${image^^}" \
    "$(stat -c %s "$stage/${image^^}")" "$(stat -c %s "$bin/$image")"
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
echo "free on the floppy: $(mdir -i "$out/$name.img" :: | sed -n 's/^ *\([0-9 ]*\) bytes free$/\1/p' | tr -d ' ') bytes"
echo "driver disk: $out/$name.img, $out/$name.zip"
