#!/usr/bin/env bash
# Times our methods against the comparable operations of Pillow, libvips and
# ImageMagick on the same 4000 x 3000 opaque RGB photo, every one of them on a
# single thread, and prints one table (markdown) on standard output.
#
#   bench/peers.sh [--quick] [--rounds N] [--repeat N] [--modes warm,fresh] [--clock wall|cpu]
#                  [--only REGEX] [--build DIR]
#
# How it measures:
# - Ours: `zpx COMMAND ... --repeat N`, the median of N calls of the method
#   alone (no decoding); zpxbench --time for a method zpx has no command for.
# - Pillow: bench/pillow_time.py, in-process, median of N calls.
# - libvips: bench/vips_time.c, built here against libvips-dev, in-process,
#   median of N calls; once as it is (its vector path) and once with
#   VIPS_NOVECTOR=1 (its exact C path).
# - ImageMagick: only a whole process can be timed; median of N runs of the
#   operation minus the median of N runs that only load the picture.
# - Every row is timed in rounds; in each round ours and the peers run one
#   after the other, and the figure is the median over the rounds (ImageMagick
#   and anything slower than SLOW_MS: the first round only).
# - Two allocation modes, the same for both sides: "warm" keeps freed memory in
#   the process (the main figure: fresh pages cost ~14 us each on these
#   machines), "fresh" is the plain allocator.
# - The wall clock by default; with --clock cpu the CPU time of the process
#   (user and system, every thread), which other work on a shared machine
#   disturbs less. zpx reads only the wall clock, so ours is then timed with
#   zpxbench --time on the same picture.
#
# Installs nothing. It wants the Debian packages libvips-tools libvips-dev
# python3-pil imagemagick, and skips a peer whose package is missing.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(dirname "$HERE")
BUILD=$ROOT/build-bench
ROUNDS=3
REPEAT=5
MODES=warm,fresh
CLOCK=wall
ONLY=.
SLOW_MS=3000  # a command slower than this in the first round keeps that round's figure

WARM_TUNABLES=glibc.malloc.hugetlb=1:glibc.malloc.mmap_threshold=4294967295:glibc.malloc.trim_threshold=4294967295

usage() {
    sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'
    echo "  --quick      1 round of 3 calls (default $ROUNDS rounds of $REPEAT)"
    echo "  --only RE    only the rows whose operation matches the extended regular expression RE"
    echo "  --build DIR  our build with zpx, zpxbench, testphoto and memfloor (default $BUILD)"
    exit "${1:-0}"
}

while (($# > 0)); do
    case $1 in
        --quick) ROUNDS=1 REPEAT=3 ;;
        --rounds) ROUNDS=${2:?--rounds needs a number}; shift ;;
        --repeat) REPEAT=${2:?--repeat needs a number}; shift ;;
        --modes) MODES=${2:?--modes needs warm, fresh or warm,fresh}; shift ;;
        --clock) CLOCK=${2:?--clock needs wall or cpu}; shift ;;
        --only) ONLY=${2:?--only needs a regular expression}; shift ;;
        --build) BUILD=${2:?--build needs a directory}; shift ;;
        -h | --help) usage 0 ;;
        *) echo "peers.sh: unknown option '$1'" >&2; usage 2 >&2 ;;
    esac
    shift
done

note() { echo "peers.sh: $*" >&2; }
die() { note "$*"; exit 2; }
[[ $CLOCK == wall || $CLOCK == cpu ]] || die "--clock must be wall or cpu, not '$CLOCK'"

# ---------------------------------------------------------------- our tools

ZPX=$BUILD/zpx
ZPXBENCH=$BUILD/bench/zpxbench
for tool in "$ZPX" "$ZPXBENCH" "$BUILD/bench/testphoto" "$BUILD/bench/memfloor"; do
    [[ -x $tool ]] || die "$tool is missing; build it with:
  cmake -S $ROOT -B $BUILD -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build $BUILD -j2 --target zpxbench memfloor testphoto zpx picturezpx"
done

# ---------------------------------------------------------------- the peers

package_version() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo "not installed"; }

HAVE_PILLOW=0 HAVE_VIPS=0 HAVE_MAGICK=0
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zpxpeers.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

if /usr/bin/python3 -c 'import PIL' 2>/dev/null; then
    HAVE_PILLOW=1
