#!/usr/bin/env bash
# The project's two commands:
#   ./run.sh demo [ARGS...]  build the native tree and run `vxhost demo`
#   ./run.sh test            build all targets and pass every test
#   ./run.sh dist            write the release packages to dist/
#   ./run.sh fuzz SECONDS    run each libFuzzer target for SECONDS (clang)
# Each installs the Debian packages it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")"

NATIVE_PACKAGES=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev
                 libsndfile1-dev libcli11-dev nlohmann-json3-dev libsmf-dev libjack-jackd2-dev jackd2)
# qemu-user: the linux32 tests on a machine that cannot execute 32-bit x86
# code, and on every machine the test that proves that path.
# libsndfile1-dev:i386: the linux32 vxhost's audio files.
CROSS_PACKAGES=(g++-multilib g++-mingw-w64-i686 wine libstk-dev qemu-user libsndfile1-dev:i386)
FUZZ_PACKAGES=(clang libclang-rt-dev)
# The 32-bit benchmark only; the tests do not need them, so a failed install is not fatal.
OPTIONAL_PACKAGES=(libbenchmark-dev:i386 libstk-dev:i386)

missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

install_packages() {
  local missing=($(missing_packages "$@"))
  local need_wine32=0
  if [[ " $* " == *" wine "* ]] && ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    need_wine32=1
  fi
  if [ ${#missing[@]} -eq 0 ] && [ $need_wine32 -eq 0 ]; then return; fi
  echo "== installing: ${missing[*]} $([ $need_wine32 -eq 1 ] && echo wine32:i386)"
  if [ $need_wine32 -eq 1 ] || [[ " ${missing[*]} " == *":i386 "* ]]; then as_root dpkg --add-architecture i386; fi
  as_root apt-get update -q
  local extra=()
  [ $need_wine32 -eq 1 ] && extra+=(wine32:i386)
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -q --no-install-recommends \
    "${missing[@]}" "${extra[@]}"
}

# build PRESET [CMAKE CONFIGURE ARGS...]
build() {
  cmake --preset "$1" "${@:2}" >/dev/null
  cmake --build --preset "$1"
}

# Finds out once whether this machine executes 32-bit x86 programs
# (VX_IA32=yes|no overrides the probe) and sets the configure arguments of
# the linux32 and win32 presets: where it cannot, the linux32 tests run
# under qemu-i386 and the tests that need Wine, which cannot start there,
# are skipped.
LINUX32_ARGS=()
WIN32_ARGS=()
WINE_USABLE=1
choose_ia32_runner() {
  local how="probed" mode
  [ "${VX_IA32:-auto}" != auto ] && how="VX_IA32=$VX_IA32"
  mode=$(cmake/ia32.sh)
  if [ "$mode" = native ]; then
    echo "== 32-bit x86 ($how): this machine executes 32-bit programs; linux32 tests run directly, win32 tests under Wine"
    LINUX32_ARGS=(-DVX_I386_EMULATOR=)
    WIN32_ARGS=(-DVX_WINE_USABLE=ON)
  else
    local qemu
    qemu=$(command -v qemu-i386) || { echo "run.sh: qemu-i386 (package qemu-user) is missing" >&2; exit 1; }
    echo "== 32-bit x86 ($how): this machine cannot execute 32-bit programs; linux32 tests run under $qemu," \
         "win32 tests that need Wine are skipped"
    LINUX32_ARGS=(-DVX_I386_EMULATOR="$qemu")
    WIN32_ARGS=(-DVX_WINE_USABLE=OFF)
    WINE_USABLE=0
  fi
}

case "${1:-}" in
  demo)
    shift
    install_packages "${NATIVE_PACKAGES[@]}"
    build native
    if [ -x build/native/tools/vxhost ]; then
      exec build/native/tools/vxhost demo "$@"
    fi
    echo "vxhost is not built yet; the plug-ins are in build/native/plugins" >&2
    exit 1
    ;;
  test)
    install_packages "${NATIVE_PACKAGES[@]}" "${CROSS_PACKAGES[@]}"
    install_packages "${OPTIONAL_PACKAGES[@]}" || echo "== 32-bit benchmark packages unavailable; skipping them"
    choose_ia32_runner
    for preset in native linux32 win32 sanitize; do
      echo "== $preset"
      case $preset in
        linux32) build "$preset" "${LINUX32_ARGS[@]}" ;;
        win32) build "$preset" "${WIN32_ARGS[@]}" ;;
        *) build "$preset" ;;
      esac
      ctest --preset "$preset"
      if [ "$preset" = win32 ] && [ $WINE_USABLE -eq 0 ]; then
        skipped=$(ctest --preset win32 -N -L wine | sed -n 's/^Total Tests: //p')
        echo "== win32: $skipped tests skipped: they run the DLLs under Wine, which cannot start on a machine" \
             "that does not execute 32-bit x86 code; the DLLs were built and their exports and imports checked"
      fi
    done
    echo "== release package"
    rm -rf build/dist-check
    cmake -DOUT=build/dist-check -P cmake/MakeRelease.cmake
    cmake -DDIST=build/dist-check -P cmake/CheckRelease.cmake
    echo "== every test passed in $((SECONDS / 60)) min $((SECONDS % 60)) s"
    ;;
  dist)
    install_packages "${NATIVE_PACKAGES[@]}" "${CROSS_PACKAGES[@]}"
    for preset in native linux32 win32; do
      echo "== $preset"
      build "$preset"
    done
    cmake -DOUT=dist -P cmake/MakeRelease.cmake
    ;;
  fuzz)
    shift
    install_packages "${NATIVE_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
    exec fuzz/run.sh "${1:-120}"
    ;;
  *)
    echo "usage: ./run.sh demo [-o DIR] | ./run.sh test | ./run.sh dist | ./run.sh fuzz [SECONDS]" >&2
    exit 2
    ;;
esac
