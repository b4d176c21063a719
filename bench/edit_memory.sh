#!/usr/bin/env bash
# Resident memory of the window program with no edit session open and with N open
# (default 10), under a virtual X server. The program runs with its main window; each
# session is handed to it by "vellumguard --edit" as a double click would, and the
# password is typed into its dialog with xdotool. With "verb" the first "--edit" is the
# owner itself (no main window, only "Files being edited"), measured at one session. A fake editor stands in for the
# desktop's application (it keeps nothing open), so only the program's own memory is
# measured; the plaintext lives on tmpfs, outside the process.
# Usage: bench/edit_memory.sh [N [verb]]   Needs xvfb, xauth and xdotool (scripts/deps.sh bench).
# Prints VmRSS and VmHWM (KiB) from /proc/PID/status at each point.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${VG_BUILD_DIR:-build-release}
sessions=${1:-10}
mode=${2:-window}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVG_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target vellumguard vellumguard-cli >/dev/null
app="$root/$build/app/vellumguard"
cli="$root/$build/cli/vellumguard-cli"

scratch=$(mktemp -d /var/tmp/vg-edit-memory.XXXXXX)
runtime=$scratch/run
[ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ] && runtime=$(mktemp -d /dev/shm/vg-edit-memory.XXXXXX)
chmod 700 "$runtime"
xvfb=""
program=""
cleanup() {
  set +e
  touch "$scratch/done"
  # SIGTERM would ask whether to finish the open sessions; their folders go with ours.
  [ -n "$program" ] && kill -KILL "$program" 2>/dev/null && wait "$program" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$scratch" "$runtime"
}
trap cleanup EXIT

export HOME="$scratch/home" VELLUMGUARD_HOME="$scratch/program" XDG_RUNTIME_DIR="$runtime"
export XDG_CONFIG_HOME="$scratch/config" XDG_CONFIG_DIRS="$scratch/config"
export XDG_DATA_HOME="$scratch/data" XDG_DATA_DIRS="$scratch/data:/usr/share"
mkdir -p "$HOME/docs" "$VELLUMGUARD_HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME/applications"
# The editor: stays until the end, holding nothing open.
printf 'while [ -d "%s" ] && [ ! -e "%s/done" ]; do sleep 0.2; done\n' "$scratch" "$scratch" \
  >"$scratch/editor.sh"
printf '[Desktop Entry]\nType=Application\nName=Fake\nExec=/bin/sh %s %%f\n' \
  "$scratch/editor.sh" >"$XDG_DATA_HOME/applications/fake-editor.desktop"
printf '[Default Applications]\ntext/plain=fake-editor.desktop;\n' >"$XDG_CONFIG_HOME/mimeapps.list"
printf 'memory-password\n' >"$scratch/pw"
for i in $(seq "$sessions"); do
  head -c 1048576 /dev/urandom | base64 >"$HOME/docs/doc$i.txt"
done
"$cli" protect --password-file "$scratch/pw" --quiet "$HOME"/docs/*.txt >/dev/null

# A display of our own.
exec 3< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null & echo "pid $!")
read -r _ xvfb <&3
read -r display <&3
export DISPLAY=":$display"

memory() {
  printf '%-22s %s\n' "$1" "$(grep -E '^Vm(RSS|HWM)' "/proc/$program/status" | tr -s ' \t' ' ' |
    tr '\n' ' ')"
}
sessionCount() { find "$runtime/vellumguard/edit" -name '*.session' 2>/dev/null | wc -l; }
# Waits up to 60 s for a condition (a command); fails the run after that.
waitFor() {
  for _ in $(seq 600); do "$@" && return 0; sleep 0.1; done
  echo "gave up waiting for: $*" >&2
  exit 1
}
gone() { ! kill -0 "$1" 2>/dev/null || [ "$(ps -o stat= -p "$1")" = Z ]; }
atLeast() { [ "$(sessionCount)" -ge "$1" ]; }
noDialog() { ! xdotool search --onlyvisible --name "Enter Password" >/dev/null 2>&1; }

typePassword() {
  dialog=$(timeout 60 xdotool search --sync --onlyvisible --name "Enter Password" | head -1)
  timeout 20 xdotool windowfocus --sync "$dialog"
  timeout 20 xdotool type --delay 5 "memory-password"
  timeout 20 xdotool key Return
}
first=1
if [ "$mode" = verb ]; then
  "$app" --edit "$HOME/docs/doc1.txt.~de" >/dev/null 2>&1 &
  program=$!
  typePassword
  waitFor atLeast 1
  first=2
  sleep 3
  memory "1 session"
else
  "$app" >/dev/null 2>&1 &
  program=$!
  timeout 60 xdotool search --sync --onlyvisible --class vellumguard >/dev/null
  sleep 3  # the panes fill in
  memory "no session"
fi
for i in $(seq "$first" "$sessions"); do
  "$app" --edit "$HOME/docs/doc$i.txt.~de" >/dev/null 2>&1 &
  typePassword
  handing=$!
  waitFor gone "$handing"
  wait "$handing" || { echo "the hand-over to the running program failed" >&2; exit 1; }
  waitFor atLeast "$i"
  waitFor noDialog
done
sleep 3  # the sessions' window and the editors settle
memory "$sessions sessions"
