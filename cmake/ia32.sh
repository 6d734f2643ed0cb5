#!/usr/bin/env bash
# Prints `native` when this machine executes 32-bit x86 Linux programs
# itself, `emulated` when it cannot (a kernel without IA32 emulation gives
# "Exec format error"), in which case the linux32 tests run under qemu-i386
# and Wine, which needs 32-bit execution, cannot start. The answer comes
# from building and running a tiny `gcc -m32` program.
#
#   VX_IA32=auto (default)  probe the machine
#   VX_IA32=yes | no        take the answer as given, without probing
set -euo pipefail

case "${VX_IA32:-auto}" in
  yes) echo native; exit 0 ;;
  no) echo emulated; exit 0 ;;
  auto) ;;
  *) echo "ia32.sh: VX_IA32 must be yes, no or auto, not '$VX_IA32'" >&2; exit 2 ;;
esac

# In the build tree rather than /tmp, which may forbid execution.
build=$(cd "$(dirname "$0")/.." && pwd)/build
mkdir -p "$build"
dir=$(mktemp -d "$build/ia32-probe.XXXXXX")
trap 'rm -rf "$dir"' EXIT
printf 'int main(void) { return sizeof(void*) == 4 ? 0 : 1; }\n' > "$dir/probe.c"
if ! gcc -m32 -o "$dir/probe" "$dir/probe.c" 2> "$dir/log"; then
  echo "ia32.sh: gcc -m32 cannot build a 32-bit program (is g++-multilib installed?):" >&2
  cat "$dir/log" >&2
  exit 1
fi
if "$dir/probe" 2> "$dir/log"; then
  echo native
else
  echo emulated
fi
