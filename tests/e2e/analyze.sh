#!/usr/bin/env bash
# Tools > Analyze on the micrograph: a fresh preference file first shows the
# notice that external FFTs are gone, then the window "Live" opens and shows
# the radial profile with the model curve (yellow) over it.
source "$(dirname "$0")/lib.sh"

scenario() {
  menu_pick $MENU_TOOLS 12
  local msg
  msg=$(find_win '^Message$'); [ -n "$msg" ] || fail "no notice about external FFTs"
  sleep 0.3
  eval "$(xdotool getwindowgeometry --shell "$msg" | sed 's/^/M_/')"
  # The notice's only button, centred at its bottom.
  xdotool mousemove $((M_X + M_WIDTH / 2)) $((M_Y + M_HEIGHT - 18)) mousedown 1 sleep 0.1 mouseup 1
  local live
  live=$(find_win '^Live$'); [ -n "$live" ] || fail "no Live window"
  local frac=0
  for _ in $(seq 50); do
    xwd -id "$live" -silent >"$work/live.xwd" 2>/dev/null &&
      frac=$(convert "$work/live.xwd" -fuzz 25% -fill white -opaque yellow -fill black +opaque white \
        -colorspace Gray -format '%[fx:mean]' info: 2>/dev/null)
    awk -v f="$frac" 'BEGIN { exit !(f > 0.0005) }' && break
    sleep 0.2
  done
  awk -v f="$frac" 'BEGIN { exit !(f > 0.0005) }' || fail "no model curve in Live (yellow fraction $frac)"
  echo "yellow fraction $frac"
  grep -q "^Clip 768,768 - 1279,1279 512x512" "$log" || fail "no centre clip"
  quit_workbench
  grep -q "^extfft	      0\$" "$HOME/.tvenv" || fail "extfft not turned off"
}

e2e_main "$@"
