#!/usr/bin/env bash
# Starts the window under a virtual X server (Xvfb) in a small sample folder and saves a
# picture of it. Usage: scripts/screenshot.sh [out.png]   (default docs/screenshots/main-window.png)
# Needs xvfb and xauth (scripts/deps.sh test installs them). The program's own files
# go to a scratch VELLUMGUARD_HOME, never to the user's.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${VG_BUILD_DIR:-build-release}
out=${1:-docs/screenshots/main-window.png}
case "$out" in /*) ;; *) out="$root/$out" ;; esac
# A build folder that exists keeps its own configuration; a new one is a Release build.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVG_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target vellumguard vellumguard-cli >/dev/null
# /var/tmp keeps the folder tree in the picture short.
scratch=$(mktemp -d "${VG_SCREENSHOT_TMP:-/var/tmp}/vellumguard.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
# A made-up user with a few documents, a guard list naming some of them, and one file
# already protected.
export HOME="$scratch/alex"
export VELLUMGUARD_HOME="$scratch/program"
docs="$HOME/Documents"
mkdir -p "$docs/Projects" "$docs/Photos" "$VELLUMGUARD_HOME"
printf 'quarterly figures\n' >"$docs/report.doc"
printf 'notes\n' >"$docs/notes.txt"
printf 'plan\n' >"$docs/Projects/plan.txt"
head -c 200000 /dev/urandom >"$docs/holiday.jpg"
printf 'sample-password\n' >"$scratch/pw"
cli="$root/$build/cli/vellumguard-cli"
list="$docs/Private.dlt"
# The command-line tool keeps its own program folder here.
export VELLUMGUARD_HOME="$scratch/cli"
"$cli" list new "$list" --password-file "$scratch/pw" >/dev/null
"$cli" list add "$list" "$docs/report.doc" "$docs/notes.txt" "$docs/holiday.jpg" >/dev/null
"$cli" list add "$list" -r "$docs/Projects" >/dev/null
"$cli" protect --password-file "$scratch/pw" --quiet "$docs/notes.txt" >/dev/null
mkdir -p "$(dirname "$out")"
cd "$docs"
VELLUMGUARD_HOME="$scratch/program" VELLUMGUARD_SCREENSHOT="$out" \
  xvfb-run -a -s "-screen 0 1024x768x24" "$root/$build/app/vellumguard" "$list"
echo "saved $out"
