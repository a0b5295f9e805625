#!/usr/bin/env bash
# A firmware roll-out over SSH (examples/fleet/site.yml, firmware only) whose connections to two hosts are
# cut while Korvane writes their flash, beside a host flashed without activation:
#   1. The SSH sessions of c1 (a terminal, as Ansible runs modules without pipelining) and of c3 (pipelining:
#      no terminal to hang up, the module finds its output gone) are ended mid-flash: the module's stop
#      request reaches the tool; the BMC is left safe (channel 2 restored, image selector untouched, the
#      tool's lock free). c2 is flashed with bmc_activate: false and its new firmware is pending.
#   2. The next play completes c1 and c3 and activates them (c1's BMC answers nothing for 20 s after its
#      reset); c2 changes nothing and reports pending_activation, its flash not written again.
#   3. With activation on, c2 is reset into its pending image and confirmed, still without a flash.
# Usage: cut_test.sh BUILD_DIR DIR   (FLEET_SSH_PORT, _USER, _KEY, _KNOWN_HOSTS, FLEET_BECOME from run.sh,
#                                     ANSIBLE_COLLECTIONS_PATH naming the installed collection)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
dir=$2
bmcsim=$build/bin/bmcsim
# shellcheck source=ansible/tests/ssh_hosts.sh
source "$root/ansible/tests/ssh_hosts.sh"
rm -rf "$dir"
mkdir -p "$dir"

fail() {
  echo "cut test: $*" >&2
  for host in c1 c2 c3; do
    ls -l "$dir/$host/fw" >&2 || true
    tail -n 8 "$dir/$host/fw/Korvane_log.txt" >&2 2>/dev/null || true
  done
  exit 1
}

python=/usr/bin/python3
for candidate in "$HOME/.pyenv/versions/3.9"*/bin/python3.9 /usr/bin/python3.9; do
  [ -x "$candidate" ] && python=$candidate && break
done
{
  echo "cut:"
  echo "  hosts:"
  for host in c1 c2 c3; do
    mkdir -p "$dir/$host/fw"
    cp "$root/examples/fw-package/ExUpInfo.xml" "$root/examples/fw-package/mchk_fil" "$dir/$host/fw/"
    python3 -c 'import sys; sys.stdout.buffer.write(bytes((i * 7 + (i >> 9)) & 0xFF for i in range(256 * 1024)))' \
      >"$dir/$host/fw/bmcfw.bin"
    "$bmcsim" init "$dir/$host/bmc" --product-id 0x0100 --device-id 0x38 --fw-rev 02.30 --bank-size 0x100000 >/dev/null
  done
  # c1 and c3 get connections of their own (no shared master connection), so that ending one cuts one host.
  echo "    c1: {host_dir: '$dir/c1', bmc_boot_ms: 20000, ansible_ssh_args: '-o ControlMaster=no', ansible_pipelining: false}"
  echo "    c2: {host_dir: '$dir/c2', bmc_boot_ms: 3000, bmc_activate: false}"
  echo "    c3: {host_dir: '$dir/c3', bmc_boot_ms: 3000, ansible_ssh_args: '-o ControlMaster=no', ansible_pipelining: true}"
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
    bmc_firmware:
      tool: '$build/sim/bin/Korvane'
      package_dir: '{{ host_dir }}/fw'
    bmc_environment:
      BMCSIM_DIR: '{{ host_dir }}/bmc'
    bmc_reset_command: '$bmcsim reset {{ host_dir }}/bmc --fw-rev 02.40 --boot-ms {{ bmc_boot_ms }}'
YAML
} >"$dir/inventory.yml"
# Every flash write of c1 and c3 answers 20 ms late: their flash takes minutes, long enough to be cut.
for host in c1 c3; do "$bmcsim" fault "$dir/$host/bmc" add "netfn=0x08 cmd=0x02 count=always delay=20"; done

play() {
  local name=$1
  shift
  ANSIBLE_STDOUT_CALLBACK=json ansible-playbook -i "$dir/inventory.yml" "$root/examples/fleet/site.yml" \
    --skip-tags unpack -e fleet_group=cut -e fleet_batch=3 "$@" >"$dir/$name.json" 2>"$dir/$name.stderr" || true
}
# One field of a host's task result in a play's json output: field RUN HOST TASK-PREFIX PYTHON-EXPRESSION(r)
field() {
  python3 - "$dir/$1.json" "$2" "$3" "$4" <<'PY'
import json, sys
path, host, task, expression = sys.argv[1:5]
text = open(path).read()
run = json.loads(text[text.index('{'):])
found = {}
for play in run['plays']:
    for t in play['tasks']:
        if t['task']['name'].startswith(task) and host in t['hosts']:
            found = t['hosts'][host]
print(eval(expression, {}, {'r': found}))
PY
}
writes() {
  "$bmcsim" show "$dir/$1/bmc" | python3 -c 'import json, sys; print(json.load(sys.stdin)["firmware"]["banks"][1]["writes"])'
}
firmware=Firmware

