# The first machine: QEMU's own simulated BMC (ipmi-bmc-sim), which has none of the spared
# repository or firmware commands. Reads are compared with ipmitool's; updates must be refused
# cleanly. Sourced by vm/init.sh.

sdr_dump() { # FILE
  rm -f "$1"
  ipmitool sdr dump "$1" >/tmp/dump.out 2>&1 || { why="ipmitool sdr dump: $(tail -n 1 /tmp/dump.out)"; return 1; }
  [ -s "$1" ] || { why="ipmitool sdr dump wrote nothing"; return 1; }
}
dump_before() {
  sdr_dump /tmp/sdr-before.bin || return 1
  raw 0x0a 0x20 >/tmp/repinfo-before.txt
  echo "VMTEST INFO repository: $(stat -c %s /tmp/sdr-before.bin) bytes, info $(cat /tmp/repinfo-before.txt)"
}
check ipmitool-sdr-dump dump_before

# --- veltrop -backup against ipmitool's view of the same repository --------------------------
backup() {
  evidence="$sdr/veltrop.log"
  rm -f /tmp/backup.bin
  veltrop_in -backup /tmp/backup.bin || { why="veltrop exit status $?"; return 1; }
  [ -f /tmp/backup.bin ] || { why="no backup image; $(tail -n 2 $sdr/veltrop.log | tr '\n' ' ')"; return 1; }
  expect_line $sdr/veltrop.log "SDR backup complete." || return 1
  area=$(stat -c %s /tmp/sdr-before.bin)
  size=$(stat -c %s /tmp/backup.bin)
  [ "$size" -eq $((128 + area)) ] || { why="image $size bytes, expected 128 + $area"; return 1; }
  [ "$(head -c 8 /tmp/backup.bin)" = "QYX IPMI" ] || { why="no image signature"; return 1; }
  tail -c +129 /tmp/backup.bin >/tmp/backup-records.bin
  cmp /tmp/backup-records.bin /tmp/sdr-before.bin >/tmp/cmp.out 2>&1 ||
    { why="record area differs from ipmitool sdr dump: $(cat /tmp/cmp.out)"; return 1; }
  # The blocks carry the BMC's own answers: Get Device ID and Get SDR Repository Info, each
  # from its completion code on.
  got=$(hex -j64 -N12 /tmp/backup.bin)
  want="00 $(raw 0x06 0x01)"
  [ "$got" = "$want" ] || { why="BMC block '$got', Get Device ID '$want'"; return 1; }
  got=$(hex -j96 -N15 /tmp/backup.bin)
  want="00 $(raw 0x0a 0x20)"
  [ "$got" = "$want" ] || { why="control block '$got', Get SDR Repository Info '$want'"; return 1; }
  got=$(hex -j116 -N4 /tmp/backup.bin)
  want=$(printf '%02x %02x %02x %02x' $((area & 255)) $((area >> 8 & 255)) $((area >> 16 & 255)) $((area >> 24)))
  [ "$got" = "$want" ] || { why="record area length '$got', expected '$want'"; return 1; }
  for block in "header 0 64" "BMC 64 32" "control 96 32"; do
    set -- $block
    [ "$(bytesum /tmp/backup.bin "$2" "$3")" = 0 ] || { why="$1 block checksum"; return 1; }
  done
  records=$(bytesum /tmp/backup.bin 128 "$area")
  control=$(od -An -tu1 -j126 -N1 /tmp/backup.bin | tr -d ' ')
  [ $(((records + control) % 256)) = 0 ] || { why="record area checksum"; return 1; }
}
check veltrop-backup backup

