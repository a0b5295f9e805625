#!/bin/busybox sh
# PID 1 of the test VMs (vm/vmtest.sh builds the initramfs around it). Runs the product binaries
# against the kernel's OpenIPMI driver, with ipmitool as the reference, and reports one
# "VMTEST PASS|FAIL name [detail]" line per check and a final "VMTEST DONE" line on the serial
# console. The kernel command line names the machine (vmtest.machine=qemu|extern): its BMC and
# its checks (/vmtest/<machine>_bmc_checks.sh). The VM powers off at the end whatever happens.
/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin LD_LIBRARY_PATH=/lib/x86_64-linux-gnu
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
# /run as on a distribution: the programs make their lock directory in it.
mkdir -p /run
# Kernel chatter would split the verdict lines on the shared console.
echo 1 >/proc/sys/kernel/printk
machine=$(sed -n 's/.*vmtest\.machine=\([a-z]*\).*/\1/p' /proc/cmdline)
. /vmtest/expect-$machine.conf

pass=0
fail=0
why=""
# check NAME FUNCTION...: the function returns 0 or sets $why and returns 1.
check() {
  name=$1
  shift
  why=""
  evidence=""
  from=$(elapsed)
  if "$@"; then
    echo "VMTEST PASS $name ($from-$(elapsed) s)"
    pass=$((pass + 1))
  else
    echo "VMTEST FAIL $name ${why:-failed} ($from-$(elapsed) s)"
    fail=$((fail + 1))
    for f in $evidence; do
      [ -f "$f" ] && tail -n 15 "$f" | tr -d '\r' | sed "s:^:VMTEST | ${f##*/}\: :"
    done
  fi
}
completed=""
finish() {
  # A script that stops short of its end (a shell error, a hung check cut off) must not pass.
  if [ -z "$completed" ]; then
    echo "VMTEST FAIL init-script ended before its last check"
    fail=$((fail + 1))
  fi
  echo "VMTEST DONE pass=$pass fail=$fail"
  sync
  poweroff -f
  sleep 5
  echo o >/proc/sys/kernel/sysrq 2>/dev/null
}
trap finish EXIT

elapsed() { cut -d' ' -f1 /proc/uptime; }
xml() { { tr -d '\r\n' <"$1"; } 2>/dev/null | sed -n "s:.*<$2>\([^<]*\)</$2>.*:\1:p"; }
hex() { od -An -tx1 -v "$@" | tr -s ' \n' '  ' | sed 's/^ //; s/ $//'; }
# Sum of bytes modulo 256 over COUNT bytes from OFFSET.
bytesum() { od -An -tu1 -v -j"$2" -N"$3" "$1" | awk '{for (i = 1; i <= NF; i++) s += $i} END {print s % 256}'; }
raw() { ipmitool raw "$@" 2>/dev/null | tr -s ' \n' '  ' | sed 's/^ //; s/ $//'; }
expect_code() { # FILE CODE
  [ -f "$1" ] || { why="$1 missing"; return 1; }
  got=$(xml "$1" result_code)
  [ "$got" = "$2" ] || { why="$1: result_code '$got', expected '$2'"; return 1; }
}
expect_line() { # FILE TEXT
  grep -qF "$2" "$1" 2>/dev/null || { why="$1 lacks '$2'"; return 1; }
}

# The package as an update manager unpacks it: veltrop's part below the directory holding
# ExUpInfo.xml (its result files go there); Korvane with its own files in a directory of its own.
sdr=/pkg/sdr
fw=/pkg/fw
mkdir -p $sdr $fw
cp /vmtest/bin/veltrop /bin/veltrop
cp /vmtest/bin/Korvane $fw/Korvane
cp /vmtest/bmcsdr.sdr $sdr/
printf '<?xml version="1.0" encoding="UTF-8"?>\n<ExUpInfo><version>%s</version></ExUpInfo>\n' \
  "$SDR_PACKAGE_VERSION" >/pkg/ExUpInfo.xml
printf '<?xml version="1.0" encoding="UTF-8"?>\n<ExUpInfo><version>%s</version></ExUpInfo>\n' \
  "$FW_PACKAGE_VERSION" >$fw/ExUpInfo.xml
