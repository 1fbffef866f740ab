#!/usr/bin/env bash
# Whole-process times of zpx against vips, ImageMagick and Pillow on the same
# files, decoding and encoding included, each on one thread, with the sizes
# of what they write. Prints one markdown table on standard output.
#
#   bench/endtoend.sh [--rounds N] [--build DIR] [--keep DIR]
#
# The jobs, on a 4000 x 3000 photograph:
#   PNG -> PNG reduced to 1000 x 750 with Lanczos 3 (zpx resample --mode lanczos3,
#               vips resize --kernel lanczos3, convert -filter Lanczos -resize,
#               Pillow resize(LANCZOS));
#   JPEG -> JPEG the same at quality 90;
#   PNG -> PNG blurred with a box of 11 x 11 (zpx blur --radius 5, vips convsep
#               with an 11-tap box, convert -morphology Convolve with an 11-tap box
#               across and down, Pillow BoxBlur(5)).
# Each round runs every tool once on each job, one after the other; a figure
# is the median over the rounds of the wall-clock time and of the process's
# CPU time (user and system). The machine should be otherwise idle for the
# wall-clock figures; CPU time suffers less from other work.
#
# The photograph is four photographs of Debian's plasma-workspace-wallpapers
# (2000 x 1500 each, at their own resolution, side by side) when that package
# is installed, and bench/testphoto's made-up photo otherwise.
#
# Installs nothing. It wants the Debian packages libvips-tools, imagemagick and
# python3-pil (Pillow for /usr/bin/python3), and skips a peer whose package is
# missing; our build must have zpx (./build.sh build).
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(dirname "$HERE")
BUILD=$ROOT/build
ROUNDS=5
KEEP=

while (($# > 0)); do
    case $1 in
        --rounds) ROUNDS=${2:?--rounds needs a number}; shift ;;
        --build) BUILD=${2:?--build needs a directory}; shift ;;
        --keep) KEEP=${2:?--keep needs a directory}; shift ;;
        -h | --help) sed -n '2,26p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "endtoend.sh: unknown option '$1' (see --help)" >&2; exit 2 ;;
    esac
    shift
done

note() { echo "endtoend.sh: $*" >&2; }
ZPX=$BUILD/zpx
[[ -x $ZPX ]] || { note "$ZPX is missing: run ./build.sh build (or give --build DIR)"; exit 2; }
[[ -x /usr/bin/time ]] || { note "needs /usr/bin/time (Debian package time)"; exit 2; }

# The peers themselves, not whatever else is first on PATH under their names.
VIPS=/usr/bin/vips
MAGICK=/usr/bin/convert-im6.q16
PYTHON=/usr/bin/python3
tools=(zpx)
if [[ -x $VIPS ]]; then tools+=(vips); else note "no vips: install libvips-tools"; fi
if [[ -x $MAGICK ]]; then tools+=(magick); else note "no ImageMagick: install imagemagick"; fi
if "$PYTHON" -c 'import PIL' 2>/dev/null; then tools+=(pillow); else note "no Pillow: install python3-pil"; fi

work=${KEEP:-$(mktemp -d)}
mkdir -p "$work"
[[ -n $KEEP ]] || trap 'rm -rf "$work"' EXIT
cd "$work"

# One thread everywhere; ImageMagick's memory caps raised, so that it does
# not spill a 4000 x 3000 picture to disk.
export VIPS_CONCURRENCY=1 OMP_NUM_THREADS=1 MAGICK_THREAD_LIMIT=1 MAGICK_CONFIGURE_PATH=$work
cat > policy.xml <<'EOF'
<policymap>
  <policy domain="resource" name="memory" value="4GiB"/>
  <policy domain="resource" name="map" value="4GiB"/>
  <policy domain="resource" name="area" value="1GP"/>
  <policy domain="resource" name="disk" value="8GiB"/>
  <policy domain="resource" name="width" value="64KP"/>
  <policy domain="resource" name="height" value="64KP"/>
</policymap>
EOF

