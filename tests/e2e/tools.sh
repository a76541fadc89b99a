#!/usr/bin/env bash
# Test Image > "Sin(x+y)" adds a 512 x 512 image of diagonal stripes; Tools >
# FFT on it first shows the notice that external FFTs are gone (a fresh HOME),
# then transforms it: the transform's view is dark but for its two peaks.
source "$(dirname "$0")/lib.sh"

# Selects image line N of the Control window (lines are 17 pixels apart).
pick_line() {
  eval "$(xdotool getwindowgeometry --shell "$ctl")"
  xdotool mousemove $((X + 250)) $((Y + 320 + 17 * ($1 - 1))) mousedown 1 sleep 0.1 mouseup 1
  sleep 0.5
}
# Mean grey (0..1) of the middle 200 x 200 of the view.
view_mean() {
  xwd -id "$img" -silent >"$work/v.xwd" &&
    convert "$work/v.xwd" -gravity center -crop 200x200+0+0 -colorspace Gray -format '%[fx:mean]' info:
}

scenario() {
  menu_pick $MENU_TEST 4
  pick_line 2
  local m
  m=$(view_mean)
  echo "test image mean grey $m"
  awk -v m="$m" 'BEGIN { exit !(m > 0.02) }' || fail "no stripes in the view (mean grey $m)"

  menu_pick $MENU_TOOLS 14
  local msg
  msg=$(find_win '^Message$'); [ -n "$msg" ] || fail "no notice on the first FFT"
  eval "$(xdotool getwindowgeometry --shell "$msg")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT - 22)) mousedown 1 sleep 0.1 mouseup 1  # "Ok"
  for _ in $(seq 30); do xdotool search --name '^Message$' >/dev/null || break; sleep 0.1; done
  xdotool search --name '^Message$' >/dev/null && fail "the notice did not close"

  menu_pick $MENU_TOOLS 14
  pick_line 3
  m=$(view_mean)
  echo "transform mean grey $m"
  awk -v m="$m" 'BEGIN { exit !(m < 0.005) }' || fail "the view does not show a transform (mean grey $m)"
}

e2e_main "$@"
