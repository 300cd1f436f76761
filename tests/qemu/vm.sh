#!/usr/bin/env bash
# The test bed's throw-away VM: QEMU's emulated NVMe controller, driven by
# the Linux NVMe driver of Debian's cloud kernel, with a busybox userland and
# nvme-cli. Everything comes from Debian's packages.
#
#   vm.sh setup                       install what is missing (root)
#   vm.sh accelerator                 "kvm" when a probe VM boots under KVM in time, else "tcg"
#   vm.sh run [options] PAYLOAD OUT   boot, run PAYLOAD/run.sh as root, copy its /out to OUT
#
# run options: --ns SPEC (a namespace instead of the default 1 GiB one;
# SPEC = SIZE[,nvme-ns properties]; "none" for no namespace; repeatable),
# --nvme-opts 'k=v,...' (more properties of the controller), --serial S
# (the controller's serial number; default QNVME0001), --controller
# SERIAL:SIZE,SIZE... (another controller on a root port of its own, after
# the first, with namespaces of these sizes; SERIAL:none for none;
# repeatable), --accel kvm|tcg, --limit SECONDS (the whole run; default 200).
# Exit status of run: run.sh's own; 124 when the time limit was hit; 125
# when the VM could not be built or booted.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=
trap '[ -z "$work" ] || rm -rf "$work"' EXIT
packages=(qemu-system-x86 linux-image-cloud-amd64 busybox-static nvme-cli smartmontools cpio kmod xz-utils zstd)

kernel_image() { ls /boot/vmlinuz-*-cloud-amd64 2>/dev/null | sort -V | tail -n 1; }

setup() {
  local missing=() package
  for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
  done
  if ((${#missing[@]})); then
    [ "$(id -u)" = 0 ] || { echo "vm.sh: root is needed to install ${missing[*]}" >&2; return 1; }
    apt-get -o DPkg::Lock::Timeout=600 update -qq
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
  fi
  [ -n "$(kernel_image)" ] || { echo "vm.sh: no cloud kernel in /boot" >&2; return 1; }
  [ -r "$(kernel_image)" ] || { echo "vm.sh: the kernel is readable by root only" >&2; return 1; }
}

# Copies an ELF file's shared libraries (as ldd finds them here) into $1.
copy_libraries() {  # root file
  local library
  for library in $(ldd "$2" 2>/dev/null | grep -o '/[^ ]*' || true); do
    [ -e "$1$library" ] || { mkdir -p "$1$(dirname "$library")"; cp -L "$library" "$1$library"; }
  done
}

# The initramfs: busybox, nvme-cli, the drivers, the init and the payload.
build_initramfs() {  # work payload-or-empty init
  local work=$1 payload=$2 init=$3 root=$1/root kernel version line module
  kernel=$(kernel_image)
  version=${kernel##*/vmlinuz-}
  mkdir -p "$root"/{bin,etc,lib/modules,payload,usr/sbin}
  cp /bin/busybox "$root/bin/busybox"
  cp "$init" "$root/init"
  chmod 755 "$root/init"
  : > "$root/etc/modules.order"
  if [ -n "$payload" ]; then
    local tool
    for tool in /usr/sbin/nvme /usr/sbin/smartctl; do  # the peers quellix is compared with
      [ -x "$tool" ] || continue
      cp -L "$tool" "$root$tool"
      copy_libraries "$root" "$tool"
    done
    cp -a "$payload/." "$root/payload/"
    while IFS= read -r -d '' file; do
      if [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ]; then copy_libraries "$root" "$file"; fi
    done < <(find "$payload" -type f -print0)
    # Drivers in load order, decompressed for busybox insmod; built-in ones need nothing.
    for module in nvme virtio_pci virtio_blk; do
      while read -r line; do
        case $line in insmod\ *) ;; *) continue ;; esac
        local path=${line#insmod } name
        name=$(basename "${path%.ko*}").ko
        if grep -qx "$name" "$root/etc/modules.order"; then continue; fi
        case $path in
          *.xz) xz -dc "$path" ;; *.zst) zstd -qdc "$path" ;; *.gz) gzip -dc "$path" ;; *) cat "$path" ;;
        esac > "$root/lib/modules/$name"
        echo "$name" >> "$root/etc/modules.order"
      done < <(modprobe -S "$version" --show-depends "$module" 2>/dev/null)
    done
  fi
  (cd "$root" && find . | cpio -o -H newc -R 0:0 --quiet) > "$work/initrd"
}

# KVM hangs the guest on some hosts: it is used only when a VM that powers
# off at once does so under KVM within a short time.
accelerator() {
  [ -w /dev/kvm ] || { echo tcg; return; }
  work=$(mktemp -d)
  printf '#!/bin/busybox sh\n/bin/busybox echo quellix-probe-ok\n/bin/busybox poweroff -f\n' > "$work/init"
  build_initramfs "$work" "" "$work/init"
  if timeout -k 2 20 qemu-system-x86_64 -nodefaults -no-user-config -no-reboot -machine q35 -accel kvm -m 256 \
       -display none -serial "file:$work/console" -kernel "$(kernel_image)" -initrd "$work/initrd" \
       -append "console=ttyS0 panic=-1 quiet" </dev/null >/dev/null 2>&1 &&
     grep -q quellix-probe-ok "$work/console"; then
    echo kvm
  else
    echo tcg
  fi
  rm -rf "$work"
  work=
}