# The Korvane -normal that writes a host's flash, once it has written some.
flashing() {
  local host=$1 pid
  for pid in $(ps -o pid= -C Korvane); do
    if [ "$(readlink "/proc/$pid/cwd" 2>/dev/null)" = "$dir/$host/fw" ] && grep -q -- -normal "/proc/$pid/cmdline" 2>/dev/null \
        && [ "$(writes "$host")" -gt 0 ]; then
      echo "$pid"
      return 0
    fi
  done
  return 1
}
left_safe() {
  local host=$1 code
  code=$(sed -n 's:.*<result_code>\(.*\)</result_code>.*:\1:p' "$dir/$host/fw/Update_normal.xml")
  [ -n "$code" ] && [ "$code" != OK ] && [ "$code" != Complete ] || fail "$host's tool answered '$code', not a stop"
  grep -q 'Stop requested' "$dir/$host/fw/Korvane_log.txt" || fail "no stop request reached $host's tool"
  "$bmcsim" show "$dir/$host/bmc" | python3 -c '
import json, sys
s = json.load(sys.stdin)
c, f = s["channel2"], s["firmware"]
sys.exit(0 if c["volatile"] == c["nonvolatile"] and c["volatile"]["access"] == 0x22 and f["image_selector"] == 1
         and f["running_bank"] == 1 else 1)' || fail "$host not left safe: channel 2 or the image selector"
  (cd "$dir/$host/fw" && BMCSIM_DIR=$dir/$host/bmc ./Korvane -version) \
    && grep -q '<result_code>OK<' "$dir/$host/fw/Get_version.xml" || fail "$host's tool lock is still held"
  [ "$(field first "$host" "$firmware" "r.get('unreachable')")" = True ] || fail "the cut did not reach Ansible as a lost $host"
  echo "cut test: $host stopped with $code at $(writes "$host") flash writes (channel 2 restored, image selector untouched, lock free)"
}

# 1. The cuts.
play first &
play_pid=$!
declare -A korvane
for _ in $(seq 120); do
  for host in c1 c3; do
    [ -n "${korvane[$host]:-}" ] || korvane[$host]=$(flashing "$host") || true
  done
  [ -n "${korvane[c1]:-}" ] && [ -n "${korvane[c3]:-}" ] && break
  sleep 0.5
done
[ -n "${korvane[c1]:-}" ] && [ -n "${korvane[c3]:-}" ] || { wait "$play_pid"; fail "a flash never started"; }
for host in c1 c3; do
  session=$(ssh_session_of "${korvane[$host]}") || fail "no sshd session above $host's Korvane (${korvane[$host]})"
  kill -KILL "$session"
done
cut_at=$(date +%s)
for host in c1 c3; do
  for _ in $(seq 120); do kill -0 "${korvane[$host]}" 2>/dev/null || break; sleep 0.5; done
  ! kill -0 "${korvane[$host]}" 2>/dev/null || fail "$host's Korvane (${korvane[$host]}) still runs a minute after the cut"
done
echo "cut test: both sessions ended; the tools ended within $(( $(date +%s) - cut_at )) s"
wait "$play_pid"
left_safe c1
left_safe c3
[ "$(field first c2 "$firmware" "(r.get('result_code'), r.get('changed'), r.get('pending_activation'))")" = \
  "('Complete', True, True)" ] || fail "c2: not flashed and pending: $(field first c2 "$firmware" r)"
echo "cut test: c2 flashed, its new firmware pending"

# 2. The next play.
for host in c1 c3; do "$bmcsim" fault "$dir/$host/bmc" clear; done
c2_writes=$(writes c2)
play second
for host in c1 c3; do
  [ "$(field second "$host" "$firmware" "(r.get('result_code'), r.get('activation', {}).get('running_version'))")" = \
    "('Complete', '02.40')" ] || fail "$host not completed and activated: $(field second "$host" "$firmware" r)"
done
answered=$(field second c1 "$firmware" "r['activation']['answered_after_s']")
python3 -c "import sys; sys.exit(0 if $answered >= 19 else 1)" || fail "c1 answered $answered s after a 20-s boot"
[ "$(field second c2 "$firmware" "(r.get('result_code'), r.get('changed'), r.get('pending_activation'))")" = \
  "('OK', False, True)" ] || fail "c2 not left pending: $(field second c2 "$firmware" r)"
[ "$(writes c2)" = "$c2_writes" ] || fail "c2's flash was written again"
[ "$(field second c2 'Versions after' "r['ansible_facts']['bmc_online_update']['firmware']['pending_activation']")" = True ] \
  || fail "bmc_facts does not report c2 pending"
echo "cut test: the next play completed c1 and c3 (c1 in $(field second c1 "$firmware" "r['elapsed']") s, its BMC" \
  "answered $answered s after its reset, running 02.40); c2 unchanged, pending activation"

# 3. c2 activated: reset and confirmed, nothing flashed.
play third -e bmc_activate=true
[ "$(field third c2 "$firmware" "(r.get('changed'), r.get('activation', {}).get('running_version'), r.get('pending_activation'))")" = \
  "(True, '02.40', False)" ] || fail "c2 not activated: $(field third c2 "$firmware" r)"
[ "$(writes c2)" = "$c2_writes" ] || fail "c2's flash was written again on its activation"
for host in c1 c3; do
  [ "$(field third "$host" "$firmware" "(r.get('changed'), r.get('result_code'))")" = "(False, 'OK')" ] \
    || fail "$host changed again: $(field third "$host" "$firmware" r)"
done
[ ! -e "$dir/c2/fw/pending_activation.json" ] || fail "c2's pending record stays after its activation"
echo "cut test: c2 reset into its pending image and confirmed (02.40), its flash not written again"
