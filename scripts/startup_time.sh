#!/usr/bin/env bash
# Start-up time of the window: from exec of the program to its first painted frame, with
# an empty list, under Xvfb. Prints every run and the median of N runs (default 10).
# Usage: scripts/startup_time.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${VG_BUILD_DIR:-build-release}
runs=${1:-10}
# A build folder that exists keeps its own configuration; a new one is a Release build.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVG_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target vellumguard >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/home" "$scratch/empty"
export ROOT="$root" BUILD="$build" RUNS="$runs" SCRATCH="$scratch"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  cd "$SCRATCH/empty"
  times=()
  for i in $(seq 0 "$RUNS"); do
    start=$(date +%s.%N)
    line=$(VELLUMGUARD_HOME="$SCRATCH/home" VELLUMGUARD_STARTUP_TIMING=1 \
           "$ROOT/$BUILD/app/vellumguard" 2>&1 >/dev/null | grep "^first-paint " || true)
    [ -n "$line" ] || { echo "run $i: no first paint reported" >&2; exit 1; }
    ms=$(awk -v a="$start" -v b="${line#first-paint }" "BEGIN { printf \"%.1f\", (b - a) * 1000 }")
    # The first run warms the file cache and the X server; it is not counted.
    if [ "$i" -eq 0 ]; then echo "warm-up: $ms ms"; continue; fi
    echo "run $i: $ms ms"
    times+=("$ms")
  done
  printf "%s\n" "${times[@]}" | sort -n | awk "{ v[NR] = \$1 } END {
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf \"median of %d runs: %.1f ms (min %.1f, max %.1f)\n\", NR, m, v[1], v[NR] }"
'
