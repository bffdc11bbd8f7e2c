#!/usr/bin/env bash
# A packager's Release build: warnings stay warnings, and what GCC reports only
# under Release optimisation is not there to report.
#   tests/build/check-release.sh SOURCE-DIR
set -euo pipefail
source=$(cd "${1:?uso: check-release.sh SOURCE-DIR}" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cmake -S "$source" -B "$scratch" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSELAVIA_BUILD_TESTS=OFF >/dev/null
if grep -q -- '-Werror' "$scratch/compile_commands.json"; then
    echo "FALHA: -Werror numa compilação Release" >&2
    exit 1
fi
# The file whose Release build once stopped on a -Wrestrict warning.
output=$(cmake --build "$scratch" --target tools/hostile/CMakeFiles/selavia_hostile.dir/HostileInputs.cpp.o 2>&1)
if grep -q 'warning:' <<<"$output"; then
    echo "$output" >&2
    echo "FALHA: avisos na compilação Release" >&2
    exit 1
fi