else
    note "Pillow skipped: /usr/bin/python3 cannot import PIL (Debian package python3-pil)"
fi
if command -v pkg-config >/dev/null && pkg-config --exists vips && command -v cc >/dev/null; then
    # shellcheck disable=SC2046 # pkg-config's output is a list of flags
    if cc -O2 -o "$WORK/vips_time" "$HERE/vips_time.c" $(pkg-config --cflags --libs vips) 2>"$WORK/vips_build.log"; then
        HAVE_VIPS=1
    else
        note "libvips skipped: bench/vips_time.c does not build:"; cat "$WORK/vips_build.log" >&2
    fi
else
    note "libvips skipped: no pkg-config, C compiler or vips.pc (Debian package libvips-dev)"
fi
if [[ -x /usr/bin/convert ]] && /usr/bin/convert -version 2>/dev/null | grep -q ImageMagick; then
    HAVE_MAGICK=1
else
    note "ImageMagick skipped: /usr/bin/convert is not ImageMagick (Debian package imagemagick)"
fi

# Debian's policy caps ImageMagick at 256 MiB and spills larger pictures to disk.
mkdir -p "$WORK/magick"
cat >"$WORK/magick/policy.xml" <<'POLICY'
<policymap>
  <policy domain="resource" name="memory" value="8GiB"/>
  <policy domain="resource" name="map" value="16GiB"/>
  <policy domain="resource" name="area" value="4GP"/>
  <policy domain="resource" name="disk" value="16GiB"/>
</policymap>
POLICY

export OMP_NUM_THREADS=1 MAGICK_THREAD_LIMIT=1 VIPS_CONCURRENCY=1 MAGICK_CONFIGURE_PATH=$WORK/magick
export BENCH_CLOCK=$CLOCK  # read by pillow_time.py, vips_time.c and zpxbench --time

# ---------------------------------------------------------------- pictures

"$BUILD/bench/testphoto" 4000 3000 "$WORK/big.ppm"
"$BUILD/bench/testphoto" 4000 3000 "$WORK/other.ppm" 77
"$BUILD/bench/testphoto" 1000 750 "$WORK/small.ppm"

# @big @other @small @out in a command stand for the files.
expand() {
    local word
    for word in "$@"; do
        case $word in
            @big) echo "$WORK/big.ppm" ;;
            @other) echo "$WORK/other.ppm" ;;
            @small) echo "$WORK/small.ppm" ;;
            @out) echo "$WORK/out.ppm" ;;
            *) echo "$word" ;;
        esac
    done
}

# ---------------------------------------------------------------- runners
# Each prints one time in milliseconds, or fails with a message on stderr.

