#!/bin/sh
# `hyhost configure` where no one could see its window: one line, status 1,
# and nothing opened or written (the clip need not even exist, --standard
# must not reach the preferences file).
hyhost="$1"
dir=$(mktemp -d) || exit 2
trap 'rm -rf "$dir"' EXIT
status=0
check() {   # description, env arguments...
    what="$1"
    shift
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME="$dir" HOME="$dir" "$@" \
        "$hyhost" configure "$dir/no-such-clip.mkv" --standard pal >"$dir/out" 2>"$dir/err"
    code=$?
    lines=$(wc -l <"$dir/err")
    if [ "$code" -ne 1 ] || [ "$lines" -ne 1 ] || ! grep -q '^hyhost: no display' "$dir/err" ||
        [ -n "$(ls -A "$dir" | grep -v '^out$\|^err$')" ]; then
        echo "FAIL ($what): status $code, stderr:" && cat "$dir/err" && ls -A "$dir"
        status=1
    fi
}
check "no display"
check "offscreen platform" DISPLAY=:99 QT_QPA_PLATFORM=offscreen
check "minimal platform" WAYLAND_DISPLAY=wayland-9 QT_QPA_PLATFORM=minimal
check "X platform without X" WAYLAND_DISPLAY=wayland-9 QT_QPA_PLATFORM=xcb
exit $status