cp /vmtest/bmcfw.bin $fw/bmcfw.bin
# Results and logs of the previous check out of the way, so each check reads only its own.
clean_results() {
  rm -f /pkg/*.xml_tmp /pkg/Get_*.xml /pkg/Update_*.xml $sdr/*.log
  rm -f $fw/*.xml_tmp $fw/Get_*.xml $fw/Update_*.xml $fw/Korvane_log*
}
veltrop_in() { (cd $sdr && veltrop "$@") </dev/null >/tmp/veltrop.out 2>&1; }
korvane_in() { (cd $fw && ./Korvane "$@") </dev/null >/tmp/korvane.out 2>&1; }

insmod /lib/modules/ipmi_msghandler.ko
insmod /lib/modules/ipmi_si.ko
echo "VMTEST INFO modules ipmi_msghandler ipmi_si loaded at $(elapsed)s: $(dmesg | grep -i 'ipmi_si' | tail -n 3 | tr '\n' ';')"

# --- without the device interface module: no driver to open ---------------------------------
no_driver() {
  evidence="$sdr/veltrop_version.log /pkg/Get_version.xml $fw/Korvane_log1.txt $fw/Get_version.xml"
  ls /dev/ipmi0 /dev/ipmi/0 /dev/ipmidev/0 >/dev/null 2>&1 && { why="a device node exists already"; return 1; }
  clean_results
  veltrop_in -version -sdr bmcsdr.sdr || { why="veltrop exit status $?"; return 1; }
  expect_code /pkg/Get_version.xml SDRC03 || return 1
  expect_line $sdr/veltrop_version.log "Can't open IPMI driver." || return 1
  korvane_in -version || { why="Korvane exit status $?"; return 1; }
  expect_code $fw/Get_version.xml C2 || return 1
  expect_line $fw/Korvane_log1.txt "Can't open IPMI driver." || return 1
}
check no-devintf-module no_driver

insmod /lib/modules/ipmi_devintf.ko
wait_device() {
  for _ in $(seq 150); do
    [ -c /dev/ipmi0 ] && return 0
    sleep 0.1
  done
  why="/dev/ipmi0 did not appear"
  return 1
}
check device-node wait_device
echo "VMTEST INFO /dev/ipmi0 at $(elapsed)s"

# --- identity as ipmitool reads it -----------------------------------------------------------
mcinfo() { ipmitool mc info 2>/dev/null | sed -n "s/^$1 *: *//p" | head -n 1; }
identity() {
  ipmitool mc info >/tmp/mcinfo.txt 2>&1 || { why="ipmitool mc info: $(head -n 1 /tmp/mcinfo.txt)"; return 1; }
  device_id=$(mcinfo "Device ID")
  firmware=$(mcinfo "Firmware Revision")
  # "256 (0x0100)": the four hex digits in parentheses, as mchk_fil lists them.
  product=$(mcinfo "Product ID" | sed -n 's/.*(0x\([0-9a-fA-F]*\)).*/\1/p')
  product=$(printf '%04x' "0x$product")
  echo "VMTEST INFO ipmitool: device ID $device_id, firmware $firmware, product $product"
  [ "$product" = "$EXPECT_PRODUCT_ID" ] || { why="product ID '$product', QEMU was given $EXPECT_PRODUCT_ID"; return 1; }
  [ "$firmware" = "$EXPECT_FIRMWARE" ] || { why="firmware '$firmware', QEMU was given $EXPECT_FIRMWARE"; return 1; }
  # QEMU 7.2 answers device ID 20h whatever it was given; the firmware check below follows
  # whichever ID the BMC reports.
  [ "$device_id" = "$EXPECT_DEVICE_ID" ] || echo "VMTEST INFO QEMU ignored device_id=$EXPECT_DEVICE_ID"
  return 0
}
check ipmitool-identity identity
# The machine list names the product as ipmitool reads it.
listed() {
  echo "SVR0100 ${product:-$EXPECT_PRODUCT_ID}" >$sdr/mchk_fil
  cp $sdr/mchk_fil $fw/mchk_fil
}
listed

# What one exchange through the kernel driver costs: one open device for the run, and the
# device opened and closed for every request (how the products once did it).
for how in "" --reopen; do
  echo "VMTEST INFO bench $machine: $(kernel_driver_bench $how 300 2>&1)"
done

. /vmtest/${machine}_bmc_checks.sh
echo "VMTEST INFO finished at $(elapsed)s"
completed=1
