#!/usr/bin/env bash
# The program's main job on this machine: a download from a local FTP server.
# Installs what is needed, builds setup-downloader, serves a sample product folder "ORV_program"
# with pyftpdlib on loopback, and runs the program against it with drive C in a folder of its
# own: in the Qt window when a display is available, headless otherwise. Stops the server at the end.
# With --tls the server is vsftpd requiring TLS for log-on and every data connection
# (scripts/vsftpd-tls.sh; it needs root, so a normal user is asked for sudo), with a certificate
# made for the run that the program is told to trust (QUILLSTAGE_FTP_CA), and the program is
# pointed at ftps://.
# Usage: scripts/demo.sh [--tls] [build-dir]    (the program's parameters can follow after "--")
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
tls=
if [ "${1:-}" = "--tls" ]; then tls=1; shift; fi
if [ $# -gt 0 ] && [ "$1" != "--" ]; then build=$1; shift; fi
[ "${1:-}" = "--" ] && shift

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQS_WERROR=ON >/dev/null
cmake --build "$build" --target setup-downloader

demo=$(mktemp -d /tmp/quillstage-demo.XXXXXX)
server_pid=
server_in=
# Stops the server and keeps the script's exit status: the server's own status (killed: 143) must
# neither replace it nor, under set -e, end the clean-up early. The vsftpd script also stops when
# its input closes, in case it runs under sudo.
cleanup() {
  local status=$?
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    [ -z "$server_in" ] || exec {server_in}>&- 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  exit "$status"
}
trap cleanup EXIT

# The sample product: a setup program (a shell script standing in for the real one) and data files.
product=$demo/server/ORV_program
mkdir -p "$product" "$demo/drive-c"
cat > "$product/SetupORV.exe" <<'SCRIPT'
#!/bin/sh
echo "The ORV setup program started in $(pwd)."
echo "setup started" > "$(pwd)/setup-started.txt"
SCRIPT
echo "Quillstage sample data" > "$product/readme.txt"
head -c 1048576 /dev/urandom > "$product/data1.bin"
head -c 262144 /dev/urandom > "$product/data2.bin"

server_args=(--root "$demo/server")
scheme=
if [ -n "$tls" ]; then
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 7 -subj /CN=127.0.0.1 \
    -addext subjectAltName=IP:127.0.0.1 -keyout "$demo/server.key" -out "$demo/server.pem" 2>/dev/null
  server_args+=(--tls-cert "$demo/server.pem" --tls-key "$demo/server.key" --log "$demo/vsftpd.log")
  export QUILLSTAGE_FTP_CA=$demo/server.pem
  scheme=ftps://
  # vsftpd serves the folder as the account it logs on, which must reach it through the demo folder.
  chmod 755 "$demo"
  chmod -R a+rX "$demo/server"
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "vsftpd needs root: run this as root or install sudo" >&2; exit 1; }
    echo "vsftpd needs root: sudo may ask for your password"
    sudo -v
  fi
  # The script says "READY <port>" once vsftpd accepts; its own messages go to the terminal.
  coproc SERVER { exec "$root/scripts/vsftpd-tls.sh" "${server_args[@]}"; }
  server_in=${SERVER[1]}
  server_log="the messages above"
else
  # The server says "READY <port>" once it listens.
  coproc SERVER { exec /usr/bin/python3 "$root/scripts/ftp-server.py" "${server_args[@]}" 2>"$demo/server.log"; }
fi
server_pid=$SERVER_PID
read -r ready port <&"${SERVER[0]}" || true
[ "$ready" = READY ] || { echo "the FTP server did not start; see ${server_log:-$demo/server.log}" >&2; exit 1; }
echo "FTP server on ${scheme}127.0.0.1:$port serving $demo/server; drive C is $demo/drive-c"

export QUILLSTAGE_FTP_SERVER=${scheme}127.0.0.1:$port
export QUILLSTAGE_DRIVE_C=$demo/drive-c
if [ -z "${QUILLSTAGE_UI:-}" ] && [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  export QUILLSTAGE_UI=headless
  # Unattended, the end-of-run question is answered Yes, so the setup program starts.
  export QUILLSTAGE_ANSWER=${QUILLSTAGE_ANSWER:-yes}
fi
status=0
"$build/app/setup-downloader" "$@" || status=$?
sleep 1  # the setup program runs detached; give it a moment to say so
echo "setup-downloader ended with exit code $status; the files are in $demo/drive-c/Quillstage:"
ls -l "$demo/drive-c/Quillstage"
exit "$status"
