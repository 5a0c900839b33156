#!/usr/bin/env bash
# A vsftpd on loopback that requires TLS (explicit, AUTH TLS) for log-on and every data connection,
# serving one folder to one local account: the demo's TLS server.
# Prints "READY <port>" on standard output once it accepts, then serves until its standard input
# closes or it is told to stop (TERM, INT, HUP). It then stops vsftpd and removes the account if it
# made it. Needs root (vsftpd logs on a real system user); run by a normal user it asks sudo.
# While it runs it holds the lock that the vsftpd tests take, so that neither removes the account
# under the other's feet.
# The log (--log) has the FTP dialogue and, for each connection, its TLS version and cipher.
# Usage: scripts/vsftpd-tls.sh --root DIR --tls-cert PEM --tls-key KEY [--log FILE] [--user NAME] [--password WORD]
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "vsftpd-tls: vsftpd needs root, and sudo is not installed" >&2; exit 1; }
  exec sudo -- "$0" "$@"
fi

root='' cert='' key='' log='' user=kwmoro password=qk47ze19
while [ $# -gt 0 ]; do
  case $1 in
    --root) root=$2 ;;
    --tls-cert) cert=$2 ;;
    --tls-key) key=$2 ;;
    --log) log=$2 ;;
    --user) user=$2 ;;
    --password) password=$2 ;;
    *) echo "vsftpd-tls: unknown parameter $1" >&2; exit 2 ;;
  esac
  shift 2
done
if [ ! -d "$root" ] || [ ! -f "$cert" ] || [ ! -f "$key" ]; then
  echo "vsftpd-tls: --root, --tls-cert and --tls-key are needed" >&2
  exit 2
fi
[ -x /usr/sbin/vsftpd ] || { echo "vsftpd-tls: vsftpd is not installed (package vsftpd)" >&2; exit 1; }

work=$(mktemp -d /tmp/quillstage-vsftpd.XXXXXX)
log=${log:-$work/vsftpd.log}
vsftpd_pid=
created_user=
lock_fd=
# Runs once, on every way out; keeps the script's exit status.
cleanup() {
  local status=$?
  trap - EXIT INT TERM HUP
  if [ -n "$vsftpd_pid" ]; then
    # Each log-on is a process group of its own under the listener, which outlives it: ended too,
    # so that no process runs as the account once it is removed.
    local sessions session
    sessions=$(pgrep -P "$vsftpd_pid" || true)
    kill "$vsftpd_pid" 2>/dev/null || true
    wait "$vsftpd_pid" 2>/dev/null || true
    for session in $sessions; do
      kill -KILL -- "-$session" 2>/dev/null || true
      for _ in $(seq 100); do pgrep -g "$session" >/dev/null || break; sleep 0.05; done
    done
  fi
  [ -z "$created_user" ] || /usr/sbin/userdel "$created_user" >/dev/null 2>&1 || true
  # vsftpd writes its log for root only; under sudo it goes back to whoever asked for it.
  [ -z "${SUDO_UID:-}" ] || [ ! -f "$log" ] || chown "$SUDO_UID:${SUDO_GID:-$SUDO_UID}" "$log" || true
  rm -rf "$work"
  [ -z "$lock_fd" ] || exec {lock_fd}>&-  # lets a waiting vsftpd test go on
  exit "$status"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP

exec {lock_fd}>>/tmp/quillstage-vsftpd-tests.lock
if ! flock -n "$lock_fd"; then
  echo "vsftpd-tls: waiting for the vsftpd tests that are running to finish" >&2
  flock "$lock_fd"
fi

if ! id -u "$user" >/dev/null 2>&1; then
  /usr/sbin/useradd -M -d "$root" -s /bin/bash "$user"
  created_user=$user
fi
echo "$user:$password" | /usr/sbin/chpasswd
mkdir "$work/empty"

free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
accepts() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# A port found free can be taken before vsftpd listens on it: then vsftpd ends, and another is tried.
for attempt in 1 2 3; do
  port=$(free_port)
  cat > "$work/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
background=NO
anonymous_enable=NO
local_enable=YES
write_enable=NO
local_root=$root
chroot_local_user=YES
allow_writeable_chroot=YES
pam_service_name=vsftpd
secure_chroot_dir=$work/empty
connect_from_port_20=NO
delay_failed_login=0
seccomp_sandbox=NO
userlist_enable=NO
vsftpd_log_file=$log
xferlog_enable=YES
xferlog_std_format=NO
log_ftp_protocol=YES
debug_ssl=YES
ssl_enable=YES
rsa_cert_file=$cert
rsa_private_key_file=$key
force_local_logins_ssl=YES
force_local_data_ssl=YES
require_ssl_reuse=YES
ssl_ciphers=HIGH
CONF
  chmod 600 "$work/vsftpd.conf"
  /usr/sbin/vsftpd "$work/vsftpd.conf" </dev/null >&2 {lock_fd}>&- &
  vsftpd_pid=$!
  for _ in $(seq 100); do
    accepts "$port" && break
    kill -0 "$vsftpd_pid" 2>/dev/null || break
    sleep 0.05
  done
  accepts "$port" && break
  kill "$vsftpd_pid" 2>/dev/null || true
  wait "$vsftpd_pid" 2>/dev/null || true
  vsftpd_pid=
  [ "$attempt" -lt 3 ] || { echo "vsftpd-tls: vsftpd did not start" >&2; exit 1; }
done

echo "READY $port"
# Serves until standard input closes; read, a builtin, lets the stop signals' traps run at once.
while read -r _; do :; done