median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR] = $1} END {
    if (NR == 0) exit 1
    printf "%.3f\n", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The median from a "Method: median X ms, ..." line.
median_from_line() { sed -n 's/.*: median \([0-9.]*\) ms.*/\1/p' | tail -1 | grep .; }

# Whether zpx lists the subcommand in its help.
zpx_has() {
    local help
    help=$("$ZPX" --help 2>/dev/null) || true
    grep -qE "^  $1( |\$)" <<<"$help"
}

# ours BENCHNAME ZPXCOMMAND ARG...: zpx when it has the command, else zpxbench.
ours() {
    local name=$1 command=$2
    shift 2
    local -a args
    mapfile -t args < <(expand "$@")
    if [[ $CLOCK == wall ]] && zpx_has "$command"; then
        # zpx keeps each result until the next call has returned, so its first two
        # calls find no freed memory to reuse, where a peer's first call alone
        # does: two calls more keep its median among calls that reuse memory.
        "$ZPX" "$command" "${args[@]}" --yield 0 --repeat "$((CALLS + 2))" >/dev/null 2>"$WORK/ours.log" || {
            cat "$WORK/ours.log" >&2
            return 1
        }
    else
        [[ $CLOCK == cpu ]] || echo "zpx has no '$command' command: $name timed with zpxbench --time" >>"$WORK/fallbacks"
        "$ZPXBENCH" --time "$name" --repeat "$CALLS" >/dev/null 2>"$WORK/ours.log" || {
            cat "$WORK/ours.log" >&2
            return 1
        }
    fi
    median_from_line <"$WORK/ours.log"
}

pillow() {
    local -a args
    mapfile -t args < <(expand "$@")
    /usr/bin/python3 "$HERE/pillow_time.py" "${args[@]}" "$CALLS"
}

vips() {
    local -a args
    mapfile -t args < <(expand "$@")
    "$WORK/vips_time" "${args[@]}" "$CALLS"
}

vipsexact() { VIPS_NOVECTOR=1 vips "$@"; }

# process_ms COMMAND...: the wall-clock or CPU milliseconds of one process.
process_ms() {
    local TIMEFORMAT
    [[ $CLOCK == cpu ]] && TIMEFORMAT='%3U %3S' || TIMEFORMAT='%3R'
    { time "$@" >/dev/null 2>"$WORK/process.log"; } 2>&1 | awk '{ printf "%d\n", ($1 + $2) * 1000 }' || {
        cat "$WORK/process.log" >&2
        return 1
    }
}

# magick INPUT OPTION...: the process with the operation less the process that
# only loads, each the median of up to 3 runs (a run takes seconds).
magick() {
    local input
    input=$(expand "$1")
    shift
    local -a with=() without=()
    local i t runs=$((CALLS < 3 ? CALLS : 3))
    for ((i = 0; i < runs; i++)); do
        t=$(process_ms /usr/bin/convert -limit thread 1 "$input" null:) || return 1
        without+=("$t")
        t=$(process_ms /usr/bin/convert -limit thread 1 "$input" "$@" null:) || return 1
        with+=("$t")
    done
    local load operation
    load=$(echo "${without[*]}" | median)
    operation=$(echo "${with[*]}" | median)
    awk -v a="$operation" -v b="$load" 'BEGIN { printf "%.3f\n", a - b }'
}

available() {
    case $1 in
        pillow) ((HAVE_PILLOW)) ;;
        vips | vipsexact) ((HAVE_VIPS)) ;;
        magick) ((HAVE_MAGICK)) ;;
        *) true ;;
    esac
}

# ---------------------------------------------------------------- the rows
# row OPERATION TARGET OURS [PEER_LABEL=PEER_COMMAND]...
# TARGET is the most ours/peer may be (against the fastest peer of the row), or -.
# A peer command ending in " once" is timed in one call of the first round only.

ROW_NAMES=() ROW_TARGETS=() ROW_OURS=() ROW_PEERS=()
row() {
    [[ $1 =~ $ONLY ]] || return 0
    ROW_NAMES+=("$1") ROW_TARGETS+=("$2") ROW_OURS+=("$3")
    shift 3
    local peers="" peer
    for peer in "$@"; do peers+="$peer"$'\n'; done
    ROW_PEERS+=("$peers")
}

DOWN=1000x750 UP=4000x3000 TWICE=8000x6000
KERNELS=(- triangle box lanczos3 lanczos8 mitchell keys keys6)

row "ScaleZPX 4000×3000 → 1000×750" 0.5 "ours ScaleZPX/4000x3000->1000x750 scale @big @out --size $DOWN" \
    "Pillow reduce(4)=pillow @big reduce 4" "Pillow BOX=pillow @big resize box 1000 750" \
    "libvips shrink=vips @big shrink 4" "libvips shrink exact=vipsexact @big shrink 4" \
    "IM Box=magick @big -filter Box -resize 25%"

down() {
    local mode=$1 target=$2
    shift 2
    row "ScalingZPX $mode ${KERNELS[mode]} 4000×3000 → 1000×750" "$target" \
        "ours ScalingZPX/$mode-${KERNELS[mode]}/4000x3000->1000x750 resample @big @out --mode $mode --size $DOWN" "$@"
}
down 1 0.75 "libvips linear=vips @big reduce linear 4" "libvips linear exact=vipsexact @big reduce linear 4" \
    "Pillow BILINEAR=pillow @big resize bilinear 1000 750" "IM Triangle=magick @big -filter Triangle -resize 25%"
down 2 - "Pillow BOX=pillow @big resize box 1000 750" "Pillow reduce(4)=pillow @big reduce 4" \
    "libvips shrink=vips @big shrink 4" "libvips shrink exact=vipsexact @big shrink 4" \
    "IM Box=magick @big -filter Box -resize 25%"
