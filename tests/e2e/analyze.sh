#!/usr/bin/env bash
# Tools > Analyze on the micrograph: a fresh preference file first shows the
# notice that external FFTs are gone, then the window "Live" opens and shows
# the radial profile with the model curve (yellow) over it.
source "$(dirname "$0")/lib.sh"

scenario() {
  menu_pick $MENU_TOOLS 12
  dismiss_message "no notice about external FFTs"
  wait_live_model
  grep -q "^Clip 768,768 - 1279,1279 512x512" "$log" || fail "no centre clip"
  quit_workbench
  grep -q "^extfft	      0\$" "$HOME/.tvenv" || fail "extfft not turned off"
}

e2e_main "$@"
