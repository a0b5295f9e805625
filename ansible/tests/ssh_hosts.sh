# shellcheck shell=bash
# The SSH server the test's hosts are reached through, as fleets are: Debian's sshd on 127.0.0.1 at a free
# port, with its own host key and one authorized key, and (as root) a login user of its own that becomes
# root with sudo. Sourced by run.sh:
#   ssh_hosts_start DIR   sets ssh_port, ssh_user, ssh_key, ssh_known_hosts, ssh_become, ssh_pid
#   ssh_hosts_stop        ends the server and every process of the test's user, removes the user and the
#                         sudoers file again (call it from an EXIT trap)
#   ssh_session_of PID    the sshd process serving the session a process runs in (the test cuts it)
# What it changes on the machine while it runs (root only): a user bmcou<pid> with its home directory,
# /etc/sudoers.d/bmc-online-update-test-<pid>, and /run/sshd when missing.

ssh_made_user='' ssh_made_sudoers='' ssh_made_privsep='' ssh_pid=''

ssh_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

ssh_hosts_start() {
  local dir=$1 authorized
  mkdir -p "$dir"
  chmod 0755 "$dir"
  rm -f "$dir"/host_key* "$dir"/client_key*
  ssh-keygen -q -t ed25519 -N '' -C bmc-test-host -f "$dir/host_key"
  ssh-keygen -q -t ed25519 -N '' -C bmc-test-client -f "$dir/client_key"
  ssh_key=$dir/client_key
  if [ "$(id -u)" -eq 0 ]; then
    ssh_user=bmcou$$
    # '*': no password, yet not a locked account (sshd refuses locked ones to keys too).
    useradd -m -p '*' -s /bin/sh -c 'bmc.online_update test (removed by the test)' "$ssh_user"
    ssh_made_user=$ssh_user
    local home
    home=$(getent passwd "$ssh_user" | cut -d: -f6)
    install -d -m 0700 -o "$ssh_user" "$home/.ssh"
    install -m 0600 -o "$ssh_user" "$dir/client_key.pub" "$home/.ssh/authorized_keys"
    authorized=.ssh/authorized_keys
    ssh_made_sudoers=/etc/sudoers.d/bmc-online-update-test-$$
    printf '%s ALL=(root) NOPASSWD: ALL\n' "$ssh_user" >"$ssh_made_sudoers.tmp"
    chmod 0440 "$ssh_made_sudoers.tmp"
    visudo -cqf "$ssh_made_sudoers.tmp"
    mv "$ssh_made_sudoers.tmp" "$ssh_made_sudoers"
    ssh_become=true
    if [ ! -d /run/sshd ]; then
      mkdir -m 0755 /run/sshd
      ssh_made_privsep=/run/sshd
    fi
  else
    # Not root: sshd can only let this user in; sudo becomes root if it may without a password.
    ssh_user=$(id -un)
    cp "$dir/client_key.pub" "$dir/authorized_keys"
    authorized=$dir/authorized_keys
    if sudo -n true 2>/dev/null; then ssh_become=true; else ssh_become=false; fi
  fi
  ssh_known_hosts=$dir/known_hosts
  local _attempt
  for _attempt in 1 2 3; do
    ssh_port=$(ssh_free_port)
    cat >"$dir/sshd_config" <<EOF
ListenAddress 127.0.0.1:$ssh_port
HostKey $dir/host_key
PidFile none
AuthorizedKeysFile $authorized
AllowUsers $ssh_user
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin no
UsePAM no
X11Forwarding no
AllowTcpForwarding no
AllowAgentForwarding no
PermitTunnel no
PermitUserRC no
# Every host's tasks share one multiplexed connection.
MaxSessions 100
MaxStartups 100
Subsystem sftp internal-sftp
LogLevel INFO
EOF
    /usr/sbin/sshd -t -f "$dir/sshd_config"
    /usr/sbin/sshd -D -e -f "$dir/sshd_config" 2>>"$dir/sshd.log" &
    ssh_pid=$!
    echo "[127.0.0.1]:$ssh_port $(cut -d' ' -f1,2 "$dir/host_key.pub")" >"$ssh_known_hosts"
    local _
    for _ in $(seq 50); do
      if ssh -F /dev/null -i "$ssh_key" -p "$ssh_port" -o BatchMode=yes -o IdentitiesOnly=yes \
          -o UserKnownHostsFile="$ssh_known_hosts" -o StrictHostKeyChecking=yes -o ConnectTimeout=5 \
          "$ssh_user@127.0.0.1" true 2>/dev/null; then
        echo "ssh: $ssh_user@127.0.0.1:$ssh_port (sshd $ssh_pid), become: $ssh_become"
        return 0
      fi
      kill -0 "$ssh_pid" 2>/dev/null || break
      sleep 0.2
    done
    kill "$ssh_pid" 2>/dev/null || true
    wait "$ssh_pid" 2>/dev/null || true
    ssh_pid=
  done
  cat "$dir/sshd.log" >&2
  echo "ssh: the test's sshd did not let $ssh_user in" >&2
  return 1
}

# Every process below pid, deepest last.
ssh_descendants() {
  local child
  for child in $(ps -o pid= --ppid "$1"); do
    echo "$child"
    ssh_descendants "$child"
  done
}

ssh_session_of() {
  local pid=$1 comm
  while [ -n "$pid" ] && [ "$pid" -gt 1 ]; do
    comm=$(ps -o comm= -p "$pid") || return 1
    [ "$comm" = sshd ] && { echo "$pid"; return 0; }
    pid=$(ps -o ppid= -p "$pid" | tr -d ' ')
  done
  return 1
}

ssh_hosts_stop() {
  local pid
  if [ -n "$ssh_pid" ]; then
    # The listener first, then its connections, which outlive it.
    local sessions
    sessions=$(ssh_descendants "$ssh_pid")
    kill "$ssh_pid" 2>/dev/null || true
    for pid in $sessions; do kill "$pid" 2>/dev/null || true; done
    wait "$ssh_pid" 2>/dev/null || true
    ssh_pid=
  fi
  if [ -n "$ssh_made_user" ]; then
    for pid in $(ps -o pid= -u "$ssh_made_user"); do kill -9 "$pid" 2>/dev/null || true; done
    local _
    for _ in $(seq 20); do
      userdel -r "$ssh_made_user" 2>/dev/null && break
      sleep 0.5
    done
    getent passwd "$ssh_made_user" >/dev/null && echo "ssh: user $ssh_made_user could not be removed" >&2
    ssh_made_user=
  fi
  [ -z "$ssh_made_sudoers" ] || rm -f "$ssh_made_sudoers" "$ssh_made_sudoers.tmp"
  ssh_made_sudoers=
  [ -z "$ssh_made_privsep" ] || rmdir "$ssh_made_privsep" 2>/dev/null || true
  ssh_made_privsep=
}
