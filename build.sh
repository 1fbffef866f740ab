#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine:
#   ./build.sh demo [OUTDIR]   install what the program needs, build zpx and its module, write the gallery
#   ./build.sh test            install everything; build 64-bit, 32-bit, arm64 and sanitized, run every
#                              suite, compare the three builds' programs and run the fuzz targets briefly
#   ./build.sh build           install everything and build (64-bit only)
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}

# What zpx and the module need: the quick start installs only these.
PROGRAM_PACKAGES=(cmake make g++ pkg-config libffi-dev libpng-dev libjpeg62-turbo-dev libwebp-dev libtiff-dev
                  libcli11-dev)
# What the tests, the 32-bit, arm64, sanitized and fuzz builds and the benchmarks need besides.
TEST_PACKAGES=(libgtest-dev googletest libbenchmark-dev g++-multilib qemu-user clang libclang-rt-14-dev
               binutils-aarch64-linux-gnu)
# What the cross builds take from the target's own packages (see fetch_sysroot),
# with their dependencies: the zpx program's image libraries, and for arm64
# also the C and C++ libraries and libffi, which the 32-bit build has from the
# compiler's multilib and its own typed calls.
IMAGE_PACKAGES=(libpng-dev libjpeg62-turbo-dev libwebp-dev libtiff-dev)
I386_PACKAGES=("${IMAGE_PACKAGES[@]}")
ARM64_PACKAGES=(libc6-dev libstdc++-12-dev libffi-dev libcli11-dev "${IMAGE_PACKAGES[@]}")

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
    quietly apt-get -o DPkg::Lock::Timeout=600 update
    quietly apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}"
}

# Debian's packages of another architecture, unpacked into a sysroot for a
# cross build, with their dependencies: fetch_sysroot ARCH DIR PACKAGE...
# apt runs on package lists and a cache of its own and installs nothing, so
# the machine's packages stay as they are: an architecture added to dpkg
# would tie each of its libraries to the version the machine has installed,
# and make every apt-get update depend on that architecture's lists too.
fetch_sysroot() {
    local arch=$1 sysroot=$2
    shift 2
    local wanted="$arch $*"
    if [ -f "$sysroot/.packages" ] && [ "$(cat "$sysroot/.packages")" = "$wanted" ]; then return 0; fi
    local state="$sysroot.apt"
    rm -rf "$sysroot" "$state"
    mkdir -p "$sysroot" "$state/lists/partial" "$state/archives/partial"
    touch "$state/status"
    local apt=(-qq -o "APT::Architecture=$arch" -o "APT::Architectures::=$arch" -o "Dir::State::Lists=$state/lists"
               -o "Dir::State::status=$state/status" -o "Dir::Cache=$state" -o "Dir::Cache::archives=$state/archives"
               -o Debug::NoLocking=1 -o "APT::Sandbox::User=$(id -un)")
    echo "build.sh: fetching Debian's $arch packages for $sysroot"
    # A mirror may serve one list out of step with its index: apt then leaves
    # that list out, and the packages come from the others.
    apt-get "${apt[@]}" update || echo "build.sh: some $arch package lists could not be fetched; using the others"
    apt-get "${apt[@]}" install -y --download-only --no-install-recommends "$@"
    for deb in "$state"/archives/*.deb; do dpkg-deb -x "$deb" "$sysroot"; done
    # Links to absolute paths (libz.so -> /lib/...) would name the machine's files.
    find "$sysroot" -type l -lname '/*' -print0 | while IFS= read -r -d '' link; do
        ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$sysroot$(readlink "$link")")" "$link"
    done
    # The loader's cache of the sysroot: without one, the emulated loader reads
    # the machine's, which sends it to the machine's own 32-bit C library.
    mkdir -p "$sysroot/etc"
    echo 'include /etc/ld.so.conf.d/*.conf' > "$sysroot/etc/ld.so.conf"
    /sbin/ldconfig -r "$sysroot"
    rm -rf "$state"
    echo "$wanted" > "$sysroot/.packages"
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
    fetch_sysroot i386 "$ROOT/build32/sysroot" "${I386_PACKAGES[@]}"
    cmake -S "$ROOT" -B "$ROOT/build32" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/m32.cmake" -DZPX_SYSROOT="$ROOT/build32/sysroot" >/dev/null
    cmake --build "$ROOT/build32" -j "$JOBS"
}

build_arm64() {
    fetch_sysroot arm64 "$ROOT/build-arm64/sysroot" "${ARM64_PACKAGES[@]}"
    cmake -S "$ROOT" -B "$ROOT/build-arm64" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/aarch64.cmake" -DZPX_SYSROOT="$ROOT/build-arm64/sysroot" >/dev/null
    cmake --build "$ROOT/build-arm64" -j "$JOBS"
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
    echo "== arm64 suites (under qemu-aarch64)"
    (cd "$ROOT/build-arm64" && ctest --output-on-failure -j "$JOBS") || status=1
    echo "== the zpx program of every build on the same pictures: byte-identical outputs"
    "$ROOT/build/tests/compare_builds" -j "$JOBS" "$ROOT/build" "$ROOT/build32" "$ROOT/build-arm64" || status=1
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
        build_arm64
        build_sanitized
        run_tests
        ;;
    *)
        echo "usage: ./build.sh demo [OUTDIR] | test | build" >&2
        exit 2
        ;;
esac