down 3 0.75 "libvips lanczos3=vips @big reduce lanczos3 4" "libvips lanczos3 exact=vipsexact @big reduce lanczos3 4" \
    "Pillow LANCZOS=pillow @big resize lanczos 1000 750" "IM Lanczos=magick @big -filter Lanczos -resize 25%"
down 4 -
down 5 0.75 "libvips mitchell=vips @big reduce mitchell 4" "libvips mitchell exact=vipsexact @big reduce mitchell 4" \
    "IM Mitchell=magick @big -filter Mitchell -resize 25%"
down 6 - "libvips cubic=vips @big reduce cubic 4" "libvips cubic exact=vipsexact @big reduce cubic 4" \
    "Pillow BICUBIC=pillow @big resize bicubic 1000 750" "IM Catrom=magick @big -filter Catrom -resize 25%"
down 7 -

twice() {
    local mode=$1 target=$2
    shift 2
    row "ScalingZPX $mode ${KERNELS[mode]} 4000×3000 → 8000×6000" "$target" \
        "ours ScalingZPX/$mode-${KERNELS[mode]}/4000x3000->8000x6000 resample @big @out --mode $mode --size $TWICE" "$@"
}
twice 1 0.5 "Pillow BILINEAR=pillow @big resize bilinear 8000 6000" \
    "libvips bilinear=vips @big resize-up linear 8000 6000" "libvips bilinear exact=vipsexact @big resize-up linear 8000 6000" \
    "IM Triangle=magick @big -filter Triangle -resize 200%"
twice 3 0.5 "Pillow LANCZOS=pillow @big resize lanczos 8000 6000" "IM Lanczos=magick @big -filter Lanczos -resize 200%"

up() {
    local mode=$1
    shift
    row "ScalingZPX $mode ${KERNELS[mode]} 1000×750 → 4000×3000" - \
        "ours ScalingZPX/$mode-${KERNELS[mode]}/1000x750->4000x3000 resample @small @out --mode $mode --size $UP" "$@"
}
up 1 "Pillow BILINEAR=pillow @small resize bilinear 4000 3000" \
    "libvips bilinear=vips @small resize-up linear 4000 3000" "libvips bilinear exact=vipsexact @small resize-up linear 4000 3000"
up 2 "Pillow BOX=pillow @small resize box 4000 3000"
up 3 "Pillow LANCZOS=pillow @small resize lanczos 4000 3000"
up 4
up 5
up 6 "Pillow BICUBIC=pillow @small resize bicubic 4000 3000" \
    "libvips bicubic=vips @small resize-up cubic 4000 3000" "libvips bicubic exact=vipsexact @small resize-up cubic 4000 3000"
up 7

blur() {
    local radius=$1 target=$2
    shift 2
    row "BlurZPX radius $radius 4000×3000" "$target" \
        "ours BlurZPX/radius:$radius/4000x3000 blur @big @out --radius $radius" "$@"
}
blur 2 0.3 "Pillow BoxBlur=pillow @big boxblur 2" \
    "libvips conv=vips @big boxblur 2" "libvips conv exact=vipsexact @big boxblur 2" \
    "libvips convsep=vips @big boxblursep 2" "libvips convsep exact=vipsexact @big boxblursep 2" \
    "IM Convolve Square=magick @big -define convolve:scale=! -morphology Convolve Square:2"
# libvips' direct convolution grows with the square of the window: about 20 s a
# call at radius 10 on these machines, so one call there and none at radius 50.
blur 10 0.3 "Pillow BoxBlur=pillow @big boxblur 10" \
    "libvips conv=vips @big boxblur 10 once" "libvips convsep=vips @big boxblursep 10" \
    "libvips convsep exact=vipsexact @big boxblursep 10"
blur 50 0.3 "Pillow BoxBlur=pillow @big boxblur 50" "libvips convsep=vips @big boxblursep 50 once"
blur 200 -

row "DrawPictureFZPX 4000×3000 at (0.37, 0.61)" 0.3 \
    "ours DrawPictureFZPX/4000x3000@0.37,0.61 draw @other @big @out --at 0.37,0.61" \
    "Pillow transform=pillow @big translate 0.37 0.61" \
    "libvips affine=vips @big translate 0.37 0.61" "libvips affine exact=vipsexact @big translate 0.37 0.61" \
    "IM distort SRT=magick @big -filter Point -interpolate Bilinear -distort SRT 0,0,1,0,0.37,0.61"

