#!/usr/bin/env bash
# The Linux product flavour against the real kernel IPMI driver: boots two small VMs under QEMU
# (TCG), side by side, each with a BMC on a KCS interface, runs vm/init.sh in them and reads the
# verdicts off their serial consoles:
#   qemu    QEMU's own simulated BMC (ipmi-bmc-sim): reads against ipmitool, updates refused;
#   extern  our simulated BMC (bmcsim serve) behind QEMU's external-BMC device: the updates run
#           for real, and this script answers the guest's "VMTEST HOST" requests by reading
#           (and injecting faults into) the BMC's state directory.
# The kernel, busybox and ipmitool come from Debian packages, downloaded once into BUILD/vm-cache.
# Usage: vm/vmtest.sh [BUILD_DIR] [MACHINE...]   (default: build, both machines; ./dev.sh vmtest
# builds and calls this). VMTEST_TIMEOUT: seconds a VM may run (default 300).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
shift || true
machines=("$@")
[ ${#machines[@]} -gt 0 ] || machines=(qemu extern)
cache=$build/vm-cache
work=$build/vmtest
timeout_s=${VMTEST_TIMEOUT:-300}
multiarch=x86_64-linux-gnu
started=$(date +%s)

say() { printf '== vmtest: %s\n' "$*"; }
die() { printf 'vmtest: %s\n' "$*" >&2; exit 1; }

for program in veltrop Korvane bmcsim kernel_driver_bench kernel_maintenance_mode; do
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
  cp "$build/bin/kernel_driver_bench" "$build/bin/kernel_maintenance_mode" "$dir/usr/bin/"
  cp "$cache/root/usr/bin/ipmitool" "$dir/usr/bin/ipmitool"
  cp "$root"/vm/*_bmc_checks.sh "$dir/vmtest/"
  local program
  for program in "$build/bin/veltrop" "$build/bin/Korvane" "$build/bin/kernel_driver_bench" \
    "$build/bin/kernel_maintenance_mode" "$cache/root/usr/bin/ipmitool"; do
    copy_libraries "$program" "$dir"
  done
  cp "$root/examples/bmcsdr_v2.sdr" "$dir/vmtest/bmcsdr.sdr"
  cp "$work/bmcfw.bin" "$work/bmcfw2.bin" "$work/real.sdr" "$dir/vmtest/"
  # What the guest checks against besides ipmitool: the identity QEMU was given and the
  # version comparisons the packages must produce (the BMC's 01.20 against the file's 01.50).
  cat >"$dir/vmtest/expect-qemu.conf" <<EOF
EXPECT_DEVICE_ID=$((bmc_device_id))
EXPECT_PRODUCT_ID=$(printf '%04x' $((bmc_product_id)))
EXPECT_FIRMWARE=$(printf '%d.%02x' $((bmc_fwrev1)) $((bmc_fwrev2)))
EXPECT_SDR_VERSION=${sdr_version_text:12:5}
EXPECT_SDR_CMP=Upper
SDR_PACKAGE_VERSION=01.50
FW_PACKAGE_VERSION=02.40
EOF
  cat >"$dir/vmtest/expect-extern.conf" <<EOF
EXPECT_DEVICE_ID=$((extern_device_id))
EXPECT_PRODUCT_ID=$(printf '%04x' $((bmc_product_id)))
EXPECT_FIRMWARE=2.30
SDR_PACKAGE_VERSION=01.50
FW_PACKAGE_VERSION=02.40
EOF
  (cd "$dir" && find . | "$cache/root/bin/busybox" cpio -o -H newc 2>/dev/null) >"$work/initramfs.cpio"
}

# The second machine's BMC: dual-bank (device ID 38h) with 256-KiB banks, running bank 1 with
# firmware 02.30, holding one real server's repository; the package brings another's as an SDR
# text file (as a vendor's tool would write it from the raw records), and two firmware images of 160 KiB (the first 64 KiB of each are the kept boot
# block).
extern_device_id=0x38
extern_image_bytes=163840
write_sdr_text() { # RAW-RECORDS FILE
  {
    printf "_LF_NAME 'real.sdr'\n_LF_VERSION '1.50'\n_LF_FMT_VER '1.5'\n_SDR_VERSION 1.50\n_SDR\n(\n"
    printf "_START_ADDR 0000\n_DATA_LEN 0000\n_NVS_TYPE 'IMBDEVICE'\n_DEV_BUS 00\n_DEV_ADDRESS 20\n"
    # The project's SDR version and configuration name records, then the server's own.
    printf "_SDR_TYPE C0\n_REC_LEN 19\n01 00 51 C0 14 2D 9B 4E 'S2026120800001.50'\n"
    printf "_SDR_TYPE C0\n_REC_LEN 10\n02 00 51 C0 0B 2D 9B 4E 16 'SVR0100'\n"
    od -An -tx1 -v "$1" | tr -s ' \n' '\n\n' | sed '/^$/d' | awk '
      function flush(  i) {
        if (!n) return
        printf "_SDR_TYPE %s\n_REC_LEN %02X\n", toupper(r[3]), n
        for (i = 0; i < n; i++) printf "%s%s%s", (i % 16 ? " " : "  "), toupper(r[i]), (i % 16 == 15 || i == n - 1 ? "\n" : "")
        n = 0
        want = 0
      }
      {
        r[n++] = $1
        if (n == 5) want = 5 + index("0123456789abcdef", substr($1, 1, 1)) * 16 - 16 + index("0123456789abcdef", substr($1, 2, 1)) - 1
        if (want && n == want) flush()
      }
      END { flush() }'
    echo ")"
  } >"$2"
}
start_extern_bmc() {
  local dir=$work/extern-bmc
  "$build/bin/bmcsim" init "$dir" --device-id $extern_device_id --product-id $bmc_product_id \
    --manufacturer 0x4e9b2d --fw-rev 02.30 --bank-size 0x40000 >/dev/null
  "$build/bin/bmcsim" load-sdr "$dir" "$root/tests/data/real-sdr/server12.bin" >/dev/null
  rm -f "$work/extern.sock"
  "$build/bin/bmcsim" serve "$dir" --socket "$work/extern.sock" >"$work/bmcsim-serve.log" 2>&1 &
  serve_pid=$!
  for _ in $(seq 100); do
    [ -S "$work/extern.sock" ] && return 0
    kill -0 "$serve_pid" 2>/dev/null || break
    sleep 0.1
  done
  die "bmcsim serve did not start: $(cat "$work/bmcsim-serve.log")"
}

# The guest's requests about the external BMC's state directory; one line of answer, "ok" or
# what differs.
host_request() { # VERB ARGS...
  local bmc=$work/extern-bmc verb=$1
  shift
  case "$verb" in
    fault)
      "$build/bin/bmcsim" fault "$bmc" add "$@" >/dev/null 2>&1 && echo ok || echo "fault rule refused: $*" ;;
    fault-clear)
      "$build/bin/bmcsim" fault "$bmc" clear >/dev/null 2>&1 && echo ok || echo "fault rules not cleared" ;;
    sdr) # MD5: the guest's backup record area is the active repository?
      "$build/bin/bmcsim" export-sdr "$bmc" "$work/export.sdr" >/dev/null 2>&1 || { echo "export-sdr failed"; return; }
      if [ "$(md5sum <"$work/export.sdr" | cut -d' ' -f1)" = "$1" ]; then echo ok; else
        echo "the backup differs from bmcsim export-sdr ($(stat -c %s "$work/export.sdr") bytes)"; fi ;;
    flash) # IMAGE BANK...: each bank holds the image past the kept 64-KiB boot block
      local image=$work/$1 bank
      shift
      for bank in "$@"; do
        "$build/bin/bmcsim" export-flash "$bmc" "$work/bank$bank.bin" --bank "$bank" \
          --length "$(stat -c %s "$image")" >/dev/null 2>&1 || { echo "export-flash failed"; return; }
        cmp -s <(tail -c +65537 "$image") <(tail -c +65537 "$work/bank$bank.bin") ||
          { echo "bank $bank does not hold ${image##*/}"; return; }
      done
      echo ok ;;
    state) # SELECTOR: the image selector names it, channel 2 as set up, the update lock free
      "$build/bin/bmcsim" show "$bmc" | python3 -c "
