#!/bin/sh
# Smart render against the full render: a 1080p 60 s H.264 clip with AAC
# audio and closed GOPs, a 5 s selection in the middle. Prints the wall time
# and output size of each.
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
printf '%-10s %10s %14s\n' mode seconds bytes
for mode in --smart --no-smart; do
    start=$(date +%s.%N)
    "$HYHOST" render "$WORK/source.mp4" -o "$WORK/out$mode.mp4" --from 30 --duration 5 --preset "$PRESET" \
        "$mode" --quiet
    end=$(date +%s.%N)
    printf '%-10s %10.2f %14s\n' "$mode" "$(awk "BEGIN { print $end - $start }")" "$(stat -c %s "$WORK/out$mode.mp4")"
done
