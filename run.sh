#!/usr/bin/env bash
# The project's two commands:
#   ./run.sh demo [ARGS...]  build the native tree and run `vxhost demo`
#   ./run.sh test            build all targets and pass every test
#   ./run.sh fuzz SECONDS    run each libFuzzer target for SECONDS (clang)
# Each installs the Debian packages it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")"

NATIVE_PACKAGES=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev
                 libsndfile1-dev libcli11-dev nlohmann-json3-dev)
CROSS_PACKAGES=(g++-multilib g++-mingw-w64-i686 wine libstk-dev)
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
  if [ $need_wine32 -eq 1 ]; then as_root dpkg --add-architecture i386; fi
  as_root apt-get update -q
  local extra=()
  [ $need_wine32 -eq 1 ] && extra+=(wine32:i386)
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -q --no-install-recommends \
    "${missing[@]}" "${extra[@]}"
}

build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
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
    for preset in native linux32 win32 sanitize; do
      echo "== $preset"
      build "$preset"
      ctest --preset "$preset"
    done
    ;;
  fuzz)
    shift
    install_packages "${NATIVE_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
    exec fuzz/run.sh "${1:-120}"
    ;;
  *)
    echo "usage: ./run.sh demo [-o DIR] | ./run.sh test | ./run.sh fuzz [SECONDS]" >&2
    exit 2
    ;;
esac
