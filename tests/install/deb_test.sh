#!/usr/bin/env bash
# Builds the Debian package from the build tree and checks what it installs
# and the runtime libraries it depends on.
set -euo pipefail
build=$1 version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$scratch/kelvarin_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb") in: $(ls "$scratch")"

files=$(dpkg-deb -c "$deb" | awk '{print $6}')
lib='\./usr/lib(/[^/]+)?'
bundle="$lib/hyhost/Plug-ins/Kelvarin\\.plugin/Contents"
for want in '\./usr/bin/hyhost' '\./usr/bin/kelvarin-prefs' '\./usr/bin/rez' "$lib/libplatform[^/]*\\.so" \
            "$bundle/Info\\.plist" "$bundle/Linux/Kelvarin\\.so" "$bundle/Resources/kelvarin\\.rsrc" \
            "$bundle/Resources/manual\\.pdf" "$bundle/Resources/kelvarin\\.nib/configHD\\.ui" \
            "$bundle/Resources/about\\.nib/about\\.ui" \
            '\./usr/share/man/man1/(hyhost|kelvarin-prefs|rez)\.1' \
            '\./usr/share/bash-completion/completions/hyhost'; do
  grep -qE "^$want\$" <<<"$files" || fail "the package lacks $want"
done
grep -vE '^\./usr/' <<<"$files" | grep -vqE '^\./$' && fail "files outside /usr: $(grep -vE '^\./(usr/)?$' <<<"$files")"
grep -qiE 'test|Probe|/include/|\.a$|/usr/local' <<<"$files" && fail "test or build-only files in the package"

[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version: $(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
for want in libc6 'libstdc\+\+6' libqt6widgets6 libqt6uitools6 'libavformat[0-9]+' 'libavcodec[0-9]+' \
            'libswscale[0-9]+' 'libswresample[0-9]+' libpixman-1-0 libpng16-16; do
  grep -qE "(^|, )$want( |,|$)" <<<"$depends" || fail "Depends lacks $want: $depends"
done
grep -q platform <<<"$depends" && fail "Depends names the package's own library: $depends"
echo "install_deb: ok"
