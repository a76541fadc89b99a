#!/usr/bin/env bash
# Picking with the real program: a BOX click and a DRAG cut the micrograph
# (stdout names the clips, red boxes appear on the view), and a right click in
# DB mode deletes a box again.
source "$(dirname "$0")/lib.sh"

mode_button() { press "$mouse" $((30 + 52 * $1)) 16 1; }  # MOVE 0, DRAG 1, BOX 2, DB 5
# Fraction of red pixels in the canvas rectangle W x H at (X, Y), with the
# pointer away from the view (its outline would be red too).
red_in() {  # red_in X Y W H
  xdotool mousemove 1270 1010
  sleep 0.4
  xwd -id "$img" -silent >"$work/v.xwd" || fail "no screenshot"
  convert "$work/v.xwd" -crop "$3x$4+$((10 + $1))+$((10 + $2))" +repage \
    -fx '(r>0.8 && g<0.3 && b<0.3) ? 1 : 0' -format '%[fx:mean]' info:
}

scenario() {
  # Box size 64 x 64 in the mouse panel.
  for x in 55 115; do
    press "$mouse" $x 43 1
    xdotool key ctrl+a ctrl+k type 64
    xdotool key Return
  done
  sleep 0.2

  # BOX: a click at canvas (200, 200), data (200, 179) on the 380-row canvas.
  mode_button 2
  press "$img" 210 210 1
  wait_log "Clip 168,147 - 231,210 64x64" || fail "no BOX clip"
  local r
  r=$(red_in 168 170 64 64)
  awk -v r="$r" 'BEGIN { exit !(r > 0.03) }' || fail "no red box after the BOX cut ($r)"

  # DRAG from canvas (50, 50) to (100, 90).
  mode_button 1
  eval "$(xdotool getwindowgeometry --shell "$img" | sed 's/^/W_/')"
  xdotool mousemove $((W_X + 60)) $((W_Y + 60)) mousedown 1
  sleep 0.1
  for s in 1 2 3 4 5; do xdotool mousemove $((W_X + 60 + 10 * s)) $((W_Y + 60 + 8 * s)); sleep 0.05; done
  xdotool mouseup 1
  wait_log "Clip 50,289 - 100,329 51x41" || fail "no DRAG clip"
  local t
  t=$(xdotool getwindowname "$img")
  [ "$t" = "Image clipped (50,329) - (100,289) 51x41" ] || fail "title after DRAG: $t"
  r=$(red_in 50 51 51 41)
  awk -v r="$r" 'BEGIN { exit !(r > 0.03) }' || fail "no red box after the DRAG cut ($r)"

  # DB: a right click inside the first box deletes it; the second stays.
  mode_button 5
  press "$img" 210 210 3
  r=$(red_in 168 170 64 64)
  awk -v r="$r" 'BEGIN { exit !(r < 0.005) }' || fail "the deleted box is still drawn ($r)"
  r=$(red_in 50 51 51 41)
  awk -v r="$r" 'BEGIN { exit !(r > 0.03) }' || fail "the DRAG box went too ($r)"
}

e2e_main "$@"
