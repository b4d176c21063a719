#!/usr/bin/env bash
# vellumguard-cli against gpg on the same files, side by side in one run: a text-like file
# and an incompressible .jpg (the default no-zip mask stores it) of --size MiB each
# (default 96). Ours with -j 1 at levels 6 and 1 against gpg -z 6 and -z 1 (AES-256,
# zlib), one file per call as we protect them; restore against gpg -d of gpg's -z 6 files.
# Each round times every pair back to back, so load from elsewhere falls on both sides
# alike; the figures are medians over the rounds. gpg stretches each passphrase (S2K with
# the agent's count) on every call: its time on an empty file is shown too, and the ratio
# without it.
#
#   bench/versus_gpg.sh [--size MiB] [--runs N] [--work DIR]
#
# Builds the tool in Release into build-peers (VG_BUILD_DIR=... for another build folder);
# needs gpg and perl (scripts/deps.sh bench).
set -euo pipefail
cd "$(dirname "$0")/.."
size=96 runs=5 work=${TMPDIR:-/tmp}/vg-versus-gpg
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
command -v gpg >/dev/null || { echo "missing gpg (scripts/deps.sh bench)" >&2; exit 2; }

mkdir -p "$work"
corpus=$work/corpus
if [ ! -f "$corpus/.done-$size" ]; then
  rm -rf "$corpus"; mkdir -p "$corpus"
  # The same generators as bench/peers.sh: words of a fixed vocabulary in a fixed
  # pseudo-random order, and an AES-CTR keystream.
  perl -e 'srand(1); my @w = qw(the of and to in is was for on that with as by at from his her it an were are which this be or has had not but their one new first after two its who also they been have more other some into time all would when there can);
    my $left = $ARGV[0] * 1048576; while ($left > 0) { my $l = join(" ", map { $w[int(rand(@w))] } 1..12) . " " . int(rand(100000)) . "\n"; $l = substr($l, 0, $left) if length($l) > $left; print $l; $left -= length($l) }' "$size" > "$corpus/text.txt"
  openssl enc -aes-128-ctr -K 000102030405060708090a0b0c0d0e0f -iv 0 -nosalt -in <(head -c $((size * 1048576)) /dev/zero) \
    -out "$corpus/photo.jpg" 2>/dev/null
  : > "$corpus/empty.txt"
  touch "$corpus/.done-$size"
fi
files=(text.txt photo.jpg)
pw=$work/pw
printf 'bench-password\n' > "$pw"
gpgopts=(--batch --yes --quiet --pinentry-mode loopback --passphrase-file "$pw")
w=$work/w

fresh() {  # a fresh copy of the plain files, synced, so that no write-back runs meanwhile
  rm -rf "$w"; mkdir -p "$w"; cp "${files[@]/#/$corpus/}" "$w/"; sync
}
ours_protect() { "$cli" protect -q --yes -j 1 --level "$1" --password-file "$pw" "${files[@]/#/$w/}"; }
gpg_protect() {
  for f in "${files[@]}"; do
    gpg "${gpgopts[@]}" --symmetric --cipher-algo AES256 --compress-algo zlib -z "$1" -o "$w/$f.gpg" "$w/$f"
  done
}
ours_restore() { "$cli" restore -q --yes -j 1 --password-file "$pw" "${files[@]/#/$w/}"; }
gpg_restore() { for f in "${files[@]}"; do gpg "${gpgopts[@]}" -d -o "$w/$f" "$w/$f.gpg"; done; }

# The protected forms for the restore rounds, made once.
fresh; ours_protect 6; mkdir -p "$work/ours"; cp "$w"/*.~de "$work/ours/"
fresh; gpg_protect 6; mkdir -p "$work/gpg"; cp "$w"/*.gpg "$work/gpg/"
sizes_ours=$(du -b "$work"/ours/*.~de | awk '{s += $1} END {print s}')
sizes_gpg=$(du -b "$work"/gpg/*.gpg | awk '{s += $1} END {print s}')

now() { date +%s%N; }
declare -A times
timed() {  # name, prepare, command...
  local name=$1 prepare=$2; shift 2
  $prepare
  local t0; t0=$(now)
  "$@"
  times[$name]+="$(( $(now) - t0 )) "
}
prep_restore_ours() { rm -rf "$w"; mkdir -p "$w"; cp "$work"/ours/*.~de "$w/"; sync; }
prep_restore_gpg() { rm -rf "$w"; mkdir -p "$w"; cp "$work"/gpg/*.gpg "$w/"; sync; }
prep_empty() { rm -rf "$w"; mkdir -p "$w"; cp "$corpus/empty.txt" "$w/"; sync; }
gpg_empty() { gpg "${gpgopts[@]}" --symmetric --cipher-algo AES256 -o "$w/empty.gpg" "$w/empty.txt" && gpg "${gpgopts[@]}" -d -o "$w/empty.out" "$w/empty.gpg"; }

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for r in $(seq 1 "$runs"); do
  echo "round $r of $runs" >&2
  timed "ours protect 6" fresh ours_protect 6
  timed "gpg protect 6" fresh gpg_protect 6
  timed "ours protect 1" fresh ours_protect 1
  timed "gpg protect 1" fresh gpg_protect 1
  timed "ours restore" prep_restore_ours ours_restore
  timed "gpg restore" prep_restore_gpg gpg_restore
  timed "gpg empty" prep_empty gpg_empty
done
load=$(cut -d' ' -f1-3 /proc/loadavg)
median() { tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)] / 1e9}'; }
# gpg's fixed cost per call: half of an encrypt-and-decrypt of an empty file.
per_call=$(awk -v t="$(median "${times[gpg empty]}")" 'BEGIN {print t / 2}')
calls=${#files[@]}

echo
echo "Corpus: text ${size} MiB + incompressible .jpg ${size} MiB; ours -j 1; $runs rounds, medians;"
echo "load average $load at the end; protected sizes: ours $sizes_ours, gpg -z 6 $sizes_gpg bytes;"
echo "gpg's fixed cost per call (empty file): $(printf '%.3f' "$per_call") s"
echo
echo "| what | ours s | gpg s | ours / gpg | ours / (gpg without its per-call cost) |"
echo "|---|---|---|---|---|"
row() {  # title, ours key, gpg key
  local o g
  o=$(median "${times[$2]}"); g=$(median "${times[$3]}")
  awk -v n="$1" -v o="$o" -v g="$g" -v f="$per_call" -v c="$calls" \
    'BEGIN { printf "| %s | %.3f | %.3f | %.2f | %.2f |\n", n, o, g, o / g, o / (g - c * f) }'
}
row "protect, level 6 / gpg -z 6" "ours protect 6" "gpg protect 6"
row "protect, level 1 / gpg -z 1" "ours protect 1" "gpg protect 1"
row "restore / gpg -d" "ours restore" "gpg restore"
