#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts the program.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh build
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVG_BUILD_GUI=ON -DVG_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j "$(nproc)"
if [ -x build-release/app/vellumguard ]; then
  exec build-release/app/vellumguard "$@"
fi
exec build-release/cli/vellumguard-cli --help