# --- version queries against ipmitool mc info ------------------------------------------------
# The SDR version text of the project's OEM record (C0h, manufacturer 2D 9B 4E, "S" and the
# text) in ipmitool's dump, cut as the tools compare it: five characters from the 13th.
dumped_sdr_version() {
  hexes=$(od -An -tx1 -v /tmp/sdr-before.bin | awk '
    { for (i = 1; i <= NF; i++) b[n++] = $i }
    END {
      for (i = 0; i + 8 < n; i += 5 + len) {
        len = ("0x" b[i + 4]) + 0
        if (b[i + 3] == "c0" && b[i + 5] == "2d" && b[i + 6] == "9b" && b[i + 7] == "4e" && b[i + 8] == "53") {
          for (j = i + 8; j < i + 5 + len && b[j] != "00"; j++) printf "%s ", b[j]
          exit
        }
      }
    }')
  for h in $hexes; do printf "\\x$h"; done | cut -c13-17
}
veltrop_version() {
  evidence="$sdr/veltrop_version.log /pkg/Get_version.xml"
  clean_results
  veltrop_in -version -sdr bmcsdr.sdr || { why="veltrop exit status $?"; return 1; }
  expect_code /pkg/Get_version.xml OK || return 1
  expect_line $sdr/veltrop_version.log "GetBmcStatus() success." || return 1
  bmc_version=$(dumped_sdr_version)
  [ "$bmc_version" = "$EXPECT_SDR_VERSION" ] ||
    { why="ipmitool's dump holds SDR version '$bmc_version', QEMU was given '$EXPECT_SDR_VERSION'"; return 1; }
  got="$(xml /pkg/Get_version.xml cmp) $(xml /pkg/Get_version.xml version)"
  want="$EXPECT_SDR_CMP $bmc_version"
  [ "$got" = "$want" ] || { why="Get_version.xml says '$got', expected '$want'"; return 1; }
}
check veltrop-version veltrop_version

korvane_version() {
  evidence="$fw/Korvane_log1.txt $fw/Get_version.xml"
  clean_results
  korvane_in -version || { why="Korvane exit status $?"; return 1; }
  expect_line $fw/Korvane_log1.txt "=== GetBmcStatus() success. ===" || return 1
  case "$device_id" in
    48 | 49 | 56 | 57 | 58) ;;
    *)
      # A device ID this tool does not flash: refused once identity and machine list agree.
      expect_code $fw/Get_version.xml C5 || return 1
      expect_line $fw/Korvane_log1.txt "It is not a target system.(BMC Device ID)" || return 1
      return 0
      ;;
  esac
  expect_code $fw/Get_version.xml OK || return 1
  # ipmitool prints the major revision in decimal and the minor one as BCD digits; the
  # result file holds both bytes as two hex digits each.
  major=${firmware%%.*}
  minor=${firmware#*.}
  want_version=$(printf '%02x.%s' "$major" "$minor")
  if [ "$want_version" = "$FW_PACKAGE_VERSION" ]; then
    want_cmp=Even
  elif [ "$(printf '%s\n%s\n' "$want_version" "$FW_PACKAGE_VERSION" | sort | head -n 1)" = "$want_version" ]; then
    want_cmp=Upper
  else
    want_cmp=Lower
  fi
  got="$(xml $fw/Get_version.xml cmp) $(xml $fw/Get_version.xml version)"
  [ "$got" = "$want_cmp $want_version" ] ||
    { why="Get_version.xml says '$got', ipmitool's firmware $firmware makes it '$want_cmp $want_version'"; return 1; }
}
check korvane-version korvane_version

not_listed() {
  evidence="$sdr/veltrop_version.log $fw/Korvane_log1.txt"
  echo "SVR9999 9999" >$sdr/mchk_fil
  echo "SVR9999 9999" >$fw/mchk_fil
  clean_results
  veltrop_in -version -sdr bmcsdr.sdr
  korvane_in -version
  listed
  expect_code /pkg/Get_version.xml SDRC04 || return 1
  expect_code $fw/Get_version.xml C3 || return 1
}
check product-not-in-mchk_fil not_listed

# --- updates the BMC cannot take: refused cleanly, no lock left, nothing changed -------------
# veltrop -update -force and two Korvane -force runs side by side (separate locks, separate
# result directories). While they hold their locks, a backup and a version query must be turned
# away (so the later probes mean something); afterwards a second run of each must not be.
wait_for() { # FILE SECONDS
  for _ in $(seq $(($2 * 10))); do
    [ -e "$1" ] && return 0
    sleep 0.1
  done
  return 1
}
force_run() { # PROGRAM-DIRECTORY NAME COMMAND...
  dir=$1
  tag=$2
  shift 2
  (cd "$dir" && "$@") >/tmp/$tag.out 2>&1
  echo $? >/tmp/$tag.rc
}
clean_results
mkdir -p /tmp/probe
(
  force_run $sdr veltrop-force veltrop -update -force -sdr bmcsdr.sdr
  cp /pkg/Update_force.xml /tmp/veltrop-force.xml 2>/dev/null
  cp $sdr/veltrop.log /tmp/veltrop-force.log
) &
(
  for n in 1 2; do
    force_run $fw korvane-force$n ./Korvane -force
    cp $fw/Update_force.xml /tmp/korvane-force$n.xml 2>/dev/null
    cp $fw/Korvane_log.txt /tmp/korvane-force$n.log
  done
) &