import json, sys
s = json.load(sys.stdin); c = s['channel2']; f = s['firmware']; problems = []
if f['image_selector'] != $1: problems.append('image selector %d' % f['image_selector'])
if f['running_bank'] != 1: problems.append('running bank %d' % f['running_bank'])
for k in ('volatile', 'nonvolatile'):
    if (c[k]['access'], c[k]['privilege']) != (0x22, 4): problems.append('channel 2 %s %r' % (k, c[k]))
if s['lock']['held']: problems.append('update lock held')
print('; '.join(problems) or 'ok')" 2>&1 | tail -n 1 ;;
    *) echo "unknown request $verb" ;;
  esac
}

# run_machine NAME QEMU-DEVICE-ARGS...: boots the VM, relays its verdict lines, answers its host
# requests on the console's input; the console goes to $work/NAME-console.log.
run_machine() {
  local name=$1 line reply relay
  shift
  local in=$work/$name.in
  mkfifo "$in"
  exec {relay}<>"$in"
  (
    set +e
    timeout -k 5 "$timeout_s" qemu-system-x86_64 \
      -machine pc,accel=tcg -cpu qemu64 -smp 1 -m 512 \
      -display none -monitor none -serial stdio -no-reboot -nic none \
      -kernel "$kernel" -initrd "$work/initramfs.cpio" \
      -append "console=ttyS0 quiet loglevel=3 panic=-1 mitigations=off vmtest.machine=$name" \
      "$@" <"$in" 2>&1
    echo "VMTEST QEMU-STATUS $?"
  ) | sed -u 's/\r$//' | tee "$work/$name-console.log" | while IFS= read -r line; do
    case "$line" in
      "VMTEST HOST "*)
        # shellcheck disable=SC2086 # the request's words are its arguments
        reply=$(host_request ${line#VMTEST HOST })
        printf '%s\n' "$reply" >&$relay
        printf '== %s: host %s: %s\n' "$name" "${line#VMTEST HOST }" "$reply"
        ;;
      "VMTEST QEMU-STATUS "*) echo "${line#VMTEST QEMU-STATUS }" >"$work/$name.qemu-status" ;;
      VMTEST*) printf '== %s: %s\n' "$name" "${line#VMTEST }" ;;
    esac
  done
  exec {relay}>&-
}

