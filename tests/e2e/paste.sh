#!/usr/bin/env bash
# The paste crash: on a server without cut buffer 0 (or with one that is not of
# type STRING), a middle click on a text input (the X paste gesture) made the
# toolkit paste a null string. Middle clicks on the inputs of the Control and
# Mouse panels and of an input dialog must leave the program running, and it
# still quits normally.
source "$(dirname "$0")/lib.sh"

middle() {  # middle WIN X Y: a middle click at (X, Y) of a window
  eval "$(xdotool getwindowgeometry --shell "$1" | sed 's/^/W_/')"
  xdotool mousemove $((W_X + $2)) $((W_Y + $3)) click 1 sleep 0.1 click 2 sleep 0.2
  kill -0 "$pid" 2>/dev/null || fail "died after a middle click at ($2, $3) of window $1"
}

scenario() {
  xprop -root -remove CUT_BUFFER0 2>/dev/null
  middle "$ctl" 480 201   # "Pixel (A)"
  middle "$ctl" 80 526    # the group name
  middle "$mouse" 57 43   # "Size:"
  # A cut buffer of another type reads as none.
  xprop -root -format CUT_BUFFER0 8u -set CUT_BUFFER0 "12"
  middle "$ctl" 80 526
  xprop -root -remove CUT_BUFFER0
  # The histogram-file button asks for text in an input dialog.
  eval "$(xdotool getwindowgeometry --shell "$ctl")"
  xdotool mousemove $((X + 20)) $((Y + 50)) click 1
  local dlg
  dlg=$(find_win '^Input$'); [ -n "$dlg" ] || fail "no input dialog"
  eval "$(xdotool getwindowgeometry --shell "$dlg" | sed 's/^/D_/')"
  for y in 40 50 60; do middle "$dlg" $((D_WIDTH / 2)) $y; done
  xdotool key Return
  sleep 0.3
  grep -q AddressSanitizer "$log" && fail "sanitizer report"
  return 0
}

e2e_main "$@"