row "ScaleZPX AntiAlias 1000×750 → 4000×3000" 0.5 \
    "ours ScaleZPX/AntiAlias/1000x750->4000x3000 scale @small @out --size $UP --antialias" \
    "Pillow BILINEAR=pillow @small resize bilinear 4000 3000" "Pillow BICUBIC=pillow @small resize bicubic 4000 3000" \
    "libvips bilinear=vips @small resize-up linear 4000 3000" "libvips bilinear exact=vipsexact @small resize-up linear 4000 3000"

((${#ROW_NAMES[@]} > 0)) || die "no row matches --only '$ONLY'"

# ---------------------------------------------------------------- measuring

declare -A TIMES  # "mode|command" -> the per-round times, space-separated

set_mode() {
    case $1 in
        warm) export GLIBC_TUNABLES=$WARM_TUNABLES ;;
        fresh) unset GLIBC_TUNABLES ;;
        *) die "unknown allocation mode '$1' (warm or fresh)" ;;
    esac
}

# measure MODE ROUND COMMAND: once per round for each command, whichever rows share it.
measure() {
    local mode=$1 round=$2 command=$3
    local key="$mode|$command" once=0
    [[ $command == *" once" ]] && once=1 command=${command% once}
    local -a words
    read -r -a words <<<"$command"
    available "${words[0]}" || return 0
    local done_rounds
    done_rounds=$(wc -w <<<"${TIMES[$key]:-}")
    ((done_rounds < round)) || return 0
    ((once && round > 1)) && return 0
    # An ImageMagick figure is already a median of process runs that take seconds.
    [[ ${words[0]} == magick ]] && ((round > 1)) && return 0
    local previous=${TIMES[$key]:-}
    if [[ -n $previous ]] && awk -v t="$(echo "$previous" | median)" -v s="$SLOW_MS" 'BEGIN { exit !(t > s) }'; then
        return 0  # slow enough that the first round's figure stands
    fi
    local ms
    if ms=$(CALLS=$([[ $once == 1 ]] && echo 1 || echo "$REPEAT") "${words[@]}" 2>"$WORK/error.log") && [[ -n $ms ]]; then
        TIMES[$key]+="$ms "
        printf '  %-8s %10.1f ms  %s\n' "$mode" "$ms" "$command" >&2
    else
        note "failed ($mode): $command"
        sed 's/^/    /' "$WORK/error.log" | tail -5 >&2
    fi
}

load_average() { cut -d' ' -f1-3 /proc/loadavg; }
LOAD_BEFORE=$(load_average)
STARTED=$(date +%s)

IFS=, read -r -a MODE_LIST <<<"$MODES"
for mode in "${MODE_LIST[@]}"; do
    set_mode "$mode"
    for ((round = 1; round <= ROUNDS; round++)); do
        note "$mode mode, round $round of $ROUNDS"
        for i in "${!ROW_NAMES[@]}"; do
            measure "$mode" "$round" "${ROW_OURS[i]}"
            while IFS= read -r peer; do
                [[ -n $peer ]] && measure "$mode" "$round" "${peer#*=}"
            done <<<"${ROW_PEERS[i]}"
        done
    done
done

# ---------------------------------------------------------------- the table

