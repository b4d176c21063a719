#!/usr/bin/env bash
# Installs what is missing; checks the format, the layers and that no function runs over
# 80 lines without a reason; builds with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs every test through CTest; then the engine, guard and command-line tests once
# more under ThreadSanitizer (scripts/tsan.sh; VG_TEST_TSAN=0 leaves that out).
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh test
build=${VG_TEST_BUILD_DIR:-build-test}
scripts/check_format.sh
scripts/check_layers.py
scripts/function_lengths.py --fail-over 80 --min 81

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVG_SANITIZE=ON \
  -DVG_WERROR=ON -DVG_BUILD_TESTS=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
(cd "$build" && ctest --output-on-failure -j "$(nproc)")
if [ "${VG_TEST_TSAN:-1}" != 0 ]; then
  scripts/tsan.sh
fi
