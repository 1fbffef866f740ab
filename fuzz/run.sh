#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs them.
#   fuzz/run.sh [SECONDS]           run each target for SECONDS (default 60) and merge
#                                   new finds into fuzz/corpus/<target>
#   fuzz/run.sh --check [SECONDS]   replay every corpus input, then run each target for
#                                   SECONDS (default 20) without touching the corpus;
#                                   fails on any report (the test command's step)
# Needs clang and libFuzzer (Debian: clang, libclang-rt-14-dev), cmake, and the
# libraries of the normal build (libpng-dev, libjpeg62-turbo-dev, libwebp-dev, libtiff-dev,
# libffi-dev, libgtest-dev). It
# installs nothing. FUZZ_BUILD_DIR overrides the build directory (build-fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
JOBS=${JOBS:-$(nproc)}
TARGETS=(fuzz_methods fuzz_png fuzz_netpbm fuzz_jpeg fuzz_webp fuzz_tiff)

mode=run
if [ "${1:-}" = "--check" ]; then
    mode=check
    shift
fi
seconds=${1:-$([ $mode = check ] && echo 20 || echo 60)}

for tool in clang clang++ cmake; do
    if ! command -v "$tool" >/dev/null; then
        echo "fuzz/run.sh: needs $tool (Debian packages: clang libclang-rt-14-dev cmake)" >&2
        exit 2
    fi
done
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
        clang++ -x c++ -fsanitize=fuzzer - -o /dev/null 2>/dev/null; then
    echo "fuzz/run.sh: clang cannot link libFuzzer (Debian package: libclang-rt-14-dev)" >&2
    exit 2
fi

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZPX_FUZZ=ON \
    -DZPX_WITH_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target fuzz_targets >/dev/null

# Per target: the largest input and the largest single allocation allowed.
options_for() {
    case "$1" in
        # The library may take buffers up to 2^31 - 1 bytes, never more.
        fuzz_methods) echo "-max_len=4096 -malloc_limit_mb=2048 -rss_limit_mb=4096" ;;
        *) echo "-max_len=16384 -malloc_limit_mb=256" ;;
    esac
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
status=0
summary=()

for target in "${TARGETS[@]}"; do
    binary="$BUILD/fuzz/$target"
    corpus="$ROOT/fuzz/corpus/$target"
    mkdir -p "$corpus" "$scratch/$target"
    log="$scratch/$target.log"
    # shellcheck disable=SC2046
    read -r -a options <<<"$(options_for "$target")"
    if [ $mode = check ]; then
        echo "== $target: replaying $(find "$corpus" -type f | wc -l) corpus inputs"
        if ! "$binary" "${options[@]}" -runs=0 -timeout=60 "$corpus" >"$log" 2>&1; then
            cat "$log" >&2
            status=1
            continue
        fi
    fi
    echo "== $target: fuzzing for ${seconds}s"
    # New inputs land in the scratch directory; the corpus is read, never written here.
    # The test command's short run starts from a fixed seed, so it fuzzes the same way every time.
    seed=()
    [ $mode = check ] && seed=(-seed=1)
    if "$binary" "${options[@]}" "${seed[@]}" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 \
            -artifact_prefix="$scratch/$target-" "$scratch/$target" "$corpus" >"$log" 2>&1; then
        executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        calls=$(sed -n 's/^fuzz_methods: \([0-9]*\) method calls.*/, \1 method calls/p' "$log")
        summary+=("$target: ${executions:-?} executions$calls")
    else
        grep -v '^#[0-9]' "$log" | tail -60 >&2
        for artifact in "$scratch/$target"-*; do
            [ -e "$artifact" ] || continue
            mkdir -p "$ROOT/fuzz/findings"
            cp "$artifact" "$ROOT/fuzz/findings/"
            echo "fuzz/run.sh: input kept in fuzz/findings/$(basename "$artifact")" >&2
        done
        summary+=("$target: FAILED")
        status=1
        continue
    fi
    if [ $mode = run ]; then
        before=$(find "$corpus" -type f | wc -l)
        "$binary" "${options[@]}" -merge=1 "$corpus" "$scratch/$target" >/dev/null 2>&1
        echo "   corpus $before -> $(find "$corpus" -type f | wc -l) inputs"
    fi
done

echo "== fuzz summary"
printf '   %s\n' "${summary[@]}"
if [ $status -eq 0 ]; then echo "fuzz/run.sh: no target reported anything"; else echo "fuzz/run.sh: a target reported a problem"; fi
exit $status
