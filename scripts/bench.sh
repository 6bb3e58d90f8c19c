#!/usr/bin/env bash
# Builds the native tree and runs every benchmark program; each prints its
# ratios against the baseline it measures in the same run.
set -euo pipefail
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${KS_BUILD_DIR:-$source_dir/build}/native
[ -f "$build_dir/build.ninja" ] ||
    cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir"
status=0
for program in "$build_dir"/bin/*_bench; do
    echo "== $(basename "$program")"
    "$program" "$@" || status=1
done
exit $status
