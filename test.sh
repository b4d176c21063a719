#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer,
# checks the format and the layers, and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh test
build=${VG_TEST_BUILD_DIR:-build-test}
scripts/check_format.sh
scripts/check_layers.py

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVG_SANITIZE=ON \
  -DVG_WERROR=ON -DVG_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
cd "$build"
ctest --output-on-failure -j "$(nproc)"
