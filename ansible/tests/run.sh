#!/usr/bin/env bash
# The collection's test: installed from this working tree, ansible-doc of every module, ansible-test
# sanity (the tests that run offline, beside the roll-outs), then, over SSH as fleets are reached
# (ssh_hosts.sh: the test's own sshd on 127.0.0.1), the fleet playbook of examples/fleet/ against 20
# simulated hosts on this machine: a first roll-out with failing hosts and the BMCs' resets, a second that
# changes nothing, a third stopped by its failed canary. Beside them: a roll-out whose SSH connection to one
# host is cut mid-flash (cut_test.sh), and a module stopped by its timeout and one killed by Ansible's
# (stop_test.sh, local).
# Usage: ansible/tests/run.sh BUILD_DIR   (./dev.sh ansible builds and calls it)
#        BMC_TEST_BOOT_MS: how long the fleet's BMCs answer nothing after their reset (default 20000; the cut
#        test's c1 takes 20000 whatever it is)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
tests=$root/ansible/tests
work=$build/ansible
bmcsim=$build/bin/bmcsim
boot_ms=${BMC_TEST_BOOT_MS:-20000}
started=$(date +%s)
# The package files must not be writable by others, or the modules refuse them.
umask 022

rm -rf "$work"
mkdir -p "$work"
# Outside any git checkout: ansible-test takes the files of a collection in one from git, and build/ is ignored.
# Short, for the SSH control sockets too.
collections=$(mktemp -d /tmp/bmc-ansible.XXXXXX)
# shellcheck source=ansible/tests/ssh_hosts.sh
source "$tests/ssh_hosts.sh"
background=()
current=
cleanup() {
  local pid socket
  [ -z "$current" ] || kill -- "-$current" 2>/dev/null || true
  # Each job leads a process group of its own (setsid): it goes with whatever it started.
  for pid in "${background[@]}"; do kill -- "-$pid" 2>/dev/null || true; done
  for socket in "$collections"/cp/*; do
    [ -S "$socket" ] && ssh -o ControlPath="$socket" -O exit bmc-test 2>/dev/null || true
  done
  ssh_hosts_stop
  rm -rf "$collections"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
export ANSIBLE_COLLECTIONS_PATH=$collections ANSIBLE_HOST_KEY_CHECKING=True ANSIBLE_RETRY_FILES_ENABLED=False
export ANSIBLE_LOCAL_TEMP=$work/tmp ANSIBLE_NOCOLOR=1 ANSIBLE_DEPRECATION_WARNINGS=False
# Pipelining (one SSH session per task, no terminal) as fleets commonly run; cut_test.sh runs a host without.
export ANSIBLE_SSH_CONTROL_PATH_DIR=$collections/cp ANSIBLE_PIPELINING=True
elapsed() { echo "$(( $(date +%s) - $1 )) s"; }

echo "== ansible: collection"
ansible-galaxy collection build "$root/ansible" --output-path "$work" >/dev/null
ansible-galaxy collection install -p "$collections" "$work"/bmc-online_update-*.tar.gz >/dev/null
collection=$collections/ansible_collections/bmc/online_update
for module in sdr_update firmware_update bmc_facts; do
  doc=$(ansible-doc "bmc.online_update.$module")
  grep -q "^> BMC.ONLINE_UPDATE.${module^^} " <<<"$doc" && grep -q '^RETURN VALUES:' <<<"$doc" \
    || { echo "ansible-doc bmc.online_update.$module: no documentation" >&2; exit 1; }
done
echo "ansible-doc: sdr_update firmware_update bmc_facts"
python3 "$tests/check_codes.py" "$root/docs/user-guide.md"

# Sanity beside the roll-outs: they mostly wait (the SDR tool's 30-second rule, the BMCs' boots).
echo "== ansible: sanity (beside the roll-outs)"
setsid "$tests/sanity.sh" "$collection" >"$work/sanity.log" 2>&1 &
sanity=$!
background+=("$sanity")

echo "== ansible: SSH to this machine"
ssh_hosts_start "$work/ssh"
export FLEET_SSH_PORT=$ssh_port FLEET_SSH_USER=$ssh_user FLEET_SSH_KEY=$ssh_key FLEET_SSH_KNOWN_HOSTS=$ssh_known_hosts
export FLEET_BECOME=$ssh_become

echo "== ansible: fleet of 20 simulated hosts over SSH"
BMC_TEST_BOOT_MS=$boot_ms "$tests/make_fleet.sh" "$build" "$work/fleet"
inventory=$work/fleet/inventory.yml
playbook() {
  local name=$1 batches=$2 begun
  begun=$(date +%s)
  shift 2
  # In the background, so that a signal to this script is handled at once (a foreground command holds the trap),
  # and in a process group of its own, which the clean-up ends with Ansible's workers.
  ANSIBLE_STDOUT_CALLBACK=json setsid ansible-playbook -i "$inventory" "$root/examples/fleet/site.yml" -f 20 --skip-tags unpack \
    -e "{\"fleet_batch\": $batches}" -e fleet_max_fail_percentage=30 "$@" >"$work/$name.json" 2>"$work/$name.stderr" &
  current=$!
  wait "$current" || true
  current=
  python3 "$tests/check_fleet.py" "$name" "$work/$name.json" "$work/fleet" "$bmcsim" "$boot_ms" \
    || { tail -n 20 "$work/$name.stderr" >&2; exit 1; }
  echo "fleet $name run: $(elapsed "$begun")"
}

# Meanwhile, on hosts of their own: the cut connections over SSH; (local) a stop request on the module's
# own timeout and a module killed by Ansible's async time-out; the manager's refusals and waits.
setsid "$tests/cut_test.sh" "$build" "$work/cut" >"$work/cut.log" 2>&1 &
cut_test=$!
background+=("$cut_test")
setsid "$tests/stop_test.sh" "$build" "$work/stop" >"$work/stop.log" 2>&1 &
stop_test=$!
background+=("$stop_test")
setsid /usr/bin/python3 "$tests/manager_test.py" "$collections" >"$work/manager.log" 2>&1 &
manager_test=$!
background+=("$manager_test")

sdr_before=$("$bmcsim" show "$work/fleet/h07/bmc" | "$tests/repository.py")
# The first roll-out in one batch (time); the canary's batch comes in the runs after.
playbook first '[20]'
sdr_after=$("$bmcsim" show "$work/fleet/h07/bmc" | "$tests/repository.py")
[ "$sdr_before" = "$sdr_after" ] || { echo "h07: the refused update changed the repository" >&2; exit 1; }
# Without h07: its refused repository lock would hold the batch for the SDR tool's 30-second rule again.
playbook second '[1, 19]' --limit 'all:localhost:!h07'
# The canary is not in mchk_fil now: it fails its first task, and the roll-out stops there.
"$bmcsim" set "$work/fleet/h01/bmc" --product-id 0x0200 >/dev/null
rm -f "$work"/fleet/h*/pkg/Get_version.xml
playbook stopped '[1, 19]'

for job in cut:$cut_test stop:$stop_test manager:$manager_test sanity:$sanity; do
  status=0
  wait "${job#*:}" || status=$?
  cat "$work/${job%%:*}.log"
  [ "$status" -eq 0 ] || { echo "${job%%:*} test failed" >&2; exit 1; }
done
background=()
echo "== ansible: passed in $(elapsed "$started")"
