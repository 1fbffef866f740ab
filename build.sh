#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine:
#   ./build.sh demo [OUTDIR]   install what the program needs, build zpx and its module, write the gallery
#   ./build.sh test            install everything, build 64-bit, 32-bit and sanitized, run every suite
#                              and the fuzz targets briefly
#   ./build.sh build           install everything and build (64-bit only)
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}

# What zpx and the module need: the quick start installs only these.
PROGRAM_PACKAGES=(cmake make g++ pkg-config libffi-dev libpng-dev libjpeg62-turbo-dev libwebp-dev libtiff-dev
                  libcli11-dev)
# What the tests, the 32-bit, sanitized and fuzz builds and the benchmarks need besides.
TEST_PACKAGES=(libgtest-dev googletest libbenchmark-dev g++-multilib qemu-user clang libclang-rt-14-dev)

install_missing_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "build.sh: missing Debian packages: ${missing[*]} (run as root, or install them first)" >&2
        exit 2
    fi
    echo "build.sh: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    quietly apt-get update
    quietly apt-get install -y --no-install-recommends "${missing[@]}"
}

# Runs a command with its output kept aside, shown only when it fails.
quietly() {
    local log
    log=$(mktemp)
    if ! "$@" >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
}

# zpx and its module alone. A new build folder is set up without the tests
# (their packages may be missing); one that has them keeps them.
build_program() {
    local options=()
    [ -f "$ROOT/build/CMakeCache.txt" ] || options=(-DZPX_WITH_TESTS=OFF -DZPX_WITH_BENCH=OFF)
    echo "build.sh: building zpx and its module"
    quietly cmake -S "$ROOT" -B "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}"
    quietly cmake --build "$ROOT/build" --target zpx -j "$JOBS"
}

build64() {
    cmake -S "$ROOT" -B "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZPX_WITH_TESTS=ON -DZPX_WITH_BENCH=ON \
        >/dev/null
    cmake --build "$ROOT/build" -j "$JOBS"
}

build32() {
    cmake -S "$ROOT" -B "$ROOT/build32" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/m32.cmake" >/dev/null
    cmake --build "$ROOT/build32" -j "$JOBS"
}

# The unit and end-to-end suites again under AddressSanitizer and
# UndefinedBehaviorSanitizer, halting on the first report.
build_sanitized() {
    cmake -S "$ROOT" -B "$ROOT/build-sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZPX_SANITIZE=ON \
        -DZPX_WITH_BENCH=OFF >/dev/null
    cmake --build "$ROOT/build-sanitize" -j "$JOBS"
}

run_tests() {
    local status=0
    echo "== 64-bit suites"
    (cd "$ROOT/build" && ctest --output-on-failure -j "$JOBS") || status=1
    echo "== 32-bit suites (under qemu-i386)"
    (cd "$ROOT/build32" && ctest --output-on-failure -j "$JOBS") || status=1
    echo "== 64-bit suites under AddressSanitizer and UndefinedBehaviorSanitizer"
    (cd "$ROOT/build-sanitize" &&
        ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1 \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        ctest --output-on-failure -j "$JOBS") || status=1
    # Builds the libFuzzer targets with clang, replays their corpora and fuzzes
    # each for a short while; fuzz/run.sh SECONDS runs them longer.
    echo "== fuzz targets: corpus replay and 20 seconds each"
    JOBS=$JOBS "$ROOT/fuzz/run.sh" --check 20 || status=1
    if [ $status -eq 0 ]; then echo "build.sh: every suite passed"; else echo "build.sh: some suite failed"; fi
    return $status
}

command=${1:-demo}
case "$command" in
    demo)
        install_missing_packages "${PROGRAM_PACKAGES[@]}"
        build_program
        "$ROOT/build/zpx" demo "${2:-$ROOT/demo}"
        ;;
    build)
        install_missing_packages "${PROGRAM_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
        build64
        ;;
    test)
        install_missing_packages "${PROGRAM_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
        build64
        build32
        build_sanitized
        run_tests
        ;;
    *)
        echo "usage: ./build.sh demo [OUTDIR] | test | build" >&2
        exit 2
        ;;
esac
