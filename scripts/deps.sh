#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, only those missing.
# Usage: scripts/deps.sh [build|test|bench]
set -euo pipefail
kind=${1:-build}
pkgs=(g++ cmake ninja-build pkg-config zlib1g-dev libisal-dev libdeflate-dev qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
      fonts-dejavu-core adwaita-icon-theme)
case "$kind" in
  test) pkgs+=(libgtest-dev libgmock-dev libssl-dev clang libclang-rt-14-dev clang-format xauth xvfb
              desktop-file-utils appstream shared-mime-info python3 groff-base) ;;
  bench) pkgs+=(libgtest-dev libgmock-dev libssl-dev libbenchmark-dev hyperfine gnupg age 7zip openssl strace
               xvfb xauth xdotool) ;;
esac
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
