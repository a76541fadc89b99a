#!/usr/bin/env bash
# End-to-end: the real workbench under Xvfb with a file argument. Finds its
# three windows, checks a screenshot shows the image, quits through the File
# menu, and checks the exit status and the saved preferences.
# Usage: run.sh TARVIK IMAGE [DEPTH...]   (depths default to 24 and 8)
set -u
tarvik=$(readlink -f "$1")
image=$(readlink -f "$2")
shift 2
here=$(cd "$(dirname "$0")" && pwd)
depths=("$@")
[ ${#depths[@]} -eq 0 ] && depths=(24 8)

if [ -z "${TARVIK_E2E_INNER:-}" ]; then
  for d in "${depths[@]}"; do
    echo "== depth $d"
    TARVIK_E2E_INNER=1 "$here/../../scripts/xvfb-run" "$d" "$0" "$tarvik" "$image" || exit 1
  done
  echo "e2e: all passed"
  exit 0
fi

fail() { echo "e2e FAIL: $*"; [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home"
mkdir -p "$HOME"
cd "$work"

# The file selector lists the start folder: one image whose name has a blank.
mkdir -p "$work/pick"
cp "$here/../data/mrc/mode2_le.mrc" "$work/pick/a b.mrc"
cd "$work/pick"
xdotool mousemove 1270 1010  # keep the pointer off the view: entering it retitles the window
"$tarvik" "$image" >"$work/log" 2>&1 &
pid=$!
find_win() { timeout 20 xdotool search --sync --name "$1" 2>/dev/null | head -n1; }
ctl=$(find_win '^Control$'); [ -n "$ctl" ] || fail "no Control window"
mouse=$(find_win '^Mouse$'); [ -n "$mouse" ] || fail "no Mouse window"
img=$(find_win '^Image($|:)'); [ -n "$img" ] || fail "no Image window"

# The view shows the micrograph: its screenshot is far from one flat colour.
sd=0
for _ in $(seq 50); do
  xwd -id "$img" -silent >"$work/view.xwd" 2>/dev/null &&
    sd=$(convert "$work/view.xwd" -colorspace Gray -format '%[fx:standard_deviation]' info: 2>/dev/null)
  awk -v s="$sd" 'BEGIN { exit !(s > 0.05) }' && break
  sleep 0.2
done
awk -v s="$sd" 'BEGIN { exit !(s > 0.05) }' || fail "view looks blank (grey deviation $sd)"
xwd -root -silent | convert xwd:- "$work/screen.png" || fail "no screenshot"
echo "view grey deviation $sd"

eval "$(xdotool getwindowgeometry --shell "$ctl")"
# File > Open MRC, then a double click on the file's line in the selector.
xdotool mousemove $((X + 25)) $((Y + 15)) mousedown 1
sleep 0.4
xdotool mousemove $((X + 30)) $((Y + 41))
sleep 0.2
xdotool mouseup 1
fs=$(find_win '^File Selector$'); [ -n "$fs" ] || fail "no File Selector"
sleep 0.3
eval "$(xdotool getwindowgeometry --shell "$fs" | sed 's/^/FS_/')"
xdotool mousemove $((FS_X + 60)) $((FS_Y + 35)) click --repeat 2 --delay 60 1
for _ in $(seq 50); do grep -q "a b.mrc is a" "$work/log" && break; sleep 0.1; done
grep -q "/pick/a b.mrc is a" "$work/log" || { cat "$work/log"; fail "the selector did not open 'a b.mrc'"; }
sleep 0.3

# File > Quit: press on "File", release on its last entry.
xdotool mousemove $((X + 25)) $((Y + 15)) mousedown 1
sleep 0.4
xdotool mousemove $((X + 30)) $((Y + 401))
sleep 0.2
xdotool mouseup 1
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "still running after Quit"
wait "$pid"
status=$?
[ "$status" -eq 0 ] || { cat "$work/log"; fail "exit status $status"; }
grep -q "^UC	      1\$" "$HOME/.tvenv" || fail "no use counter in ~/.tvenv"
grep -q "^privcmap	      0\$" "$HOME/.tvenv" || fail "no privcmap in ~/.tvenv"
grep -q "TARVIK V1.47" "$work/log" || fail "no banner"
echo "e2e: passed"
