#!/usr/bin/env bash
# Protect and restore 1,000 small files (100 B to 20 KB) through vellumguard-cli with free
# syncs and with every sync delayed (bench/sync_delay.c, 5 ms by default), in one run,
# and print both times, the ratios delayed / free and the sync calls per file.
#
#   bench/sync_batches.sh [--files N] [--runs N] [--delay-us N] [--jobs N] [--work DIR]
#
# "Free" runs under the same shim with no delay, so both count their syncs the same way.
# Each figure is the median of --runs runs (default 3). Builds the tool in Release into
# build-syncs unless VG_BUILD_DIR names an existing Release build.
set -euo pipefail
cd "$(dirname "$0")/.."
files=1000 runs=3 delay=5000 jobs="" work=${TMPDIR:-/tmp}/vg-syncs
while [ $# -gt 0 ]; do
  case "$1" in
    --files) files=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --delay-us) delay=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
build=${VG_BUILD_DIR:-build-syncs}
if [ -z "${VG_BUILD_DIR:-}" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVG_BUILD_GUI=OFF -DVG_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" --target vellumguard-cli >/dev/null
fi
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
cli=$build/cli/vellumguard-cli
mkdir -p "$work"
shim=$work/sync_delay.so
cc -O2 -shared -fPIC -o "$shim" bench/sync_delay.c -ldl

corpus=$work/corpus-$files
if [ ! -f "$corpus/.done" ]; then
  rm -rf "$corpus"; mkdir -p "$corpus"
  # The same text-like files on every run: sizes spread evenly over 100 B to 20 KB.
  perl -e 'srand(3); my ($n, $dir) = @ARGV; for my $f (0 .. $n - 1) { my $len = int(rand(20380)) + 100; my $s = ""; $s .= "lorem ipsum " . int(rand(1000)) . " " while length($s) < $len; open(my $h, ">", sprintf("%s/f%05d.txt", $dir, $f)) or die "$!"; print $h substr($s, 0, $len); close($h) or die "$!" }' "$files" "$corpus"
  touch "$corpus/.done"
fi
printf 'bench-password\n' > "$work/pw"
jobopt=()
[ -n "$jobs" ] && jobopt=(-j "$jobs")

# run MODE-DELAY VERB: one timed run; prints seconds, appends the sync count to $counts.
run() {
  local us=$1 verb=$2 counts=$3 t0 t1
  t0=$(date +%s.%N)
  LD_PRELOAD=$shim VG_SYNC_DELAY_US=$us VG_SYNC_COUNT_FILE=$counts \
    "$cli" "$verb" -q --yes "${jobopt[@]}" --password-file "$work/pw" "$work/w" >/dev/null ||
    { echo "$verb failed" >&2; return 1; }
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}'
}
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }

declare -A secs syncs
for round in $(seq "$runs"); do
  for us in 0 "$delay"; do
    rm -rf "$work/w"; cp -a "$corpus" "$work/w"; rm -f "$work/w/.done"; sync
    for verb in protect restore; do
      : > "$work/count"
      t=$(run "$us" "$verb" "$work/count") || exit 1
      secs[$us-$verb]+="$t "
      syncs[$us-$verb]=$(awk '{s += $3} END {print s}' "$work/count")
    done
    # Every file came back as it was.
    diff -r -x .done -x zde.tmp "$corpus" "$work/w" >/dev/null || { echo "files differ after round $round" >&2; exit 1; }
  done
done
printf 'files %s, sync delay %s us, %s runs each (median), %s\n' "$files" "$delay" "$runs" \
  "$([ -n "$jobs" ] && echo "-j $jobs" || echo "default jobs")"
printf '%-8s %10s %10s %8s %14s\n' verb free_s delayed_s ratio syncs_per_file
for verb in protect restore; do
  free=$(echo ${secs[0-$verb]} | tr ' ' '\n' | median)
  slow=$(echo ${secs[$delay-$verb]} | tr ' ' '\n' | median)
  per=$(awk -v s="${syncs[$delay-$verb]}" -v n="$files" 'BEGIN {print s / n}')
  printf '%-8s %10.3f %10.3f %8.2f %14.3f\n' "$verb" "$free" "$slow" "$(awk -v a="$slow" -v b="$free" 'BEGIN {print a / b}')" "$per"
done
