#!/usr/bin/env bash
# The release archives as an administrator gets them: the Linux archive unpacked into a root
# that holds nothing but glibc's base libraries (and a shell to change directories), the
# programs run from there: the product flavour without an IPMI driver, then a rehearsal of both
# updates against bmcsim from the example packages. The Windows archive is listed, its programs'
# DLL imports checked and, when Wine is there, the product veltrop.exe run once.
# Usage: tests/package/package_test.sh [DIST_DIR]   (./dev.sh package runs it after cpack)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dist=$(cd "${1:-$root/dist}" && pwd)
version=$(sed -n 's/^#define BMC_RELEASE_VERSION "\(.*\)"$/\1/p' "$root/build/generated/bmc_versions.h")
[ -n "$version" ] || { echo "no release version in build/generated/bmc_versions.h" >&2; exit 1; }
linux=bmc-online-update-$version-linux-x86_64
windows=bmc-online-update-$version-windows-x64

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
pass() { echo "PASS $*"; }
fail() { echo "FAIL $*" >&2; failures=$((failures + 1)); }
check() { # NAME COMMAND...: a named condition
  local name=$1
  shift
  if "$@"; then pass "$name"; else fail "$name"; fi
}
result_code() { sed -n 's:.*<result_code>\(.*\)</result_code>.*:\1:p' "$1" 2>/dev/null | head -n 1; }
expect_code() { # NAME FILE CODE
  local got
  got=$(result_code "$2")
  if [ "$got" = "$3" ]; then pass "$1"; else fail "$1: $2 holds '${got:-nothing}', expected '$3'"; fi
}

files_of_archive() { # the archive's file list, without the top folder and without directories
  sed -n "s:^$1/::p" | grep -v '/$' | grep -v '^$' | sort
}
expected_files() { # EXE-SUFFIX
  printf '%s\n' "USER-GUIDE.md" "veltrop$1" "Korvane$1" "rehearsal/veltrop$1" "rehearsal/Korvane$1" \
    "rehearsal/bmcsim$1" examples/sdr-package/ExUpInfo.xml examples/sdr-package/sdr/mchk_fil \
    examples/sdr-package/sdr/bmcsdr_v1.sdr examples/sdr-package/sdr/bmcsdr_v2.sdr \
    examples/sdr-package/sdr/bmcsdr_tagged.sdr examples/sdr-package/sdr/SVR0100.CFG \
    examples/sdr-package/sdr/program_and_check.cfg examples/fw-package/ExUpInfo.xml \
    examples/fw-package/mchk_fil | sort
}

# --- the Linux archive: its files, and binaries that need glibc alone -------------------------
tgz=$dist/$linux.tar.gz
[ -f "$tgz" ] || { echo "missing $tgz" >&2; exit 1; }
check "tar.gz holds the expected files under $linux/" \
  diff <(tar tzf "$tgz" | files_of_archive "$linux") <(expected_files "")
croot=$work/root
mkdir -p "$croot"
tar xzf "$tgz" -C "$croot"
bundle=$croot/$linux
glibc_only() { # BINARY: dynamic needs within glibc's base libraries, no search path of its own
  local needed
  needed=$(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ')
  case "$needed" in
    "ld-linux-x86-64.so.2 libc.so.6 " | "ld-linux-x86-64.so.2 libc.so.6 libm.so.6 ") ;;
    *) echo "  $1 needs: $needed" >&2; return 1 ;;
  esac
  ! readelf -d "$1" | grep -qE '\((RPATH|RUNPATH)\)' || { echo "  $1 has a search path" >&2; return 1; }
  file "$1" | grep -q 'ELF 64-bit LSB .*x86-64.*stripped' || { file "$1" >&2; return 1; }
  # Debian 12 has glibc 2.36.
  local newest
  newest=$(objdump -T "$1" | grep -o 'GLIBC_[0-9.]*' | sort -u -V | tail -n 1)
  printf '%s\n%s\n' "${newest#GLIBC_}" 2.36 | sort -C -V || { echo "  $1 needs $newest" >&2; return 1; }
}
for bin in veltrop Korvane rehearsal/veltrop rehearsal/Korvane rehearsal/bmcsim; do
  check "$bin needs glibc alone (loader, libc, libm), stripped, no rpath" glibc_only "$bundle/$bin"
done

# The clean root: glibc's base libraries, dash (for cd), /tmp, /run (where the product makes its
# lock directory); /dev/null and /proc are bound into it for each run in a private mount namespace.
mkdir -p "$croot/lib/x86_64-linux-gnu" "$croot/lib64" "$croot/bin" "$croot/tmp" "$croot/run" \
  "$croot/dev" "$croot/proc" "$croot/w"
