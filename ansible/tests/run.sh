#!/usr/bin/env bash
# The collection's test: installed from this working tree, ansible-doc of every module, ansible-test
# sanity (the tests that run offline), then the fleet playbook of examples/fleet/ against 20 simulated
# hosts on this machine: a first roll-out with failing hosts, a second that changes nothing, a third
# stopped by max_fail_percentage; and a module stopped by its timeout and one killed by Ansible's.
# Usage: ansible/tests/run.sh BUILD_DIR   (./dev.sh ansible builds and calls it)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
tests=$root/ansible/tests
work=$build/ansible
bmcsim=$build/bin/bmcsim
started=$(date +%s)

rm -rf "$work"
mkdir -p "$work"
# Outside any git checkout: ansible-test takes the files of a collection in one from git, and build/ is ignored.
collections=$(mktemp -d /tmp/bmc-ansible.XXXXXX)
trap 'rm -rf "$collections"; [ -z "${stop_test:-}" ] || kill "$stop_test" 2>/dev/null || true' EXIT
export ANSIBLE_COLLECTIONS_PATH=$collections ANSIBLE_HOST_KEY_CHECKING=False ANSIBLE_RETRY_FILES_ENABLED=False
export ANSIBLE_LOCAL_TEMP=$work/tmp ANSIBLE_NOCOLOR=1 ANSIBLE_DEPRECATION_WARNINGS=False

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

echo "== ansible: sanity"
"$tests/sanity.sh" "$collection"

echo "== ansible: fleet of 20 simulated hosts"
"$tests/make_fleet.sh" "$build" "$work/fleet"
inventory=$work/fleet/inventory.yml
playbook() {
  local name=$1
  shift
  ANSIBLE_STDOUT_CALLBACK=json ansible-playbook -i "$inventory" "$root/examples/fleet/site.yml" -f 10 \
    -e fleet_batch=10 "$@" >"$work/$name.json" 2>"$work/$name.stderr" || true
  python3 "$tests/check_fleet.py" "$name" "$work/$name.json" "$work/fleet" "$bmcsim"
}

# Meanwhile, on a host of its own: a stop request on the module's own timeout, and a module killed
# by Ansible's async time-out (the tool gets the stop request from the kernel when the module dies).
"$tests/stop_test.sh" "$build" "$work/stop" >"$work/stop.log" 2>&1 &
stop_test=$!

sdr_before=$("$bmcsim" show "$work/fleet/h07/bmc" | "$tests/repository.py")
playbook first
sdr_after=$("$bmcsim" show "$work/fleet/h07/bmc" | "$tests/repository.py")
[ "$sdr_before" = "$sdr_after" ] || { echo "h07: the refused update changed the repository" >&2; exit 1; }
playbook second
# Two more machines of the first batch are not in mchk_fil now: three of ten fail their first task.
for host in h01 h02; do "$bmcsim" set "$work/fleet/$host/bmc" --product-id 0x0200 >/dev/null; done
rm -f "$work"/fleet/h*/pkg/Get_version.xml
playbook stopped

stop_status=0
wait "$stop_test" || stop_status=$?
stop_test=
if [ "$stop_status" -ne 0 ]; then cat "$work/stop.log" >&2; echo "stop test failed" >&2; exit 1; fi
cat "$work/stop.log"
echo "== ansible: passed in $(( $(date +%s) - started )) s"