make_photo() {
    local wallpapers=/usr/share/wallpapers parts=()
    for name in ColorfulCups ColdRipple BytheWater DarkestHour; do
        [[ -f $wallpapers/$name/contents/images/2560x1600.jpg ]] || break
        parts+=("$wallpapers/$name/contents/images/2560x1600.jpg")
    done
    if ((${#parts[@]} == 4)) && [[ -x $VIPS ]]; then
        local i=0
        for part in "${parts[@]}"; do
            "$VIPS" crop "$part" "part$i.v" 280 50 2000 1500 2>/dev/null
            i=$((i + 1))
        done
        "$VIPS" arrayjoin "part0.v part1.v part2.v part3.v" photo.png --across 2 2>/dev/null
        rm -f part?.v
        PHOTO="four photographs of plasma-workspace-wallpapers"
    else
        note "plasma-workspace-wallpapers or vips missing: using bench/testphoto's made-up photo"
        local testphoto=$BUILD/bench/testphoto
        [[ -x $testphoto ]] || { note "$testphoto is missing too (cmake --build $BUILD --target testphoto)"; exit 2; }
        "$testphoto" 4000 3000 photo.ppm
        "$ZPX" scale photo.ppm photo.png --size 4000x3000
    fi
    "$ZPX" scale photo.png photo.jpg --size 4000x3000 --quality 90
}
make_photo

cat > pillow_job.py <<'EOF'
import sys
from PIL import Image, ImageFilter
job, source, target = sys.argv[1:4]
image = Image.open(source)
if job == "blur":
    image = image.filter(ImageFilter.BoxBlur(5))
else:
    image = image.resize((1000, 750), Image.LANCZOS)
image.save(target, quality=90) if target.endswith(".jpg") else image.save(target)
EOF
# An 11-tap box that vips applies across and then down.
{ echo "11 1 11 0"; echo "1 1 1 1 1 1 1 1 1 1 1"; } > box.mat

# The command of a tool for a job: input and output by the job's name.
command_for() {
    local tool=$1 job=$2 in=$3 out=$4
    case $tool:$job in
        zpx:blur) echo "$ZPX blur $in $out --radius 5" ;;
        zpx:*) echo "$ZPX resample $in $out --mode lanczos3 --size 1000x750 --quality 90" ;;
        vips:blur) echo "$VIPS convsep $in $out box.mat --precision integer" ;;
        vips:*) echo "$VIPS resize $in $out[Q=90] 0.25 --kernel lanczos3" ;;
        # The box as two passes, across and down (the same bytes as -statistic Mean 11x11, 7 times sooner).
        magick:blur) echo "$MAGICK -limit thread 1 $in -define convolve:scale=! -morphology Convolve Rectangle:11x1 -morphology Convolve Rectangle:1x11 $out" ;;
        magick:*) echo "$MAGICK -limit thread 1 $in -filter Lanczos -resize 1000x750 -quality 90 $out" ;;
        pillow:*) echo "$PYTHON pillow_job.py $job $in $out" ;;
    esac
}

jobs=("png:photo.png:png" "jpeg:photo.jpg:jpg" "blur:photo.png:png")
declare -A wall cpu size
for ((round = 1; round <= ROUNDS; round++)); do
    note "round $round of $ROUNDS"
    for entry in "${jobs[@]}"; do
        IFS=: read -r job in ext <<<"$entry"
        for tool in "${tools[@]}"; do
            out=$tool-$job.$ext
            # shellcheck disable=SC2046
            /usr/bin/time -f "%e %U %S" -o times $(command_for "$tool" "$job" "$in" "$out") 2>/dev/null ||
                { note "$tool failed on $job"; continue; }
            read -r elapsed user system < <(tail -1 times)
            wall[$tool:$job]+="$elapsed "
            cpu[$tool:$job]+="$(awk -v u="$user" -v s="$system" 'BEGIN {print u + s}') "
            size[$tool:$job]=$(stat -c %s "$out")
        done
    done
done

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

echo "Whole-process times on $PHOTO (4000 x 3000), median of $ROUNDS rounds, one thread each."
echo
echo "| job | tool | wall (s) | CPU (s) | output bytes |"
echo "|---|---|--:|--:|--:|"
declare -A titles=([png]="PNG → 1000 × 750 PNG, Lanczos 3" [jpeg]="JPEG → 1000 × 750 JPEG q90, Lanczos 3"
                   [blur]="PNG → PNG, 11 × 11 box blur")
declare -A names=([zpx]=zpx [vips]="vips $("$VIPS" --version 2>/dev/null | sed 's/vips-//; s/-.*//')"
                  [magick]="ImageMagick $("$MAGICK" -version 2>/dev/null | sed -n '1s/.*ImageMagick \([^ ]*\).*/\1/p')"
                  [pillow]="Pillow $("$PYTHON" -c 'import PIL; print(PIL.__version__)' 2>/dev/null)")
for entry in "${jobs[@]}"; do
    job=${entry%%:*}
    for tool in "${tools[@]}"; do
        [[ -n ${wall[$tool:$job]:-} ]] || continue
        printf '| %s | %s | %.2f | %.2f | %s |\n' "${titles[$job]}" "${names[$tool]}" \
            "$(median <<<"${wall[$tool:$job]}")" "$(median <<<"${cpu[$tool:$job]}")" "${size[$tool:$job]}"
    done
done