cp -L /lib/x86_64-linux-gnu/libc.so.6 /lib/x86_64-linux-gnu/libm.so.6 "$croot/lib/x86_64-linux-gnu/"
cp -L /lib64/ld-linux-x86-64.so.2 "$croot/lib64/"
cp -L /bin/dash "$croot/bin/sh"
chmod 1777 "$croot/tmp"
touch "$croot/dev/null"
isolated=1
# shellcheck disable=SC2016
if ! unshare -r -m sh -c 'mount --bind /dev/null "$1/dev/null" && mount --rbind /proc "$1/proc" &&
    chroot "$1" /bin/sh -c "exit 0"' sh "$croot" 2>/dev/null; then
  isolated=0
  echo "NOTE no user namespace here: the programs run on this machine, not in the clean root"
fi
# DIR COMMAND: a shell command line run in DIR of the root; it names the root's files as $R/...
inroot() {
  if [ $isolated -eq 1 ]; then
    # shellcheck disable=SC2016
    unshare -r -m sh -c 'mount --bind /dev/null "$1/dev/null" && mount --rbind /proc "$1/proc" &&
      exec chroot "$1" /bin/sh -c "R=; cd $2 && $3"' sh "$croot" "$1" "$2"
  else
    R=$croot sh -c "cd $croot$1 && $2"
  fi
}
# shellcheck disable=SC2016
sim='$R/'$linux/rehearsal

# --- the product flavour: no IPMI driver in the root -------------------------------------------
cp -r "$bundle/examples/sdr-package" "$croot/w/product"
cp -r "$bundle/examples/fw-package" "$croot/w/product/fw"
cp "$bundle/Korvane" "$croot/w/product/fw/"
head -c 262144 /dev/zero >"$croot/w/product/fw/bmcfw.bin"
if [ $isolated -eq 0 ] && ls /dev/ipmi0 /dev/ipmi/0 /dev/ipmidev/0 >/dev/null 2>&1; then
  echo "NOTE this machine has an IPMI device: the product flavour is not run"
elif [ $isolated -eq 0 ] && [ "$(id -u)" -ne 0 ]; then
  echo "NOTE not root: the product flavour's lock needs root, it is not run"
else
  inroot /w/product/sdr "\$R/$linux/veltrop -version -sdr bmcsdr_v2.sdr" >/dev/null
  expect_code "product veltrop -version without a driver: SDRC03" "$croot/w/product/Get_version.xml" SDRC03
  check "product veltrop logs \"Can't open IPMI driver.\"" \
    grep -qF "Can't open IPMI driver." "$croot/w/product/sdr/veltrop_version.log"
  inroot /w/product/fw "./Korvane -version" >/dev/null
  expect_code "product Korvane -version without a driver: C2" "$croot/w/product/fw/Get_version.xml" C2
  check "product Korvane logs \"Can't open IPMI driver.\"" \
    grep -qF "Can't open IPMI driver." "$croot/w/product/fw/Korvane_log1.txt"
fi

# --- rehearsal: both updates against simulated BMCs, side by side ------------------------------
cp -r "$bundle/examples/sdr-package" "$croot/w/sdr-pkg"
cp -r "$bundle/examples/fw-package" "$croot/w/fw"
cp "$bundle/rehearsal/Korvane" "$croot/w/fw/"
python3 -c 'import sys; sys.stdout.buffer.write(bytes((i * 7 + (i >> 9)) & 0xFF for i in range(1 << 20)))' \
  >"$croot/w/fw/bmcfw.bin"
# The server's repository as the administrator captures it (ipmitool sdr dump): one of the
# real servers' captures of the test data.
cp "$root/tests/data/real-sdr/server01.bin" "$croot/w/server.sdr"
inroot /w "$sim/bmcsim init \$R/w/bmc-sdr --product-id 0x0100 --fw-rev 02.30 >/dev/null"
inroot /w "$sim/bmcsim load-sdr \$R/w/bmc-sdr \$R/w/server.sdr"
inroot /w "$sim/bmcsim init \$R/w/bmc-fw --product-id 0x0100 --device-id 0x38 --fw-rev 02.30 >/dev/null"
inroot /w/sdr-pkg/sdr "BMCSIM_DIR=\$R/w/bmc-sdr $sim/veltrop -version -sdr bmcsdr_v2.sdr" >/dev/null
expect_code "rehearsal veltrop -version" "$croot/w/sdr-pkg/Get_version.xml" OK
check "rehearsal veltrop -version: the package is newer" \
  grep -q '<cmp>Upper</cmp>' "$croot/w/sdr-pkg/Get_version.xml"
inroot /w/fw "BMCSIM_DIR=\$R/w/bmc-fw ./Korvane -version" >/dev/null
check "rehearsal Korvane -version: OK, the package is newer" \
  grep -q '<result_code>OK</result_code><data><cmp>Upper</cmp>' "$croot/w/fw/Get_version.xml"

