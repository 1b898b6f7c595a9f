#!/usr/bin/env bash
# For a machine whose kernel cannot run 32-bit programs (Wine's 32-bit loader
# then does not start): runs a command inside a Debian 12 guest that can, in
# qemu with software emulation. The guest image (Wine, Xvfb, CMake, ffmpeg)
# is made once with debootstrap into build/vm; the checkout is shared at the
# same path, so the build's files and test lists work unchanged inside.
#
#   scripts/vm.sh COMMAND...    runs COMMAND in the checkout's folder; its exit status
#
# With a working /dev/kvm the guest runs under KVM at nearly native speed;
# otherwise in software emulation, about 5 to 10 times slower than a machine
# that runs Wine natively. VM_ACCEL=tcg forces software emulation.
set -euo pipefail
source "$(dirname "$0")/env.sh"
vm=$BUILD/vm
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}

need=()
command -v debootstrap >/dev/null || need+=(debootstrap)
command -v qemu-system-x86_64 >/dev/null || need+=(qemu-system-x86)
command -v mke2fs >/dev/null || need+=(e2fsprogs)
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# The guest: Debian 12 with its kernel, 32-bit Wine and what the tests use.
# Its init mounts the shared folders, runs /control/command and powers off.
if [ ! -f "$vm/root.img" ]; then
  echo "vm.sh: making the guest image in $vm (a few minutes, once)"
  rm -rf "$vm/root"
  mkdir -p "$vm"
  debootstrap --variant=minbase --include=linux-image-amd64,systemd-sysv,udev,kmod bookworm "$vm/root" "$mirror" \
    >"$vm/debootstrap.log" 2>&1
  mount -t proc proc "$vm/root/proc"; mount --bind /dev "$vm/root/dev"; mount -t sysfs sys "$vm/root/sys"
  trap 'umount "$vm/root/proc" "$vm/root/dev" "$vm/root/sys" 2>/dev/null || true' EXIT
  printf '#!/bin/sh\nexit 101\n' >"$vm/root/usr/sbin/policy-rc.d"
  chmod +x "$vm/root/usr/sbin/policy-rc.d"
  chroot "$vm/root" sh -c 'export DEBIAN_FRONTEND=noninteractive; dpkg --add-architecture i386 && apt-get update &&
    apt-get install -y --no-install-recommends wine wine32:i386 wine64 xvfb xauth cmake ffmpeg python3 procps mtools' \
    >"$vm/packages.log" 2>&1
  rm "$vm/root/usr/sbin/policy-rc.d"
  umount "$vm/root/proc" "$vm/root/dev" "$vm/root/sys"
  trap - EXIT
  cat >"$vm/root/init.sh" <<'INIT'
#!/bin/bash
exec >/dev/ttyS0 2>&1
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
mount -t proc proc /proc; mountpoint -q /sys || mount -t sysfs sys /sys; mount -t devtmpfs dev /dev 2>/dev/null
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
(cd "$checkout" && bash /control/command) >/control/output 2>&1
echo $? >/control/status
for folder in out docs; do
  [ -d "$checkout/$folder" ] && mkdir -p "/shared/$folder" && cp -a -u "$checkout/$folder/." "/shared/$folder/"
done
sync; umount /control /shared; mount -o remount,ro /; sync
echo o >/proc/sysrq-trigger
sleep 60 # init must not end before the power does
INIT
  chmod +x "$vm/root/init.sh"
  mke2fs -q -t ext4 -d "$vm/root" -L guest "$vm/root.img" 16G
  rm -rf "$vm/root.kernel"; mkdir -p "$vm/root.kernel"
  cp "$vm"/root/boot/vmlinuz-* "$vm/root.kernel/vmlinuz"
  cp "$vm"/root/boot/initrd.img-* "$vm/root.kernel/initrd.img"
  rm -rf "$vm/root"
fi

# Room for the recording tests' file past 4 GiB: an image made smaller grows.
if [ "$(stat -c %s "$vm/root.img")" -lt $((16 << 30)) ]; then
  truncate -s 16G "$vm/root.img"
  e2fsck -fy "$vm/root.img" >/dev/null 2>&1 || true
  resize2fs "$vm/root.img" >/dev/null 2>&1
fi

control=$vm/control
rm -rf "$control"; mkdir -p "$control"
echo "$ROOT" >"$control/checkout"
# The guest's prefix lives in its own disk, made once and kept.
{ echo 'export WINEPREFIX=/root/prefix'; printf '%q ' "$@"; echo; } >"$control/command"
# KVM where /dev/kvm takes a guest: a kernel booted without a root file
# system panics at once and qemu ends; where KVM cannot run one, qemu fails.
# Without SMAP: qemu 7.2's emulation faults the 32-bit returns of Wine's processes with it.
accel=(-accel tcg -cpu max,smap=off)
if [ "${VM_ACCEL:-}" != tcg ] && [ -e /dev/kvm ] &&
   timeout 60 qemu-system-x86_64 -accel kvm -cpu host -m 256 -display none -monitor none -serial none -no-reboot \
     -kernel "$vm/root.kernel/vmlinuz" -append "panic=1 root=/dev/null" >/dev/null 2>&1; then
  accel=(-accel kvm -cpu host)
fi
echo "vm.sh: the guest runs with ${accel[1]}" >&2
timeout 7200 qemu-system-x86_64 "${accel[@]}" -smp "$(nproc)" -m 6G \
  -kernel "$vm/root.kernel/vmlinuz" -initrd "$vm/root.kernel/initrd.img" \
  -append "root=/dev/vda rw console=ttyS0 panic=1 init=/init.sh" \
  -drive file="$vm/root.img",format=raw,if=virtio \
  -virtfs local,path="$control",mount_tag=control,security_model=none \
  -virtfs local,path="$ROOT",mount_tag=checkout,security_model=none \
  -display none -serial file:"$vm/console.log" -monitor none -no-reboot &
guest=$!
# The command's output, as the guest writes it.
tail -F -n +1 --pid=$guest "$control/output" 2>/dev/null || true
wait $guest || true
if [ ! -f "$control/status" ]; then
  echo "vm.sh: the guest ended without finishing the command (see $vm/console.log)" >&2
  exit 1
fi
exit "$(cat "$control/status")"
