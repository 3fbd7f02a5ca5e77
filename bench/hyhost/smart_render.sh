#!/bin/bash
# Smart render against the full render: a 1080p 60 s H.264 clip with AAC
# audio and closed GOPs, a 5 s selection in the middle. Prints the wall and
# CPU time and the output size of each, and the cost of opening the clip
# alone (one placeholder frame), which both pay.
#   bench/hyhost/smart_render.sh [HYHOST] [PRESET]
set -eu
HYHOST=${1:-build/bin/hyhost}
PRESET=${2:-medium}
WORK=$(mktemp -d /tmp/kelvarin-smart-bench-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
export XDG_CONFIG_HOME="$WORK/config"
mkdir -p "$XDG_CONFIG_HOME"

ffmpeg -v error -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=60 \
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=60 \
    -c:v libx264 -preset veryfast -g 50 -bf 2 -x264-params open-gop=0 -pix_fmt yuv420p -c:a aac "$WORK/source.mp4"
echo "source: $(stat -c %s "$WORK/source.mp4") bytes"
TIMEFORMAT='%R %U %S'
printf '%-12s %8s %8s %12s\n' run wall_s cpu_s bytes
measure() {  # name output command...
    local name=$1 out=$2
    shift 2
    local t
    t=$( { time "$@" >/dev/null 2>&1; } 2>&1)
    read -r wall user sys <<<"$t"
    printf '%-12s %8.1f %8.1f %12s\n' "$name" "$wall" "$(awk "BEGIN { print $user + $sys }")" "$(stat -c %s "$out")"
}
measure open "$WORK/frame.png" "$HYHOST" placeholder "$WORK/source.mp4" -o "$WORK/frame.png"
for mode in --smart --no-smart; do
    measure "$mode" "$WORK/out$mode.mp4" "$HYHOST" render "$WORK/source.mp4" -o "$WORK/out$mode.mp4" \
        --from 30 --duration 5 --preset "$PRESET" "$mode" -y --quiet
done
