#!/usr/bin/env bash
# tests/ia32_fallback.sh IA32_PROBE QEMU_I386 PROGRAM
# The path run.sh takes on a machine that cannot execute 32-bit x86 code,
# forced: the probe must follow the override both ways, and the 32-bit
# test program must pass under the emulator.
set -euo pipefail
probe=$1 qemu=$2 program=$3

answer=$(VX_IA32=no "$probe")
[ "$answer" = emulated ] || { echo "VX_IA32=no: the probe said '$answer', not 'emulated'" >&2; exit 1; }
answer=$(VX_IA32=yes "$probe")
[ "$answer" = native ] || { echo "VX_IA32=yes: the probe said '$answer', not 'native'" >&2; exit 1; }
if VX_IA32=maybe "$probe" >/dev/null 2>&1; then
  echo "VX_IA32=maybe: the probe accepted a value it does not know" >&2
  exit 1
fi

# As the linux32 tests run under the emulator: their death tests fork
# without re-executing the program, which the emulator could not do.
echo "running $program under $qemu"
GTEST_DEATH_TEST_STYLE=fast exec "$qemu" "$program" --gtest_brief=1