# The machine's verdict from its console; 0 when it passed.
verdict() { # NAME SECONDS
  local name=$1 seconds=$2 console=$work/$1-console.log status summary
  status=$(cat "$work/$name.qemu-status" 2>/dev/null || echo "?")
  summary=$(grep '^VMTEST DONE ' "$console" | tail -n 1 || true)
  if [ "$status" = 124 ] || [ "$status" = 137 ]; then
    say "$name FAILED: the VM did not finish within $timeout_s s (console: $console)"
    tail -n 20 "$console"
    return 1
  fi
  if [ -z "$summary" ]; then
    say "$name FAILED: no summary from the VM after $seconds s (QEMU status $status; console: $console)"
    tail -n 20 "$console"
    return 1
  fi
  if grep -q '^VMTEST FAIL ' "$console" || ! [[ "$summary" =~ fail=0$ ]]; then
    say "$name FAILED after $seconds s in the VM: $summary (console: $console)"
    return 1
  fi
  say "$name passed: ${summary#VMTEST DONE } ($seconds s in the VM)"
}

fetch
unpack
rm -rf "$work"
mkdir -p "$work"
head -c $extern_image_bytes /dev/urandom >"$work/bmcfw.bin"
head -c $extern_image_bytes /dev/urandom >"$work/bmcfw2.bin"
write_sdr_text "$root/tests/data/real-sdr/server07.bin" "$work/real.sdr"
build_initramfs
write_sdr_file "$work/bmc.sdr"
kernel=$(ls "$cache"/root/boot/vmlinuz-* | head -n 1)
say "booting $(basename "$kernel") with $(du -m "$work/initramfs.cpio" | cut -f1) MB of initramfs: ${machines[*]} (prepared in $(($(date +%s) - started)) s)"

serve_pid=""
stop_serve() {
  [ -n "$serve_pid" ] || return 0
  kill "$serve_pid" 2>/dev/null
  wait "$serve_pid" 2>/dev/null
  serve_pid=""
}
trap stop_serve EXIT
pids=()
for name in "${machines[@]}"; do
  case "$name" in
    qemu)
      run_machine qemu \
        -device "ipmi-bmc-sim,id=bmc0,device_id=$bmc_device_id,device_rev=1,fwrev1=$bmc_fwrev1,fwrev2=$bmc_fwrev2,mfg_id=0x4e9b2d,product_id=$bmc_product_id,guid=6a2b8e1c-3d4f-4a5b-9c6d-7e8f9a0b1c2d,sdrfile=$work/bmc.sdr" \
        -device isa-ipmi-kcs,bmc=bmc0 &
      ;;
    extern)
      start_extern_bmc
      run_machine extern \
        -chardev "socket,id=bmcsock,path=$work/extern.sock,reconnect=1" \
        -device ipmi-bmc-extern,id=bmc0,chardev=bmcsock -device isa-ipmi-kcs,bmc=bmc0 &
      ;;
    *) die "unknown machine $name (qemu, extern)" ;;
  esac
  pids+=($!)
done
booted=$(date +%s)
for pid in "${pids[@]}"; do wait "$pid" || true; done
seconds=$(($(date +%s) - booted))
stop_serve
failed=0
for name in "${machines[@]}"; do verdict "$name" "$seconds" || failed=1; done
[ $failed -eq 0 ] || exit 1
say "passed: ${machines[*]} in $seconds s ($(($(date +%s) - started)) s in all)"
