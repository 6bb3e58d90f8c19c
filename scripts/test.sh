#!/usr/bin/env bash
# The test command: installs what is missing, builds the four trees
# (native, native with address and undefined-behaviour sanitizers, native
# with the thread sanitizer, Windows) and runs every test, the Windows
# ones under a private Wine environment. Exits non-zero on any failure.
set -uo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${KS_BUILD_DIR:-$source_dir/build}
jobs=${KS_JOBS:-$(nproc)}

"$source_dir/scripts/install-deps.sh" || exit 1

configure() { # tree, extra cmake arguments...
    local tree=$1
    shift
    if [ ! -f "$build_dir/$tree/build.ninja" ]; then
        cmake -S "$source_dir" -B "$build_dir/$tree" -G Ninja "$@" >/dev/null || return 1
    fi
}

build() { # tree, extra cmake arguments...
    echo "== build $1"
    configure "$@" && cmake --build "$build_dir/$1" -j "$jobs"
}

build native -DCMAKE_BUILD_TYPE=RelWithDebInfo || exit 1
build sanitize -DCMAKE_BUILD_TYPE=Debug -DKS_SANITIZE=ON -DKS_BUILD_BENCH=OFF || exit 1
build tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKS_THREAD_SANITIZE=ON -DKS_BUILD_BENCH=OFF || exit 1
build win64 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchain-win64.cmake" || exit 1

failed=()
run_ctest() { # tree
    echo "== test $1"
    ctest --test-dir "$build_dir/$1" -j "$jobs" --output-on-failure --timeout 300 ||
        failed+=("$1")
}

run_ctest native
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest sanitize
TSAN_OPTIONS=halt_on_error=1 run_ctest tsan

echo "== fuzz (smoke run)"
KS_BUILD_DIR="$build_dir" "$source_dir/scripts/fuzz.sh" "${KS_FUZZ_SECONDS:-10}" || failed+=(fuzz)

wine_root="$build_dir/win64/wine"
"$source_dir/scripts/wine-env.sh" start "$wine_root" || exit 1
trap '"$source_dir/scripts/wine-env.sh" stop "$wine_root"' EXIT
run_ctest win64

if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED trees: ${failed[*]}"
    exit 1
fi
echo "All trees passed."
