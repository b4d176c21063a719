#!/usr/bin/env bash
# Side-by-side: vellumguard-cli protect/restore against gpg, 7z (-mx=1: LZMA at its fastest
# level already compresses text about as well as deflate -6), age and gzip|openssl on
# one deterministic corpus, timed with hyperfine. Prints each peer's time as a ratio to
# ours (above 1: we are faster).
#
#   bench/peers.sh [--size MiB] [--small N] [--runs N] [--work DIR]
#
# The corpus: a text-like file and an incompressible file of --size MiB each (default
# 1024) and --small N small text files (default 20000). Builds the tool in Release into
# build-peers; needs hyperfine gnupg age 7zip openssl gzip tar (scripts/deps.sh bench).
set -euo pipefail
cd "$(dirname "$0")/.."
size=1024 small=20000 runs=3 work=${TMPDIR:-/tmp}/vg-peers
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size=$2; shift 2 ;;
    --small) small=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
build=${VG_BUILD_DIR:-build-peers}  # VG_BUILD_DIR: an existing Release build to use instead
if [ -z "${VG_BUILD_DIR:-}" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVG_BUILD_GUI=OFF -DVG_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" --target vellumguard-cli >/dev/null
fi
cli=$PWD/$build/cli/vellumguard-cli
sevenzip=$(command -v 7z || command -v 7zz || true)
[ -n "$sevenzip" ] || { echo "missing 7z or 7zz" >&2; exit 2; }
for t in hyperfine gpg age age-keygen openssl gzip tar; do
  command -v $t >/dev/null || { echo "missing $t (scripts/deps.sh bench installs the peers)" >&2; exit 2; }
done

mkdir -p "$work"
corpus=$work/corpus
if [ ! -f "$corpus/.done-$size-$small" ]; then
  rm -rf "$corpus"; mkdir -p "$corpus/small"
  echo "making the corpus in $corpus ..." >&2
  # Text-like: words of a fixed vocabulary in a fixed pseudo-random order (perl is in
  # every Debian); incompressible: an AES-CTR keystream, named .zip so the no-zip mask
  # stores it. Both are the same bytes on every run.
  perl -e 'srand(1); my @w = qw(the of and to in is was for on that with as by at from his her it an were are which this be or has had not but their one new first after two its who also they been have more other some into time all would when there can);
    my $left = $ARGV[0] * 1048576; while ($left > 0) { my $l = join(" ", map { $w[int(rand(@w))] } 1..12) . " " . int(rand(100000)) . "\n"; $l = substr($l, 0, $left) if length($l) > $left; print $l; $left -= length($l) }' "$size" > "$corpus/text.txt"
  openssl enc -aes-128-ctr -K 000102030405060708090a0b0c0d0e0f -iv 0 -nosalt -in <(head -c $((size * 1048576)) /dev/zero) \
    -out "$corpus/random.zip" 2>/dev/null
  perl -e 'srand(2); my ($n, $dir) = @ARGV; for my $f (0 .. $n - 1) { my $len = int(rand(8000)) + 100; my $s = ""; $s .= "lorem ipsum " . int(rand(1000)) . " " while length($s) < $len; open(my $h, ">", sprintf("%s/f%05d.txt", $dir, $f)) or die "$!"; print $h "$s\n"; close($h) or die "$!" }' "$small" "$corpus/small"
  touch "$corpus/.done-$size-$small"
fi
printf 'bench-password\n' > "$work/pw"
rm -f "$work/age.key"
age-keygen -o "$work/age.key" 2>/dev/null
recipient=$(age-keygen -y "$work/age.key")
cores=$(nproc)

w=$work/w
prep_plain="rm -rf $w && cp -a $corpus $w && rm -f $w/.done-*"
json=$work/results.json
rows=()
bench() {  # name, prepare, command
  hyperfine --style basic --runs "$runs" --prepare "$2" --export-json "$json" -n "$1" "$3" >&2
  mean=$(sed -n 's/.*"mean": *\([0-9.e+-]*\).*/\1/p' "$json" | head -n 1)
  rows+=("$1|$mean")
}

# Protect.
bench "vellumguard -j 1" "$prep_plain" "$cli protect -r -q --yes -j 1 --password-file $work/pw $w"
bench "vellumguard -j $cores" "$prep_plain" "$cli protect -r -q --yes -j $cores --password-file $work/pw $w"
bench "gpg -z 6 (of a tar)" "$prep_plain; rm -f $work/out.gpg" \
  "tar -C $w -cf - . | gpg --batch --yes --quiet --symmetric --cipher-algo AES256 --compress-algo zlib -z 6 --pinentry-mode loopback --passphrase-file $work/pw -o $work/out.gpg"
bench "vellumguard -j 1 --level 1" "$prep_plain" \
  "$cli protect -r -q --yes -j 1 --level 1 --password-file $work/pw $w"
bench "gpg -z 1 (of a tar)" "$prep_plain; rm -f $work/out1.gpg" \
  "tar -C $w -cf - . | gpg --batch --yes --quiet --symmetric --cipher-algo AES256 --compress-algo zlib -z 1 --pinentry-mode loopback --passphrase-file $work/pw -o $work/out1.gpg"
bench "7z -mx=1 -mhe=on" "$prep_plain; rm -f $work/out.7z" \
  "$sevenzip a -bd -bso0 -mx=1 -mhe=on -p\$(cat $work/pw) $work/out.7z $w"
bench "age (of a tar)" "$prep_plain; rm -f $work/out.age" \
  "tar -C $w -cf - . | age -r $recipient -o $work/out.age"
bench "gzip -6, openssl enc (of a tar)" "$prep_plain; rm -f $work/out.enc" \
  "tar -C $w -cf - . | gzip -6 | openssl enc -aes-256-cbc -pbkdf2 -pass file:$work/pw -out $work/out.enc"
protect_rows=("${rows[@]}"); rows=()

# Restore (each peer's prepare makes its own protected form once per run).
prep_ours="$prep_plain && $cli protect -r -q --yes -j $cores --password-file $work/pw $w"
bench "vellumguard -j 1" "$prep_ours" "$cli restore -r -q --yes -j 1 --password-file $work/pw $w"
bench "vellumguard -j $cores" "$prep_ours" "$cli restore -r -q --yes -j $cores --password-file $work/pw $w"
bench "gpg -d (to tar)" "rm -rf $w && mkdir -p $w" \
  "gpg --batch --quiet --pinentry-mode loopback --passphrase-file $work/pw -d $work/out.gpg | tar -C $w -xf -"
bench "7z x" "rm -rf $w && mkdir -p $w" "$sevenzip x -bd -bso0 -p\$(cat $work/pw) -o$w $work/out.7z"
bench "age -d (to tar)" "rm -rf $w && mkdir -p $w" "age -d -i $work/age.key $work/out.age | tar -C $w -xf -"
bench "openssl enc -d, gunzip (to tar)" "rm -rf $w && mkdir -p $w" \
  "openssl enc -d -aes-256-cbc -pbkdf2 -pass file:$work/pw -in $work/out.enc | gunzip | tar -C $w -xf -"
restore_rows=("${rows[@]}")

table() {  # title, rows...
  local title=$1; shift
  local ours
  ours=$(echo "$2" | cut -d'|' -f2)  # the default -j is the second row
  echo "| $title | seconds | time / ours (-j $cores) |"
  echo "|---|---|---|"
  for r in "$@"; do
    n=${r%%|*}; t=${r##*|}
    awk -v n="$n" -v t="$t" -v o="$ours" 'BEGIN { printf "| %s | %.2f | %.2f |\n", n, t, t / o }'
  done
}
echo
echo "Corpus: text ${size} MiB, incompressible ${size} MiB, ${small} small files; $cores cores; runs: $runs"
echo
table protect "${protect_rows[@]}"
echo
table restore "${restore_rows[@]}"
