#!/bin/sh
# Under a real X server: the settings window destroyed by another program
# (xdotool windowclose) ends `hyhost configure` as Cancel, the preferences
# file unchanged. Needs Xvfb, xdotool and ffmpeg.
hyhost="$1"
dir=$(mktemp -d) || exit 2
xvfb=""
host=""
cleanup() {
    [ -n "$host" ] && kill "$host" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$dir/err" 2>/dev/null; exit 1; }

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$dir/display" ] && break; sleep 0.1; done
[ -s "$dir/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$dir/display")"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
export XDG_CONFIG_HOME="$dir/config" HOME="$dir"
mkdir -p "$XDG_CONFIG_HOME"

ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 -frames:v 30 -c:v ffv1 "$dir/clip.mkv" ||
    fail "cannot make the clip"

"$hyhost" configure "$dir/clip.mkv" --at 5f >"$dir/out" 2>"$dir/err" &
host=$!
window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Kelvarin' | head -n 1)
[ -n "$window" ] || fail "the settings window did not appear"
before=$(md5sum <"$XDG_CONFIG_HOME/qzvel-Prefs")
xdotool windowclose "$window"
for _ in $(seq 300); do kill -0 "$host" 2>/dev/null || break; sleep 0.1; done
kill -0 "$host" 2>/dev/null && fail "hyhost still runs without its window"
wait "$host"
status=$?
host=""
[ "$status" -eq 0 ] || fail "hyhost ended with status $status"
grep -q '^Settings unchanged' "$dir/out" || fail "not a Cancel: $(cat "$dir/out")"
[ "$(md5sum <"$XDG_CONFIG_HOME/qzvel-Prefs")" = "$before" ] || fail "the preferences file changed"
exit 0
