#!/usr/bin/env bash
# Builds the engine, guard and command-line tests with ThreadSanitizer (no GUI, no ASan)
# and runs them. The parallel deflate's workers and the tool's -j N runner share data
# with the thread that started them; a race there fails this run.
#
#   scripts/tsan.sh [--build DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-tsan
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVG_TSAN=ON -DVG_WERROR=ON \
  -DVG_BUILD_TESTS=ON -DVG_BUILD_GUI=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target engine_tests guard_tests cli_tests vellumguard-cli
cd "$build"
ctest --output-on-failure -j "$(nproc)" -R '^(engine_tests|guard_tests|cli_tests)$'
