#!/usr/bin/env bash
# Help mode changes nothing: with real pointer events, a drag on the Zoom slider
# in help mode leaves the slider as it was; after "Dismiss" the same drag moves it.
source "$(dirname "$0")/lib.sh"

zoom_shot() { xwd -id "$ctl" -silent | convert xwd:- -crop 300x20+45+240 +repage "$work/$1.png"; }
differs() { [ "$(compare -metric AE "$work/$1.png" "$work/$2.png" null: 2>&1)" != 0 ]; }
drag_zoom() {
  xdotool mousemove $((X + 300)) $((Y + 250)) mousedown 1
  sleep 0.3
  xdotool mousemove $((X + 320)) $((Y + 250))
  sleep 0.2
  xdotool mouseup 1
  sleep 0.3
}

scenario() {
  eval "$(xdotool getwindowgeometry --shell "$ctl")"
  zoom_shot before
  menu_pick $MENU_HELP 2
  local help
  help=$(find_win '^Help'); [ -n "$help" ] || fail "no Help window"
  drag_zoom
  zoom_shot helped
  differs before helped && fail "the Zoom slider moved in help mode"
  eval "$(xdotool getwindowgeometry --shell "$help" | sed 's/^/H_/')"
  xdotool mousemove $((H_X + 60)) $((H_Y + 235)) click 1  # "Dismiss"
  sleep 0.5
  drag_zoom
  zoom_shot moved
  differs before moved || fail "the Zoom slider does not move outside help mode"
}

e2e_main "$@"
