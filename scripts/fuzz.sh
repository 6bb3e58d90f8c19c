#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (default 300),
# keeping what they find in build/fuzz-corpus/<target>. Seeds come from
# fuzz/corpus/<target> when present.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${KS_BUILD_DIR:-$source_dir/build}
seconds=${1:-300}
shift || true

if [ ! -f "$build_dir/fuzz/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S "$source_dir" -B "$build_dir/fuzz" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKS_BUILD_FUZZERS=ON -DKS_SANITIZE=ON >/dev/null
fi
cmake --build "$build_dir/fuzz" >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for program in "$build_dir"/fuzz/bin/*_fuzz; do
        targets+=("$(basename "$program")")
    done
fi

status=0
for target in "${targets[@]}"; do
    corpus="$build_dir/fuzz-corpus/$target"
    mkdir -p "$corpus"
    seeds=()
    [ -d "$source_dir/fuzz/corpus/$target" ] && seeds=("$source_dir/fuzz/corpus/$target")
    echo "== $target for ${seconds}s"
    if ! "$build_dir/fuzz/bin/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$build_dir/fuzz-corpus/$target-" "$corpus" "${seeds[@]}" \
        >"$build_dir/fuzz-corpus/$target.log" 2>&1; then
        echo "$target FOUND A FAULT: see $build_dir/fuzz-corpus/$target.log"
        status=1
    fi
    grep -E '^stat::number_of_executed_units' "$build_dir/fuzz-corpus/$target.log" || true
done
exit $status