inroot /w/sdr-pkg/sdr "BMCSIM_DIR=\$R/w/bmc-sdr $sim/veltrop -update -force -sdr bmcsdr_v2.sdr" >/dev/null &
sdr_update=$!
inroot /w/fw "BMCSIM_DIR=\$R/w/bmc-fw ./Korvane -force" >/dev/null &
fw_update=$!
# The manager's side: poll the ratio, take Korvane's first "OK" away.
seen_ratio=""
while kill -0 $sdr_update 2>/dev/null || kill -0 $fw_update 2>/dev/null; do
  sleep 1
  if grep -q '<result_code>OK<' "$croot/w/fw/Update_force.xml" 2>/dev/null; then rm -f "$croot/w/fw/Update_force.xml"; fi
  if kill -0 $sdr_update 2>/dev/null && [ -z "$seen_ratio" ]; then
    inroot /w/sdr-pkg/sdr "BMCSIM_DIR=\$R/w/bmc-sdr $sim/veltrop -ratio" >/dev/null
    [ "$(result_code "$croot/w/sdr-pkg/Get_ratio.xml")" = OK ] &&
      seen_ratio=$(sed -n 's:.*<data>\(.*\)</data>.*:\1:p' "$croot/w/sdr-pkg/Get_ratio.xml")
  fi
done
wait $sdr_update
wait $fw_update
check "rehearsal veltrop -ratio answered OK with a ratio during the update (${seen_ratio:-none})" \
  test -n "$seen_ratio"
expect_code "rehearsal veltrop -update -force" "$croot/w/sdr-pkg/Update_force.xml" Complete
expect_code "rehearsal Korvane -force" "$croot/w/fw/Update_force.xml" Complete
inroot /w "$sim/bmcsim show \$R/w/bmc-sdr >\$R/w/bmc-sdr.json"
sdr_version_record() { # the text of the SDR version record the BMC's repository holds
  python3 -c '
import json, sys
recs = json.load(open(sys.argv[1]))["repository"]["records"]
text = lambda h: bytes.fromhex(h)[8:].split(b"\0")[0].decode("ascii", "replace")
print([text(r) for r in recs if r[6:8].upper() == "C0" and r[10:16].upper() == "2D9B4E" and r[16:18] == "53"])
' "$croot/w/bmc-sdr.json"
}
check "rehearsal veltrop: the BMC's repository holds the package's SDR version 1.50" \
  grep -q "1\.50" <(sdr_version_record)
inroot /w "$sim/bmcsim export-flash \$R/w/bmc-fw \$R/w/bank2.bin --bank 2 --length $((1 << 20))"
check "rehearsal Korvane: bank 2 holds the image past the kept 64-KiB boot block" \
  cmp -s <(tail -c +65537 "$croot/w/fw/bmcfw.bin") <(tail -c +65537 "$croot/w/bank2.bin")

# --- the Windows archive -----------------------------------------------------------------------
zip=$dist/$windows.zip
[ -f "$zip" ] || { echo "missing $zip" >&2; exit 1; }
check "zip holds the expected files under $windows/" \
  diff <(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip" |
    files_of_archive "$windows") <(expected_files .exe)
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$work/win"
wbundle=$work/win/$windows
system_dlls_only() { # EXE: imports Windows' own DLLs only (no libstdc++, libgcc, winpthread)
  local dlls
  dlls=$(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  for d in $dlls; do
    case "$d" in
      kernel32.dll | msvcrt.dll | ole32.dll | oleaut32.dll | bcrypt.dll | advapi32.dll | user32.dll) ;;
      *) echo "  $1 imports $d" >&2; return 1 ;;
    esac
  done
}
for exe in veltrop.exe Korvane.exe rehearsal/veltrop.exe rehearsal/Korvane.exe rehearsal/bmcsim.exe; do
  check "$exe imports system DLLs only" system_dlls_only "$wbundle/$exe"
done
if command -v wine >/dev/null && [ -d "$root/build-win/wineprefix" ]; then
  mkdir -p "$work/win/pkg"
  cp -r "$wbundle/examples/sdr-package/." "$work/win/pkg/"
  (cd "$work/win/pkg/sdr" && WINEPREFIX=$root/build-win/wineprefix WINEDEBUG=-all \
    wine "$wbundle/veltrop.exe" -version -sdr bmcsdr_v2.sdr >/dev/null 2>&1) || true
  expect_code "product veltrop.exe -version under Wine without a driver: SDRC03" "$work/win/pkg/Get_version.xml" SDRC03
fi

if [ $failures -ne 0 ]; then
  echo "== package test: $failures failed" >&2
  exit 1
fi
echo "== package test: all passed"