run() {
  local specs=() options="" accel="" limit=200 serial=QNVME0001 controllers=()
  while (($#)); do
    case $1 in
      --ns) specs+=("$2"); shift 2 ;;
      --serial) serial=$2; shift 2 ;;
      --controller) controllers+=("$2"); shift 2 ;;
      --nvme-opts) options=",$2"; shift 2 ;;
      --accel) accel=$2; shift 2 ;;
      --limit) limit=$2; shift 2 ;;
      *) break ;;
    esac
  done
  local payload=$1 out=$2
  [ -f "$payload/run.sh" ] || { echo "vm.sh: no run.sh in $payload" >&2; return 125; }
  [ -n "$accel" ] || accel=$(accelerator)
  work=$(mktemp -d)
  build_initramfs "$work" "$payload" "$here/vm/guest-init" || return 125

  local devices=(-device pcie-root-port,id=rp0,bus=pcie.0,chassis=1) namespaces=0 i=0 spec size properties
  if ((${#specs[@]} == 0)); then
    truncate -s 1G "$work/ns0.img"
    devices+=(-drive "file=$work/ns0.img,if=none,id=ns0,format=raw,cache=unsafe"
              -device "nvme,id=nvme0,bus=rp0,serial=$serial,drive=ns0$options")
    namespaces=1
  else
    devices+=(-device "nvme,id=nvme0,bus=rp0,serial=$serial$options")
    for spec in "${specs[@]}"; do
      [ "$spec" = none ] && continue
      i=$((i + 1))
      size=${spec%%,*}
      properties=""
      [[ $spec == *,* ]] && properties=",${spec#*,}"
      truncate -s "$size" "$work/ns$i.img"
      devices+=(-drive "file=$work/ns$i.img,if=none,id=ns$i,format=raw,cache=unsafe"
                -device "nvme-ns,drive=ns$i,bus=nvme0$properties")
      namespaces=$((namespaces + 1))
    done
  fi
  local c=0 controller sizes
  for controller in "${controllers[@]}"; do
    c=$((c + 1))
    sizes=${controller#*:}
    devices+=(-device "pcie-root-port,id=rp$c,bus=pcie.0,chassis=$((c + 1))"
              -device "nvme,id=nvme$c,bus=rp$c,serial=${controller%%:*}")
    [ "$sizes" = none ] && continue
    for size in ${sizes//,/ }; do
      i=$((i + 1))
      truncate -s "$size" "$work/ns$i.img"
      devices+=(-drive "file=$work/ns$i.img,if=none,id=ns$i,format=raw,cache=unsafe"
                -device "nvme-ns,drive=ns$i,bus=nvme$c")
      namespaces=$((namespaces + 1))
    done
  done
  truncate -s 256M "$work/transfer.img"
  mkdir -p "$out"
  local status=0
  timeout -k 5 "$limit" qemu-system-x86_64 -nodefaults -no-user-config -no-reboot -machine q35 -accel "$accel" \
    -smp 1 -m 512 -display none -serial "file:$work/console" -kernel "$(kernel_image)" -initrd "$work/initrd" \
    -append "console=ttyS0 panic=-1 quiet quellix.limit=$((limit - 20)) quellix.namespaces=$namespaces quellix.controllers=$((c + 1))" \
    "${devices[@]}" -drive "file=$work/transfer.img,if=none,id=transfer,format=raw" \
    -device virtio-blk-pci,drive=transfer,bus=pcie.0 </dev/null >"$work/qemu.log" 2>&1 || status=$?
  mkdir -p "$out/_vm"
  cp "$work/console" "$out/_vm/console.log" 2>/dev/null || true
  cp "$work/qemu.log" "$out/_vm/qemu.log"
  echo "$accel" > "$out/_vm/accelerator"
  if [ "$status" = 124 ] || [ "$status" = 137 ]; then
    echo "vm.sh: the VM did not end within $limit s ($accel); console:" >&2
    tail -n 30 "$work/console" >&2
    return 124
  fi
  if ! tar -xf "$work/transfer.img" -C "$out" --no-same-owner 2>/dev/null || [ ! -f "$out/_vm/rc" ]; then
    echo "vm.sh: the VM returned no results (qemu status $status); console:" >&2
    tail -n 30 "$work/console" >&2
    tail -n 5 "$work/qemu.log" >&2
    return 125
  fi
  return "$(cat "$out/_vm/rc")"
}

command=${1:-}
shift || true
case $command in
  setup) setup ;;
  accelerator) accelerator ;;
  run) run "$@" ;;
  *) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
