#!/usr/bin/env bash
# Installs the build tree into a scratch prefix (DESTDIR) and runs the
# installed programs as a user would: from another folder, with a clean
# environment whose home and XDG folders are scratch folders. Then moves the
# prefix, and puts copies of the bundle on the plug-in search path.
set -euo pipefail
build=$1 version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
expect() { grep -qE -- "$2" <<<"$1" || fail "$3: expected /$2/ in:"$'\n'"$1"; }

DESTDIR=$scratch/dest cmake --install "$build" --prefix /opt/kelvarin >/dev/null
P=$scratch/dest/opt/kelvarin
home=$scratch/home
mkdir -p "$home" "$scratch/work" "$scratch/runtime"
chmod 700 "$scratch/runtime"

# run [VAR=VALUE...] COMMAND...: no LD_LIBRARY_PATH, nothing of the caller's
# but the sanitizers' settings.
run() {
  local keep=() v
  for v in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
    [ -n "${!v:-}" ] && keep+=("$v=${!v}")
  done
  (cd "$scratch/work" && env -i PATH=/usr/bin:/bin HOME="$home" XDG_DATA_HOME="$home/data" \
     XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" XDG_DATA_DIRS="$scratch/system" \
     XDG_RUNTIME_DIR="$scratch/runtime" "${keep[@]}" "$@")
}

# Only the programs are installed, every library they and the bundle need is
# found, and run paths name no folder outside the installed tree.
[ "$(ls "$P/bin" | tr '\n' ' ')" = "hyhost kelvarin-prefs rez " ] || fail "bin/ holds: $(ls "$P/bin")"
[ -z "$(find "$P" -name '*.a' -o -name include -o -iname '*test*' -o -name 'Probe*')" ] ||
  fail "test or build-only files installed"
while IFS= read -r f; do
  file -b "$f" | grep -q '^ELF' || continue
  missing=$(run ldd "$f" | grep 'not found' || true)
  [ -z "$missing" ] || fail "$f: $missing"
  readelf -d "$f" | grep -E 'R(UN)?PATH' | grep -vq '\[\$ORIGIN' && fail "$f: run path not relative to \$ORIGIN"
done < <(find "$P" -type f)

for prog in hyhost kelvarin-prefs; do
  expect "$(run "$P/bin/$prog" --version)" "^$prog ${version//./\\.}\$" "$prog --version"
done

# A folder that merely shares the plug-in's name (a source checkout, say) is
# not taken for its bundle.
mkdir "$scratch/work/Kelvarin"
bundle_re="$P/lib(/[^/]+)?/hyhost/Plug-ins/Kelvarin\\.plugin"
expect "$(run "$P/bin/hyhost" info 2>&1)" "^Plug-in +$bundle_re\$" "hyhost info"

run "$P/bin/hyhost" demo -o demo >/dev/null 2>&1 || fail "hyhost demo"
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 \
         "$scratch/work/demo/demo-result.mp4")
[ "${frames:-0}" -gt 0 ] || fail "demo-result.mp4 holds no decodable frame"
[ -s "$scratch/work/demo/demo-contact-sheet.png" ] || fail "no contact sheet"

expect "$(run "$P/bin/kelvarin-prefs" show)" "^file +$home/config/qzvel-Prefs" "kelvarin-prefs show"

# Man pages render, and hyhost's names every command its --help lists.
for page in hyhost kelvarin-prefs rez; do
  text=$(run man -l "$P/share/man/man1/$page.1" 2>&1)
  expect "$text" "^NAME" "man $page"
done
commands=$(run "$P/bin/hyhost" --help | sed -n '/^Subcommands:/,$p' | awk 'NR > 1 && NF {print $1}')
[ -n "$commands" ] || fail "no commands in hyhost --help"
man_hyhost=$(run man -l "$P/share/man/man1/hyhost.1")
for c in $commands; do expect "$man_hyhost" "^ +$c( |$)" "hyhost.1 documents '$c'"; done

# Completion: a partly typed word, and what completing it gives.
while read -r prog line want; do
  got=$(bash -c 'source /usr/share/bash-completion/bash_completion
                 source "$1/share/bash-completion/completions/$2"
                 COMP_LINE=$3 COMP_POINT=${#3}
                 read -ra COMP_WORDS <<<"$3"
                 COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
                 $(complete -p "$2" | sed -E "s/.*-F ([^ ]+).*/\1/")
                 echo "${COMPREPLY[*]}"' _ "$P" "$prog" "${line//_/ }")
  [ "$got" = "$want" ] || fail "completing '${line//_/ }': '$got', expected '$want'"
done <<'ROWS'
hyhost          hyhost_ren                    render
hyhost          hyhost_render_in.mp4_--fade-o --fade-out
kelvarin-prefs  kelvarin-prefs_set_standard=p pal
rez             rez_--out                     --output
ROWS

# A moved installation still finds its own bundle.
mv "$scratch/dest/opt/kelvarin" "$scratch/moved"
P=$scratch/moved
bundle_re="$P/lib(/[^/]+)?/hyhost/Plug-ins/Kelvarin\\.plugin"
expect "$(run "$P/bin/hyhost" info)" "^Plug-in +$bundle_re\$" "hyhost info after the move"

# Each folder of the search path beats the ones after it.
installed=$(run "$P/bin/hyhost" info | sed -n 's/^Plug-in *//p')
while read -r folder setting; do
  mkdir -p "$scratch/$folder"
  cp -r "$installed" "$scratch/$folder/"
  env=()
  [ "$setting" = - ] || env=("${setting//@/$scratch}")
  expect "$(run "${env[@]}" "$P/bin/hyhost" info)" "^Plug-in +$scratch/$folder/Kelvarin\\.plugin\$" \
    "bundle in $folder"
done <<'ROWS'
system/hyhost/Plug-ins     -
home/data/hyhost/Plug-ins  -
copy                       HYHOST_PLUGIN_PATH=@/none:@/copy
ROWS
list=$(run HYHOST_PLUGIN_PATH="$scratch/copy" "$P/bin/hyhost" info --list)
expect "$list" "^Kelvarin +$scratch/copy/Kelvarin\\.plugin +\(HYHOST_PLUGIN_PATH\)\$" "info --list, first"
[ "$(grep -c 'hidden' <<<"$list")" = 3 ] || fail "info --list should hide three of four bundles:"$'\n'"$list"
echo "install_tree: ok"