locks_held() {
  evidence="/tmp/probe/veltrop.log $fw/Korvane_log1.txt"
  wait_for /pkg/Get_ratio.xml_tmp 20 || { why="veltrop -force published no progress"; return 1; }
  wait_for $fw/Get_ratio.xml_tmp 20 || { why="Korvane -force published no progress"; return 1; }
  (cd /tmp/probe && veltrop -backup /tmp/probe/backup.bin) >/dev/null 2>&1
  korvane_in -version
  [ ! -e /tmp/probe/backup.bin ] || { why="a backup ran beside the update"; return 1; }
  expect_line /tmp/probe/veltrop.log "The update/backup has already been being executed." || return 1
  expect_code $fw/Get_version.xml Busy || return 1
}
check locks-held-while-updating locks_held
wait
echo "VMTEST INFO updates refused by $(elapsed)s"

veltrop_refused() {
  evidence="/tmp/veltrop-force.log /tmp/veltrop-force.out /tmp/veltrop-force.xml"
  [ "$(cat /tmp/veltrop-force.rc)" = 0 ] || { why="exit status $(cat /tmp/veltrop-force.rc)"; return 1; }
  expect_code /tmp/veltrop-force.xml SDR077 || return 1
  expect_line /tmp/veltrop-force.log "Error, unsupported SparedSDR command on BMC" || return 1
  # The refusal is the BMC's: invalid command (C1h) to the OEM update lock request.
  grep -qi "Rec: FC 10 C1" /tmp/veltrop-force.log || { why="no C1h answer to the update lock in the log"; return 1; }
  [ ! -e /pkg/Get_ratio.xml_tmp ] || { why="progress file left behind"; return 1; }
}
check veltrop-force-refused veltrop_refused
for n in 1 2; do
  korvane_refused() {
    evidence="/tmp/korvane-force$n.log /tmp/korvane-force$n.out /tmp/korvane-force$n.xml"
    [ "$(cat /tmp/korvane-force$n.rc)" = 0 ] || { why="exit status $(cat /tmp/korvane-force$n.rc)"; return 1; }
    expect_code /tmp/korvane-force$n.xml C17 || return 1
    expect_line /tmp/korvane-force$n.log "IPMI command error.(Get Channel Access)" || return 1
    grep -qi "response = 1C 41 C1" /tmp/korvane-force$n.log || { why="no C1h answer to Get Channel Access in the log"; return 1; }
    [ ! -e $fw/Get_ratio.xml_tmp ] || { why="progress file left behind"; return 1; }
  }
  # The second run found the lock free: its own refusal, not "Duplex".
  check korvane-force-refused-run$n korvane_refused
done

# A backup takes veltrop's lock for its whole run: it would end in "Duplex" had the update left
# the lock held. It also reads the repository once more through the product's own path.
second_veltrop_run() {
  evidence="$sdr/veltrop.log"
  clean_results
  rm -f /tmp/backup2.bin
  veltrop_in -backup /tmp/backup2.bin
  expect_line $sdr/veltrop.log "SDR backup complete." || return 1
  tail -c +129 /tmp/backup2.bin | cmp - /tmp/sdr-before.bin >/tmp/cmp.out 2>&1 ||
    { why="repository read after the update differs: $(cat /tmp/cmp.out)"; return 1; }
}
check veltrop-lock-released second_veltrop_run

unchanged() {
  sdr_dump /tmp/sdr-after.bin || return 1
  cmp /tmp/sdr-before.bin /tmp/sdr-after.bin >/tmp/cmp.out 2>&1 || { why="repository changed: $(cat /tmp/cmp.out)"; return 1; }
  # Same record count, free space and addition/erase timestamps: nothing was added or erased.
  after=$(raw 0x0a 0x20)
  [ "$after" = "$(cat /tmp/repinfo-before.txt)" ] || { why="repository info now '$after'"; return 1; }
}
check repository-unchanged unchanged

# --- the device node gone while the driver stays loaded ---------------------------------------
node_gone() {
  evidence="$sdr/veltrop_version.log $fw/Korvane_log1.txt"
  rm -f /dev/ipmi0
  clean_results
  veltrop_in -version -sdr bmcsdr.sdr
  korvane_in -version
  expect_code /pkg/Get_version.xml SDRC03 || return 1
  expect_code $fw/Get_version.xml C2 || return 1
  expect_line $fw/Korvane_log1.txt "Can't open IPMI driver." || return 1
}
check no-device-node node_gone
