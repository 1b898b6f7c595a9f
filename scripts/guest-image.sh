#!/usr/bin/env bash
# Makes the guest of vm.sh in the folder given: a Debian 12 image with its
# kernel, 32-bit Wine and what the tests use (Xvfb, CMake, ffmpeg, GStreamer,
# Python, mtools). Its init mounts the shared folders, copies the checkout in, runs
# /control/command and powers off. vm.sh keeps the image in a cache folder
# named by the hash of this file (and of what makes its Wine prefix): change
# what it makes, and the next run makes it anew.
#
#   scripts/guest-image.sh FOLDER     (root.img and root.kernel/ in FOLDER)
set -euo pipefail
out=$1
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
rm -rf "$out/root"
mkdir -p "$out"
debootstrap --variant=minbase --include=linux-image-amd64,systemd-sysv,udev,kmod bookworm "$out/root" "$mirror" \
  >"$out/debootstrap.log" 2>&1
mount -t proc proc "$out/root/proc"; mount --bind /dev "$out/root/dev"; mount -t sysfs sys "$out/root/sys"
trap 'umount "$out/root/proc" "$out/root/dev" "$out/root/sys" 2>/dev/null || true' EXIT
printf '#!/bin/sh\nexit 101\n' >"$out/root/usr/sbin/policy-rc.d"
chmod +x "$out/root/usr/sbin/policy-rc.d"
chroot "$out/root" sh -c 'export DEBIAN_FRONTEND=noninteractive; dpkg --add-architecture i386 && apt-get update &&
  apt-get install -y --no-install-recommends wine wine32:i386 wine64 xvfb xauth cmake ffmpeg python3 procps mtools \
    gstreamer1.0-tools gstreamer1.0-plugins-good' \
  >"$out/packages.log" 2>&1
rm "$out/root/usr/sbin/policy-rc.d"
umount "$out/root/proc" "$out/root/dev" "$out/root/sys"
trap - EXIT
cat >"$out/root/init.sh" <<'INIT'
#!/bin/bash
exec >/dev/ttyS0 2>&1
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
mount -t proc proc /proc; mountpoint -q /sys || mount -t sysfs sys /sys; mount -t devtmpfs dev /dev 2>/dev/null
booted=$(cut -d' ' -f1 /proc/uptime)
mkdir -p /dev/pts /dev/shm; mount -t devpts devpts /dev/pts; mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp; mount -t tmpfs tmpfs /run
modprobe 9pnet_virtio; modprobe 9p
options=trans=virtio,version=9p2000.L,msize=262144
mkdir -p /control && mount -t 9p -o $options control /control
# Wine does not load programs from the shared folder (they fault at their
# first import): the checkout is copied, to the same path, and what the
# command writes to out/ and docs/ is copied back.
checkout=$(cat /control/checkout)
mkdir -p /shared "$checkout" && mount -t 9p -o $options checkout /shared && mount -t tmpfs tmpfs "$checkout"
tar -C /shared --exclude=./build/vm --exclude=./build/wineprefix -cf - . | tar -C "$checkout" -xf -
echo "guest: booted in ${booted%.*} s, checkout copied by $(cut -d' ' -f1 /proc/uptime | cut -d. -f1) s" >/control/output
(cd "$checkout" && bash /control/command) >>/control/output 2>&1
echo $? >/control/status
for folder in out docs; do
  [ -d "$checkout/$folder" ] && mkdir -p "/shared/$folder" && cp -a -u "$checkout/$folder/." "/shared/$folder/"
done
sync; umount /control /shared; mount -o remount,ro /; sync
echo o >/proc/sysrq-trigger
sleep 60 # init must not end before the power does
INIT
chmod +x "$out/root/init.sh"
mke2fs -q -t ext4 -d "$out/root" -L guest "$out/root.img" 16G >/dev/null
rm -rf "$out/root.kernel"; mkdir -p "$out/root.kernel"
cp "$out"/root/boot/vmlinuz-* "$out/root.kernel/vmlinuz"
cp "$out"/root/boot/initrd.img-* "$out/root.kernel/initrd.img"
rm -rf "$out/root"
