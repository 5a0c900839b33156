#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running the project need.
# Idempotent and quick when everything is present: apt is called only for what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev
  fontconfig fonts-dejavu-core fonts-wqy-microhei
  netbase
  python3-pyftpdlib vsftpd passwd
  telnet xvfb x11-utils qt6-translations-l10n
  dpkg-dev file lintian
  clang libclang-rt-14-dev
  libssl-dev openssl python3-openssl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
