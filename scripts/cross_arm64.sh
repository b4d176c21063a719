#!/usr/bin/env bash
# Builds the core and the command-line tool for 64-bit ARM with Debian's cross toolchain
# and runs the engine and guard tests (and the decode fuzz replay) under qemu-user.
#
#   scripts/cross_arm64.sh [--no-isal] [--build DIR]
#
# Installs what is missing (root or sudo): the arm64 architecture, crossbuild-essential-arm64,
# the arm64 zlib, OpenSSL and GoogleTest, qemu-user-static. ISA-L's arm64 packages cannot
# be installed beside the amd64 ones (they are not multiarch), so they are downloaded with
# apt-get and unpacked into the build folder; --no-isal builds with zlib alone instead.
set -euo pipefail
cd "$(dirname "$0")/.."
isal=ON build=build-arm64
while [ $# -gt 0 ]; do
  case "$1" in
    --no-isal) isal=OFF; shift ;;
    --build) build=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  $sudo dpkg --add-architecture arm64
  $sudo apt-get update -qq
fi
pkgs=(crossbuild-essential-arm64 libc6:arm64 zlib1g-dev:arm64 libssl-dev:arm64 libgtest-dev:arm64
      libgmock-dev:arm64 qemu-user-static cmake ninja-build)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

mkdir -p "$build"
isal_args=(-DVG_WITH_ISAL=OFF)
if [ "$isal" = ON ]; then
  root=$PWD/$build/isal-root
  if [ ! -f "$root/usr/include/isa-l/igzip_lib.h" ]; then
    rm -rf "$root" "$build/isal-debs"
    mkdir -p "$root" "$build/isal-debs"
    (cd "$build/isal-debs" && apt-get download -qq libisal-dev:arm64 libisal2:arm64)
    for deb in "$build"/isal-debs/*.deb; do dpkg -x "$deb" "$root"; done
  fi
  isal_args=(-DVG_WITH_ISAL=ON -DVG_ISAL_INCLUDE_DIR="$root/usr/include"
             -DVG_ISAL_LIBRARY="$root/usr/lib/aarch64-linux-gnu/libisal.so")
fi

export PKG_CONFIG_LIBDIR=/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# The programs run on the system's own arm64 C library (libc6:arm64), not on the cross
# toolchain's copy in /usr/aarch64-linux-gnu (2.36-8cross1): under qemu-user 7.2 every
# program on that copy spins at 100% CPU, deaf to SIGTERM, in its first pthread_create or
# fork (a ten-line C program with one thread does it too), and runs on libc6:arm64. The C++
# runtime, which only the cross toolchain has for arm64, is linked in statically.
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/aarch64-linux-gnu.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVG_BUILD_GUI=OFF -DVG_BUILD_TESTS=ON -DVG_WERROR=ON \
  "-DCMAKE_EXE_LINKER_FLAGS=-static-libstdc++ -static-libgcc" "${launcher[@]}" "${isal_args[@]}" \
  -DVG_WITH_LIBDEFLATE=OFF
cmake --build "$build" -j"$(nproc)" --target vellumguard-cli engine_tests guard_tests \
  fuzz_decode_replay
aarch64-linux-gnu-readelf -h "$build/cli/vellumguard-cli" | grep "Machine: *AArch64"
# The tests run under the emulator directly: emulated they take many times as long as
# natively, beyond CTest's time limits. Only ISA-L's library comes from the build folder.
emu=(qemu-aarch64-static)
[ "$isal" = ON ] && emu+=(-E "LD_LIBRARY_PATH=$PWD/$build/isal-root/usr/lib/aarch64-linux-gnu")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for t in engine/engine_tests guard/guard_tests; do
  mkdir -p "$work/home-${t##*/}"
  VELLUMGUARD_HOME="$work/home-${t##*/}" XDG_RUNTIME_DIR="$work/home-${t##*/}" \
    "${emu[@]}" "$build/tests/$t" --gtest_brief=1
done
mkdir -p "$work/home-fuzz"
VELLUMGUARD_HOME="$work/home-fuzz" "${emu[@]}" "$build/tests/fuzz/fuzz_decode_replay" 2000

# The tool itself: protect and restore a file under qemu.
head -c 3000000 /dev/urandom | base64 > "$work/plain.txt"
cp "$work/plain.txt" "$work/expected"
printf 'arm64-check\n' > "$work/pw"
run=("${emu[@]}" "$build/cli/vellumguard-cli")
for level in 1 6; do
  "${run[@]}" protect -q --yes --level "$level" --password-file "$work/pw" "$work/plain.txt"
  [ ! -e "$work/plain.txt" ] && [ -f "$work/plain.txt.~de" ]
  "${run[@]}" restore -q --yes --password-file "$work/pw" "$work/plain.txt.~de"
  cmp "$work/plain.txt" "$work/expected"
done
echo "arm64: core, tool and tests pass (ISA-L $isal)"
