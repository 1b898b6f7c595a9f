#!/usr/bin/env bash
# For a machine whose kernel cannot run 32-bit programs (Wine's 32-bit loader
# then does not start): runs a command inside a Debian 12 guest that can, in
# qemu with software emulation. The checkout is copied into the guest at the
# same path, so the build's files and test lists work unchanged inside.
#
#   scripts/vm.sh COMMAND...    runs COMMAND in the checkout's folder; its exit status
#   scripts/vm.sh --image       only makes the guest's image, where it is missing
#
# The image (Wine, Xvfb, CMake, ffmpeg, and a 32-bit Wine prefix) is made once
# by guest-image.sh and a first boot, about 5 minutes, and kept in the
# machine's cache (VM_CACHE, else ~/.cache/brightvane-guest), named by the
# hash of the files that make it, so clones of this machine share it. Each
# run works on a throw-away overlay (qemu's snapshot): the guest always starts
# as made. Only out/ and docs/ come back to the checkout.
#
# With a working /dev/kvm the guest runs under KVM at nearly native speed;
# otherwise in software emulation, about 5 to 10 times slower than a machine
# that runs Wine natively. VM_ACCEL=tcg forces software emulation.
set -euo pipefail
source "$(dirname "$0")/env.sh"
cache=${VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/brightvane-guest}
key=$(cat "$ROOT/scripts/guest-image.sh" "$ROOT/scripts/prefix.sh" "$ROOT/scripts/env.sh" | sha256sum | cut -c1-16)
image=$cache/$key
run=$BUILD/vm # this checkout's control folder and the guest's console

need=()
command -v debootstrap >/dev/null || need+=(debootstrap)
command -v qemu-system-x86_64 >/dev/null || need+=(qemu-system-x86)
command -v mke2fs >/dev/null || need+=(e2fsprogs)
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# Runs the command in the guest of the image in $1: on an overlay, or
# writing the image itself with $2 = writable.
boot() {
  local vm=$1 mode=$2
  shift 2
  local control=$run/control
  rm -rf "$control"; mkdir -p "$control"
  echo "$ROOT" >"$control/checkout"
  { echo 'export WINEPREFIX=/root/prefix'; printf '%q ' "$@"; echo; } >"$control/command"
  # KVM where /dev/kvm takes a guest: a kernel booted without a root file
  # system panics at once and qemu ends; where KVM cannot run one, qemu fails.
  # Without SMAP: qemu 7.2's emulation faults the 32-bit returns of Wine's processes with it.
  local accel=(-accel tcg -cpu max,smap=off) snapshot=on
  if [ "${VM_ACCEL:-}" != tcg ] && [ -e /dev/kvm ] &&
     timeout 60 qemu-system-x86_64 -accel kvm -cpu host -m 256 -display none -monitor none -serial none -no-reboot \
       -kernel "$vm/root.kernel/vmlinuz" -append "panic=1 root=/dev/null" >/dev/null 2>&1; then
    accel=(-accel kvm -cpu host)
  fi
  [ "$mode" = writable ] && snapshot=off
  echo "vm.sh: the guest runs with ${accel[1]}" >&2
  timeout 7200 qemu-system-x86_64 "${accel[@]}" -smp "$(nproc)" -m 6G \
    -kernel "$vm/root.kernel/vmlinuz" -initrd "$vm/root.kernel/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 panic=1 init=/init.sh" \
    -drive file="$vm/root.img",format=raw,if=virtio,snapshot=$snapshot \
    -virtfs local,path="$control",mount_tag=control,security_model=none \
    -virtfs local,path="$ROOT",mount_tag=checkout,security_model=none \
    -display none -serial file:"$run/console.log" -monitor none -no-reboot &
  local guest=$!
  # The command's output, as the guest writes it.
  tail -F -n +1 --pid=$guest "$control/output" 2>/dev/null || true
  wait $guest || true
  if [ ! -f "$control/status" ]; then
    echo "vm.sh: the guest ended without finishing the command (see $run/console.log)" >&2
    return 1
  fi
  return "$(cat "$control/status")"
}

mkdir -p "$cache" "$run"
exec 9>"$image.lock"
flock 9 # one run makes a missing image; the others wait for it
if [ ! -f "$image/root.img" ]; then
  started=$(date +%s)
  echo "vm.sh: making the guest image in $image (a few minutes, once)"
  rm -rf "$image.new"
  "$ROOT/scripts/guest-image.sh" "$image.new"
  boot "$image.new" writable bash scripts/prefix.sh
  mv "$image.new" "$image"
  echo "phase guest image: $(( $(date +%s) - started )) s"
fi
flock -u 9
[ "$*" = --image ] && exit 0
boot "$image" overlay "$@"
