#!/usr/bin/env bash
# change-password and verify against restore, on the files of bench/versus_gpg.sh: a
# text-like file and an incompressible .jpg (stored by the default no-zip mask) of --size
# MiB each (default 192), protected once at level 6. Every round times, back to back and
# with -j 1: verify; change-password there and back (two timings); restore of a fresh
# copy. The work folder is on tmpfs when there is one (/dev/shm), so restore's writes
# cost a copy into memory rather than a disk: the closest the tool comes to a restore
# without the writes. Figures are medians over the rounds.
#
#   bench/key_ops.sh [--size MiB] [--runs N] [--work DIR]
#
# Builds the tool in Release into build-peers (VG_BUILD_DIR=... for another build folder).
set -euo pipefail
cd "$(dirname "$0")/.."
size=192 runs=5
work=${TMPDIR:-/tmp}/vg-key-ops
[ -d /dev/shm ] && [ -w /dev/shm ] && work=/dev/shm/vg-key-ops
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
build=${VG_BUILD_DIR:-build-peers}
if [ -z "${VG_BUILD_DIR:-}" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVG_BUILD_GUI=OFF -DVG_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" --target vellumguard-cli >/dev/null
fi
cli=$PWD/$build/cli/vellumguard-cli
export VELLUMGUARD_HOME=$work/home

rm -rf "$work"; mkdir -p "$work/home" "$work/corpus"
corpus=$work/corpus
# The generators of bench/versus_gpg.sh: words of a fixed vocabulary in a fixed
# pseudo-random order, and an AES-CTR keystream.
perl -e 'srand(1); my @w = qw(the of and to in is was for on that with as by at from his her it an were are which this be or has had not but their one new first after two its who also they been have more other some into time all would when there can);
  my $left = $ARGV[0] * 1048576; while ($left > 0) { my $l = join(" ", map { $w[int(rand(@w))] } 1..12) . " " . int(rand(100000)) . "\n"; $l = substr($l, 0, $left) if length($l) > $left; print $l; $left -= length($l) }' "$size" > "$corpus/text.txt"
openssl enc -aes-128-ctr -K 000102030405060708090a0b0c0d0e0f -iv 0 -nosalt -in <(head -c $((size * 1048576)) /dev/zero) \
  -out "$corpus/photo.jpg" 2>/dev/null
printf 'bench-password\n' > "$work/a"
printf 'another bench password\n' > "$work/b"
"$cli" protect -q --yes -j 1 --level 6 --password-file "$work/a" "$corpus/text.txt" "$corpus/photo.jpg"
prot=("$corpus/text.txt.~de" "$corpus/photo.jpg.~de")
r=$work/r

now() { date +%s%N; }
# CPU time (user + system) of the finished children so far, in nanoseconds: under load
# from elsewhere it says what the work itself cost.
# `times` runs in this shell (a subshell would count its own children only).
cpu() {
  tail -1 "$work/times" | perl -ne '@t = /(\d+)m([\d.]+)s/g; printf "%d\n", (($t[0] + $t[2]) * 60 + $t[1] + $t[3]) * 1e9'
}
declare -A times cpus
timed() {  # name, command...
  local name=$1; shift
  local t0 c0; times > "$work/times"; c0=$(cpu); t0=$(now)
  "$@"
  times[$name]+="$(( $(now) - t0 )) "
  times > "$work/times"
  cpus[$name]+="$(( $(cpu) - c0 )) "
}
verify() { "$cli" verify -q -j 1 --password-file "$work/a" "${prot[@]}"; }
rekey() { "$cli" change-password -q -j 1 --password-file "$work/$1" --new-password-file "$work/$2" "${prot[@]}"; }
fresh_copy() { rm -rf "$r"; mkdir -p "$r"; cp "${prot[@]}" "$r/"; sync; }
restore() { "$cli" restore -q --yes -j 1 --password-file "$work/a" "$r"/*.~de; }

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for i in $(seq 1 "$runs"); do
  echo "round $i of $runs" >&2
  timed verify verify
  timed change-password rekey a b
  timed change-password rekey b a
  fresh_copy
  timed restore restore
done
load=$(cut -d' ' -f1-3 /proc/loadavg)
median() { tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)] / 1e9}'; }
v=$(median "${times[verify]}"); c=$(median "${times[change-password]}"); s=$(median "${times[restore]}")
vc=$(median "${cpus[verify]}"); cc=$(median "${cpus[change-password]}"); sc=$(median "${cpus[restore]}")
echo
echo "Corpus: text ${size} MiB + incompressible .jpg ${size} MiB, level 6; -j 1; $runs rounds, medians;"
echo "work folder $work; load average $load at the end"
echo
echo "| what | wall s | ratio | CPU s | CPU ratio |"
echo "|---|---|---|---|---|"
awk -v v="$v" -v c="$c" -v s="$s" -v vc="$vc" -v cc="$cc" -v sc="$sc" 'BEGIN {
  printf "| restore (to tmpfs) | %.3f | | %.3f | |\n", s, sc
  printf "| verify | %.3f | %.2f of restore | %.3f | %.2f of restore |\n", v, v / s, vc, vc / sc
  printf "| change-password | %.3f | %.2f of verify | %.3f | %.2f of verify |\n", c, c / v, cc, cc / vc }'
rm -rf "$work"
