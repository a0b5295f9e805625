#!/usr/bin/env bash
# Twenty simulated hosts h01..h20 in DIR, each with its own BMC (BMCSIM_DIR) and its own copy of the
# SDR and firmware packages, and the inventory that reaches them all on this machine. Most start
# with SDR version 01.20 and firmware 02.30 against packages of 01.50 and 02.40; a few are made to fail:
#   h03  a machine the packages are not for (product ID 0200h, not in mchk_fil)
#   h07  a BMC that refuses the spared repository's update lock
#   h12  a BMC whose flash reads back wrong (the check of the erased flash fails)
#   h15  a BMC already up to date
#   h05  a BMC that falls back to its old bank after the reset (the new image "does not boot")
#   h09  flashed without activation (bmc_activate: false): its new firmware stays pending
# Every host is reached over SSH (ssh_hosts.sh: FLEET_SSH_PORT, _USER, _KEY, _KNOWN_HOSTS, FLEET_BECOME) and
# its BMC answers nothing for BMC_TEST_BOOT_MS after a reset.
# Usage: make_fleet.sh BUILD_DIR DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
fleet=$2
bmcsim=$build/bin/bmcsim
boot_ms=${BMC_TEST_BOOT_MS:-20000}
rm -rf "$fleet"
mkdir -p "$fleet/template/pkg/sdr" "$fleet/template/prep/sdr"

# The starting repository (a real server's, behind the project's 01.20 records) and an up-to-date one.
template=$fleet/template
"$bmcsim" init "$template/bmc" --product-id 0x0100 >/dev/null
"$bmcsim" load-sdr "$template/bmc" "$root/tests/data/real-sdr/server01.bin"
cp "$root/examples/sdr-package/ExUpInfo.xml" "$template/pkg/"
cp "$root/examples/bmcsdr_v2.sdr" "$root/examples/sdr-package/sdr/mchk_fil" "$template/pkg/sdr/"
cp "$root/examples/bmcsdr_v1.sdr" "$root/examples/bmcsdr_v2.sdr" "$root/examples/sdr-package/sdr/mchk_fil" "$template/prep/sdr/"
cp "$root/examples/sdr-package/ExUpInfo.xml" "$template/prep/"
direct() { (cd "$template/prep/sdr" && printf 'y\n' | BMCSIM_DIR=$template/bmc "$build/sim/bin/veltrop" -direct -force -sdr "$1" >/dev/null); }
direct bmcsdr_v1.sdr
"$bmcsim" export-sdr "$template/bmc" "$template/sdr-0120.bin"
direct bmcsdr_v2.sdr
"$bmcsim" export-sdr "$template/bmc" "$template/sdr-0150.bin"
python3 -c 'import sys; sys.stdout.buffer.write(bytes((i * 31 + (i >> 8)) & 0xFF for i in range(256 * 1024)))' >"$template/bmcfw.bin"

{
  echo "bmc_fleet:"
  echo "  hosts:"
  for i in $(seq -w 1 20); do
    host=h$i
    dir=$fleet/$host
    mkdir -p "$dir/pkg" "$dir/fw"
    cp -r "$template/pkg/." "$dir/pkg/"
    cp "$root/examples/fw-package/ExUpInfo.xml" "$root/examples/fw-package/mchk_fil" "$template/bmcfw.bin" "$dir/fw/"
    product=0x0100 fw=02.30 sdr=$template/sdr-0120.bin
    case $host in
      h03) product=0x0200 ;;
      h15) fw=02.40 sdr=$template/sdr-0150.bin ;;
    esac
    "$bmcsim" init "$dir/bmc" --product-id "$product" --device-id 0x38 --fw-rev "$fw" --bank-size 0x100000 >/dev/null
    "$bmcsim" load-sdr "$dir/bmc" "$sdr"
    case $host in
      h07) "$bmcsim" fault "$dir/bmc" add "netfn=0x3e cmd=0x10 match=00 count=always cc=0xc1" ;;
      h12) "$bmcsim" fault "$dir/bmc" add "netfn=0x08 cmd=0x03 count=always flip=1" ;;
    esac
    case $host in
      h05) echo "    $host: {host_dir: '$dir', bmc_reset_command: \"sh -c '$bmcsim set $dir/bmc --image-selector 1 &&" \
                "$bmcsim reset $dir/bmc --fw-rev 02.40 --boot-ms $boot_ms'\"}" ;;
      h09) echo "    $host: {host_dir: '$dir', bmc_activate: false}" ;;
      *) echo "    $host: {host_dir: '$dir'}" ;;
    esac
  done
  # The modules run under the oldest Python they support when this machine has it.
  python=/usr/bin/python3
  for candidate in "$HOME/.pyenv/versions/3.9"*/bin/python3.9 /usr/bin/python3.9; do
    [ -x "$candidate" ] && python=$candidate && break
  done
  cat <<YAML
  vars:
    ansible_connection: ssh
    ansible_host: 127.0.0.1
    ansible_port: $FLEET_SSH_PORT
    ansible_user: '$FLEET_SSH_USER'
    ansible_become: $FLEET_BECOME
    ansible_ssh_private_key_file: '$FLEET_SSH_KEY'
    ansible_ssh_common_args: '-o UserKnownHostsFile=$FLEET_SSH_KNOWN_HOSTS -o StrictHostKeyChecking=yes -o IdentitiesOnly=yes'
    ansible_python_interpreter: '$python'
    bmc_tools_dir: '$build/sim/bin'
    bmc_sdr:
      tool: '{{ bmc_tools_dir }}/veltrop'
      package_dir: '{{ host_dir }}/pkg/sdr'
      input: bmcsdr_v2.sdr
    bmc_firmware:
      tool: '{{ bmc_tools_dir }}/Korvane'
      package_dir: '{{ host_dir }}/fw'
    bmc_environment:
      BMCSIM_DIR: '{{ host_dir }}/bmc'
    # What a real BMC's cold reset does here: silence while it boots, then the bank the image selector
    # names runs; a newly written image reports the package's version.
    bmc_reset_command: '$bmcsim reset {{ host_dir }}/bmc --fw-rev 02.40 --boot-ms $boot_ms'
YAML
} >"$fleet/inventory.yml"
echo "inventory: 20 hosts over SSH (become: $FLEET_BECOME), BMCs booting $boot_ms ms, modules under $python"
