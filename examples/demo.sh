#!/usr/bin/env bash
# An SDR update against the simulated BMC, the way an update manager drives veltrop:
# a version query, a normal update with -ratio polls from a second process while it runs,
# then the result files, the progress seen and the repository before and after. Then a
# firmware update of a dual-bank BMC the same way with Korvane.
# Usage: examples/demo.sh BUILD_DIR   (./dev.sh demo builds and calls it)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
bmcsim=$build/bin/bmcsim
veltrop=$build/sim/bin/veltrop
korvane=$build/sim/bin/Korvane

demo=$root/demo
rm -rf "$demo"
mkdir -p "$demo/package/sdr"
cd "$demo/package/sdr"
export BMCSIM_DIR=$demo/bmc

say() { printf '\n== %s\n' "$*"; }
show_xml() { printf '%s: ' "$1"; tr -d '\r\n' < "../$1"; echo; }
repository() {
  "$bmcsim" show "$BMCSIM_DIR" | python3 -c '
import json, sys
s = json.load(sys.stdin)
recs = s["repository"]["records"]
text = lambda h: bytes.fromhex(h)[8:].split(b"\0")[0].decode("ascii", "replace")
ver = [text(r) for r in recs if r[6:8].upper() == "C0" and r[10:16].upper() == "2D9B4E" and r[16:18] == "53"]
print("  %d records, %d bytes; SDR version record: %s" % (len(recs), sum(len(r) // 2 for r in recs), ver[0] if ver else "none"))'
}

say "A package as the update manager unpacks it: ExUpInfo.xml one level up, the SDR files, mchk_fil"
cat > ../ExUpInfo.xml <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<ExUpInfo><package>SVR0100 SDR</package><version>01.50</version></ExUpInfo>
XML
cp "$root/examples/bmcsdr_v1.sdr" "$root/examples/bmcsdr_v2.sdr" .
echo "// boards this package supports" > mchk_fil
echo "SVR0100 0100" >> mchk_fil
ls -1 .. .

say "A simulated BMC (product ID 0100h) holding a repository captured from a real server"
"$bmcsim" init "$BMCSIM_DIR" --product-id 0x0100 --manufacturer 0x4e9b2d --fw-rev 02.30 >/dev/null
"$bmcsim" load-sdr "$BMCSIM_DIR" "$root/tests/data/real-sdr/server01.bin"
repository

say "An operator programs the older SDR file: veltrop -direct -force -sdr bmcsdr_v1.sdr, answering y"
printf 'y\n' | "$veltrop" -direct -force -sdr bmcsdr_v1.sdr | tail -n 4
repository

say "Version query: veltrop -version -sdr bmcsdr_v2.sdr"
"$veltrop" -version -sdr bmcsdr_v2.sdr
show_xml Get_version.xml

say "Normal update: veltrop -update -sdr bmcsdr_v2.sdr, polled with veltrop -ratio"
"$bmcsim" latency "$BMCSIM_DIR" 3 >/dev/null
"$veltrop" -update -sdr bmcsdr_v2.sdr &
update=$!
seen=""
while kill -0 "$update" 2>/dev/null; do
  sleep 1
  "$veltrop" -ratio
  ratio=$(sed -n 's:.*<result_code>\(.*\)</result_code>.*<data>\(.*\)</data>.*:\1 \2:p; s:.*<result_code>\(.*\)</result_code>.*<data/>.*:\1:p' ../Get_ratio.xml)
  [ "${ratio}" != "${last:-}" ] && seen="$seen ${ratio}," && printf '  ratio: %s\n' "$ratio"
  last=$ratio
done
wait "$update"
echo "  progress seen:${seen%,}"
show_xml Update_normal.xml
repository

say "The same query again: the BMC now holds the file's version"
"$veltrop" -version -sdr bmcsdr_v2.sdr
show_xml Get_version.xml

say "Logs (current directory) and exchanges"
tail -n 6 veltrop.log
echo "  $("$bmcsim" log "$BMCSIM_DIR" | wc -l) IPMI exchanges with the simulated BMC"

say "Firmware: a package with Korvane, mchk_fil and a 3-MiB bmcfw.bin; a dual-bank BMC running 02.30"
fw=$demo/package/fw
mkdir -p "$fw"
cp "$korvane" "$fw/"
cd "$fw"
cat > ExUpInfo.xml <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<ExUpInfo><package>SVR0100 BMC firmware</package><version>02.40</version></ExUpInfo>
XML
echo "SVR0100 0100" > mchk_fil
python3 -c 'import sys; sys.stdout.buffer.write(bytes((i * 31 + (i >> 8)) & 0xFF for i in range(3 * 1024 * 1024)))' > bmcfw.bin
export BMCSIM_DIR=$demo/bmc-fw
"$bmcsim" init "$BMCSIM_DIR" --product-id 0x0100 --device-id 0x38 --fw-rev 02.30 >/dev/null
channel2() {
  "$bmcsim" show "$BMCSIM_DIR" | python3 -c '
import json, sys
s = json.load(sys.stdin)
c, f = s["channel2"], s["firmware"]
print("  channel 2 volatile access %#04x (non-volatile %#04x); running bank %d, image selector %d" % (
    c["volatile"]["access"], c["nonvolatile"]["access"], f["running_bank"], f["image_selector"]))'
}
channel2

say "Version query: Korvane -version"
./Korvane -version
printf 'Get_version.xml: '; tr -d '\r\n' < Get_version.xml; echo

say "Update: Korvane -force, polled with Korvane -ratio; channel 2 is off while it runs"
./Korvane -force &
update=$!
seen=""
last=""
shown=""
while kill -0 "$update" 2>/dev/null; do
  sleep 0.1
  if [ -z "$shown" ] && [ -f Get_ratio.xml_tmp ]; then echo "  meanwhile:"; channel2; shown=1; fi
  # The manager reads the first "OK" and takes the file away before the final result.
  if [ -f Update_force.xml ] && grep -q '<result_code>OK<' Update_force.xml; then rm -f Update_force.xml; fi
  ./Korvane -ratio
  ratio=$(sed -n 's:.*<result_code>\(.*\)</result_code>.*<data>\(.*\)</data>.*:\1 \2:p; s:.*<result_code>\(.*\)</result_code>.*<data/>.*:\1:p' Get_ratio.xml)
  if [ "$ratio" != "$last" ]; then seen="$seen ${ratio},"; printf '  ratio: %s\n' "$ratio"; fi
  last=$ratio
done
wait "$update"
echo "  progress seen:${seen%,}"
printf 'Update_force.xml: '; tr -d '\r\n' < Update_force.xml; echo

say "The flash: bank 2 (not running) against the image, past the kept 64-KiB boot block"
"$bmcsim" export-flash "$BMCSIM_DIR" bank2.bin --bank 2 --length 0x300000
if cmp -s <(tail -c +65537 bmcfw.bin) <(tail -c +65537 bank2.bin); then echo "  bank 2 holds the image"; else echo "  bank 2 DIFFERS"; fi
channel2
"$bmcsim" reset "$BMCSIM_DIR" --fw-rev 02.40
echo "  after a BMC reset:"; channel2
./Korvane -version
printf 'Get_version.xml: '; tr -d '\r\n' < Get_version.xml; echo
tail -n 5 Korvane_log.txt
echo
echo "Everything is under $demo"
