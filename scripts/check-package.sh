#!/usr/bin/env bash
# Builds the Debian package from a configured build folder and checks it: its contents, its
# dependencies, lintian (no errors; warnings are listed, see docs/packaging.md), and a headless
# download run by the program unpacked from it into a temporary root, against a local pyftpdlib.
# Usage: scripts/check-package.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)

fail() { echo "check-package: $*" >&2; exit 1; }

cmake --build "$build"
rm -rf "$build/package"
(cd "$build" && cpack --config CPackConfig.cmake -B "$build/package" >/dev/null)
deb=$(ls "$build"/package/*.deb)
[ "$(echo "$deb" | wc -l)" -eq 1 ] || fail "expected one package, found: $deb"
echo "package: $deb"

# What the package must install.
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/bin/setup-downloader \
    ./usr/share/quillstage/GetUpdateFile.form ./usr/share/quillstage/ComSelect.form \
    ./usr/share/quillstage/ProgramIcon.png ./usr/share/quillstage/Language.png \
    ./usr/share/applications/setup-downloader.desktop \
    ./usr/share/icons/hicolor/32x32/apps/setup-downloader.png \
    ./usr/share/man/man1/setup-downloader.1.gz \
    ./usr/share/doc/quillstage-setup-downloader/copyright; do
  grep -qxF "$path" <<<"$contents" || fail "the package lacks $path"
done
depends=$(dpkg-deb -f "$deb" Depends)
for dependency in libqt6widgets6 fonts-wqy-microhei; do
  grep -q "$dependency" <<<"$depends" || fail "Depends lacks $dependency: $depends"
done

# lintian: errors fail the check, warnings are shown.
report=$(lintian --tag-display-limit 0 "$deb" 2>&1 || true)
[ -z "$report" ] || echo "$report"
if grep -q '^E: ' <<<"$report"; then fail "lintian reports errors"; fi

# The unpacked program: help, version, and a download from a local server.
work=$(mktemp -d /tmp/quillstage-package.XXXXXX)
server_pid=
cleanup() {
  local status=$?
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$work/root"
program=$work/root/usr/bin/setup-downloader
"$program" --version | grep -q "^setup-downloader " || fail "--version does not answer"
"$program" --help | grep -q "^Usage: setup-downloader" || fail "--help does not answer"
grep -q '^Name\[zh_TW\]=' "$work/root/usr/share/applications/setup-downloader.desktop" || fail "no Chinese name"

mkdir -p "$work/server/ORV_program" "$work/drive-c"
printf '#!/bin/sh\necho setup > "$(pwd)/setup-ran"\n' > "$work/server/ORV_program/SetupORV.exe"
head -c 200000 /dev/urandom > "$work/server/ORV_program/data.bin"
coproc SERVER { exec /usr/bin/python3 "$root/scripts/ftp-server.py" --root "$work/server" 2>"$work/server.log"; }
server_pid=$SERVER_PID
read -r ready port <&"${SERVER[0]}"
[ "$ready" = READY ] || fail "the FTP server did not start: $(cat "$work/server.log")"
status=0
env -u QUILLSTAGE_RESOURCES QUILLSTAGE_UI=headless QUILLSTAGE_ANSWER=no QUILLSTAGE_STALL_SECONDS=30 \
  QUILLSTAGE_FTP_SERVER="127.0.0.1:$port" QUILLSTAGE_DRIVE_C="$work/drive-c" \
  "$program" ORV E >"$work/run.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the packaged program ended with $status: $(cat "$work/run.log")"
for file in SetupORV.exe data.bin; do
  cmp -s "$work/server/ORV_program/$file" "$work/drive-c/Quillstage/$file" || fail "$file was not downloaded intact"
done
echo "check-package: the package installs its files, passes lintian and downloads from its unpacked copy"