figure() { # MODE COMMAND -> the median over rounds, or nothing
    local times=${TIMES["$1|$2"]:-}
    if [[ -n $times ]]; then echo "$times" | median; fi
}
ms() { awk -v t="$1" 'BEGIN { printf (t < 100 ? "%.1f" : "%.0f"), t }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# fastest MODE ROW -> "label<TAB>ms" of the row's fastest peer in that mode
fastest() {
    local best_label="" best="" peer t
    while IFS= read -r peer; do
        [[ -n $peer ]] || continue
        t=$(figure "$1" "${peer#*=}")
        [[ -n $t ]] || continue
        if [[ -z $best ]] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best=$t best_label=${peer%%=*}
        fi
    done <<<"${ROW_PEERS[$2]}"
    if [[ -n $best ]]; then printf '%s\t%s\n' "$best_label" "$best"; fi
}

MAIN=${MODE_LIST[0]}
OTHER=${MODE_LIST[1]:-}
echo
echo "Medians in ms of $([[ $CLOCK == cpu ]] && echo "process CPU time" || echo "wall-clock time");" \
    "$MAIN allocation mode${OTHER:+ (and $OTHER in its column)}; $ROUNDS round(s) of $REPEAT calls."
echo
header="| operation | ours | fastest comparable peer | ours / peer | target |"
rule="|---|--:|---|--:|--:|"
[[ -n $OTHER ]] && header+=" $OTHER: ours · peer · ratio |" rule+="---|"
echo "$header every peer ($MAIN) |"
echo "$rule---|"
for i in "${!ROW_NAMES[@]}"; do
    ours_ms=$(figure "$MAIN" "${ROW_OURS[i]}")
    best=$(fastest "$MAIN" "$i")
    cells="| ${ROW_NAMES[i]} | $([[ -n $ours_ms ]] && ms "$ours_ms" || echo "—") |"
    if [[ -n $best && -n $ours_ms ]]; then
        r=$(ratio "$ours_ms" "${best#*$'\t'}")
        verdict=""
        [[ ${ROW_TARGETS[i]} != - ]] &&
            verdict=$(awk -v r="$r" -v t="${ROW_TARGETS[i]}" 'BEGIN { print (r <= t ? " ✓" : " ✗") }')
        cells+=" ${best%%$'\t'*} $(ms "${best#*$'\t'}") | $r$verdict |"
    else
        cells+=" — | — |"
    fi
    cells+=" $([[ ${ROW_TARGETS[i]} != - ]] && echo "≤ ${ROW_TARGETS[i]}" || echo "") |"
    if [[ -n $OTHER ]]; then
        other_ours=$(figure "$OTHER" "${ROW_OURS[i]}")
        other_best=$(fastest "$OTHER" "$i")
        if [[ -n $other_ours && -n $other_best ]]; then
            cells+=" $(ms "$other_ours") · $(ms "${other_best#*$'\t'}") · $(ratio "$other_ours" "${other_best#*$'\t'}") |"
        elif [[ -n $other_ours ]]; then
            cells+=" $(ms "$other_ours") |"
        else
            cells+=" — |"
        fi
    fi
    all=""
    while IFS= read -r peer; do
        [[ -n $peer ]] || continue
        t=$(figure "$MAIN" "${peer#*=}")
        [[ $peer == *" once" ]] && once=" (1 call)" || once=""
        all+="${all:+; }${peer%%=*} $([[ -n $t ]] && ms "$t" || echo "—")$once"
    done <<<"${ROW_PEERS[i]}"
    echo "$cells ${all:-—} |"
done

# ---------------------------------------------------------------- memory floor

set_mode warm
if [[ -f $WORK/fallbacks ]]; then
    echo
    sort -u "$WORK/fallbacks" | sed 's/^/Note: /'
fi

echo
echo "Memory floor (warm mode; one pass reading the source and writing the result):"
floor() { "$BUILD/bench/memfloor" "$@" 31 | sed -n 's/.*median \([0-9.]*\) ms.*/\1/p'; }
floor_scale=$(floor 4000 3000 1000 750)
floor_blur=$(floor 4000 3000 4000 3000)
echo "- box scaler, read 4000×3000 and write 1000×750: $(ms "$floor_scale") ms"
echo "- blur, read and write 4000×3000: $(ms "$floor_blur") ms"

echo
simd=""
for flag in avx2 avx512f; do
    if grep -qw "$flag" /proc/cpuinfo; then simd+=" $flag"; fi
done
echo "Machine: $(lscpu | sed -n 's/^Model name: *//p') (family $(lscpu | sed -n 's/^CPU family: *//p')," \
    "model $(lscpu | sed -n 's/^Model: *//p');${simd:- no AVX2}), $(lscpu | sed -n 's/^CPU(s): *//p') cores, $(free -g | awk '/^Mem:/ {print $2}') GiB; $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "Run: $((($(date +%s) - STARTED) / 60)) minutes; load average $LOAD_BEFORE before, $(load_average) after" \
    "(the run itself adds about 1; more means other work shared the machine)."
echo "Packages: python3-pil $(package_version python3-pil), libvips-dev $(package_version libvips-dev)," \
    "libvips-tools $(package_version libvips-tools), imagemagick $(package_version imagemagick)"
