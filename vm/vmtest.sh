#!/usr/bin/env bash
# The Linux product flavour against the real kernel IPMI driver: boots a small VM under QEMU
# (TCG) with QEMU's simulated BMC on a KCS interface, runs vm/init.sh in it and reads the
# verdicts off the serial console. The kernel, busybox and ipmitool come from Debian packages,
# downloaded once into BUILD/vm-cache.
# Usage: vm/vmtest.sh [BUILD_DIR]   (default: build; ./dev.sh vmtest builds it and calls this)
# VMTEST_TIMEOUT: seconds the VM may run (default 240).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
cache=$build/vm-cache
work=$build/vmtest
timeout_s=${VMTEST_TIMEOUT:-240}
multiarch=x86_64-linux-gnu
started=$(date +%s)

say() { printf '== vmtest: %s\n' "$*"; }
die() { printf 'vmtest: %s\n' "$*" >&2; exit 1; }

for program in veltrop Korvane; do
  [ -x "$build/bin/$program" ] || die "$build/bin/$program is missing: build the native preset first"
done
command -v qemu-system-x86_64 >/dev/null || die "qemu-system-x86_64 is missing (apt-get install qemu-system-x86)"

# The kernel package linux-image-amd64 points at, busybox-static, ipmitool and the library
# packages ipmitool needs (three levels down; the C library is the host's, as for the product).
package_names() {
  local kernel
  kernel=$(apt-cache depends linux-image-amd64 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }')
  [ -n "$kernel" ] || return 1
  local names=("$kernel" busybox-static ipmitool) level=(ipmitool) next dep
  for _ in 1 2 3; do
    [ ${#level[@]} -gt 0 ] || break
    next=()
    while read -r dep; do
      case " ${names[*]} " in *" $dep "*) continue ;; esac
      names+=("$dep")
      next+=("$dep")
    done < <(apt-cache depends --no-recommends --no-suggests "${level[@]}" |
      awk '$1 == "Depends:" && $2 ~ /^lib/ && $2 != "libc6" { print $2 }')
    level=("${next[@]}")
  done
  printf '%s\n' "${names[@]}"
}

fetch() {
  local names files missing=() f
  # What was resolved stands until apt's package lists change.
  if [ -s "$cache/debs.list" ] && [ -z "$(find /var/lib/apt/lists -newer "$cache/debs.list" -print -quit 2>/dev/null)" ]; then
    while read -r f; do [ -s "$cache/debs/$f" ] || missing+=("$f"); done <"$cache/debs.list"
    [ ${#missing[@]} -eq 0 ] && return 0
    missing=()
  fi
  mapfile -t names < <(package_names)
  [ ${#names[@]} -gt 0 ] || die "apt-cache knows no linux-image-amd64: run apt-get update"
  mkdir -p "$cache/debs"
  # From an empty directory: apt leaves out the files it finds in the current one.
  local empty
  empty=$(mktemp -d)
  mapfile -t files < <(cd "$empty" && apt-get download --print-uris "${names[@]}" | awk '{ print $2 }')
  rmdir "$empty"
  [ ${#files[@]} -eq ${#names[@]} ] || die "apt-get cannot download all of: ${names[*]}"
  for f in "${files[@]}"; do [ -s "$cache/debs/$f" ] || missing+=("$f"); done
  if [ ${#missing[@]} -gt 0 ]; then
    say "downloading ${#missing[@]} Debian packages into $cache/debs"
    local sandbox=()
    # Root's apt hands the download to the _apt user, who may not write into the build tree.
    [ "$(id -u)" -eq 0 ] && sandbox=(-o APT::Sandbox::User=root)
    (cd "$cache/debs" && apt-get -q "${sandbox[@]}" download "${names[@]}" >/dev/null)
  fi
  # Packages superseded since the last run go.
  for f in "$cache/debs"/*.deb; do
    case " ${files[*]} " in *" ${f##*/} "*) ;; *) rm -f "$f" ;; esac
  done
  printf '%s\n' "${files[@]}" | sort >"$cache/debs.list"
}

unpack() {
  local root_dir=$cache/root
  if [ -f "$root_dir/.debs" ] && cmp -s "$root_dir/.debs" "$cache/debs.list"; then return 0; fi
  say "unpacking into $root_dir"
  rm -rf "$root_dir"
  mkdir -p "$root_dir"
  local deb
  while read -r deb; do
    case "$deb" in
      linux-image-*)
        # Only the kernel and the IPMI modules of the 70-MB package.
        dpkg-deb --fsys-tarfile "$cache/debs/$deb" |
          tar -x -C "$root_dir" --wildcards './boot/vmlinuz-*' './lib/modules/*/kernel/drivers/char/ipmi/*'
        ;;
      *) dpkg-deb -x "$cache/debs/$deb" "$root_dir" ;;
    esac
  done <"$cache/debs.list"
  cp "$cache/debs.list" "$root_dir/.debs"
}

# Copies a dynamically linked program's libraries into the initramfs, as ldd resolves them
# (the unpacked packages first, then the host's).
copy_libraries() {
  local program=$1 initramfs=$2 line lib
  local libpath=$cache/root/usr/lib/$multiarch:$cache/root/lib/$multiarch
  while read -r line; do
    case "$line" in
      *"not found"*) die "$program: ${line%% =>*} not found" ;;
      *"=> /"*) lib=${line#*=> }; lib=${lib%% (*} ;;
      /*) lib=${line%% (*} ;;
      *) continue ;;
    esac
    case "$lib" in
      */ld-linux-x86-64.so.2) cp -L "$lib" "$initramfs/lib64/ld-linux-x86-64.so.2" ;;
      *) cp -L "$lib" "$initramfs/lib/$multiarch/${lib##*/}" ;;
    esac
  done < <(LD_LIBRARY_PATH=$libpath ldd "$program")
}

# QEMU's BMC: its identity, and an SDR repository of the project's SDR version and
# configuration records followed by one captured from a real server. QEMU numbers the records.
# Device ID 30h is a single-bank target of the firmware tool; QEMU 7.2 answers 20h regardless,
# and the guest expects whichever the BMC reports.
bmc_device_id=0x30
bmc_product_id=0x0100
bmc_fwrev1=2
bmc_fwrev2=0x31
sdr_version_text=S2025061800001.20
write_sdr_file() {
  {
    printf '\x01\x00\x51\xc0\x14\x2d\x9b\x4e%s' "$sdr_version_text"
    printf '\x02\x00\x51\xc0\x0b\x2d\x9b\x4e\x16%s' SVR0100
    cat "$root/tests/data/real-sdr/server12.bin"
  } >"$1"
}

build_initramfs() {
  local dir=$work/initramfs
  rm -rf "$dir"
  mkdir -p "$dir"/{bin,usr/bin,lib/$multiarch,lib64,lib/modules,proc,sys,dev,tmp,run,vmtest/bin}
  cp "$cache/root/bin/busybox" "$dir/bin/busybox"
  install -m 0755 "$root/vm/init.sh" "$dir/init"
  cp "$cache"/root/lib/modules/*/kernel/drivers/char/ipmi/{ipmi_msghandler,ipmi_si,ipmi_devintf}.ko "$dir/lib/modules/"
  cp "$build/bin/veltrop" "$build/bin/Korvane" "$dir/vmtest/bin/"
  cp "$cache/root/usr/bin/ipmitool" "$dir/usr/bin/ipmitool"
  local program
  for program in "$build/bin/veltrop" "$build/bin/Korvane" "$cache/root/usr/bin/ipmitool"; do
    copy_libraries "$program" "$dir"
  done
  cp "$root/examples/bmcsdr_v2.sdr" "$dir/vmtest/bmcsdr.sdr"
  # What the guest checks against besides ipmitool: the identity QEMU was given and the
  # version comparisons the packages must produce (the BMC's 01.20 against the file's 01.50).
  cat >"$dir/vmtest/expect.conf" <<EOF
EXPECT_DEVICE_ID=$((bmc_device_id))
EXPECT_PRODUCT_ID=$(printf '%04x' $((bmc_product_id)))
EXPECT_FIRMWARE=$(printf '%d.%02x' $((bmc_fwrev1)) $((bmc_fwrev2)))
EXPECT_SDR_VERSION=${sdr_version_text:12:5}
EXPECT_SDR_CMP=Upper
SDR_PACKAGE_VERSION=01.50
FW_PACKAGE_VERSION=02.40
EOF
  (cd "$dir" && find . | "$cache/root/bin/busybox" cpio -o -H newc 2>/dev/null) >"$work/initramfs.cpio"
}

fetch
unpack
rm -rf "$work"
mkdir -p "$work"
build_initramfs
write_sdr_file "$work/bmc.sdr"
kernel=$(ls "$cache"/root/boot/vmlinuz-* | head -n 1)
say "booting $(basename "$kernel") with $(du -m "$work/initramfs.cpio" | cut -f1) MB of initramfs (prepared in $(($(date +%s) - started)) s)"

booted=$(date +%s)
set +e
timeout -k 5 "$timeout_s" qemu-system-x86_64 \
  -machine pc,accel=tcg -cpu qemu64 -smp 1 -m 512 \
  -display none -monitor none -serial stdio -no-reboot -nic none \
  -kernel "$kernel" -initrd "$work/initramfs.cpio" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1 mitigations=off" \
  -device "ipmi-bmc-sim,id=bmc0,device_id=$bmc_device_id,device_rev=1,fwrev1=$bmc_fwrev1,fwrev2=$bmc_fwrev2,mfg_id=0x4e9b2d,product_id=$bmc_product_id,guid=6a2b8e1c-3d4f-4a5b-9c6d-7e8f9a0b1c2d,sdrfile=$work/bmc.sdr" \
  -device isa-ipmi-kcs,bmc=bmc0 \
  </dev/null 2>&1 | sed -u 's/\r$//' | tee "$work/console.log" | grep --line-buffered '^VMTEST'
qemu_status=${PIPESTATUS[0]}
set -e
seconds=$(($(date +%s) - booted))

summary=$(grep '^VMTEST DONE ' "$work/console.log" | tail -n 1 || true)
if [ "$qemu_status" -eq 124 ] || [ "$qemu_status" -eq 137 ]; then
  say "FAILED: the VM did not finish within $timeout_s s (console: $work/console.log)"
  tail -n 20 "$work/console.log"
  exit 1
fi
if [ -z "$summary" ]; then
  say "FAILED: no summary from the VM after $seconds s (QEMU status $qemu_status; console: $work/console.log)"
  tail -n 20 "$work/console.log"
  exit 1
fi
if grep -q '^VMTEST FAIL ' "$work/console.log" || ! [[ "$summary" =~ fail=0$ ]]; then
  say "FAILED after $seconds s in the VM: $summary (console: $work/console.log)"
  exit 1
fi
say "passed: ${summary#VMTEST DONE } ($seconds s in the VM, $(($(date +%s) - started)) s in all)"
