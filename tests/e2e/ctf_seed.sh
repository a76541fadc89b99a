#!/usr/bin/env bash
# Tools > Analyze on a micrograph of known CTF (make-sample --ctf) opens the
# window "Live" with the model over the profile; "fit" says nothing (no
# message box); "2-D" opens a second view with the diagnostic; tarvik-proc
# flip-phases writes the flipped micrograph.
source "$(dirname "$0")/lib.sh"

scenario() {
  local bin ctf
  bin=$(dirname "$tarvik")
  ctf="$work/run/ctf.mrc"
  "$bin/make-sample" --ctf "$ctf" || fail "make-sample --ctf"
  # The workbench again, on that micrograph.
  quit_workbench
  "$tarvik" "$ctf" >"$log" 2>&1 &
  pid=$!
  ctl=$(find_win '^Control$'); [ -n "$ctl" ] || fail "no Control window"
  menu_pick $MENU_TOOLS 12
  dismiss_message "no notice about external FFTs"
  wait_live_model
  # "fit" (beside the defocus arrows): no message box.
  click_in "$live" 544 93; sleep 0.2
  sleep 1
  xdotool search --name '^Message$' >/dev/null && fail "fit showed a message"
  # "2-D": a second view.
  local views
  click_in "$live" 596 201; sleep 0.2
  for _ in $(seq 50); do
    views=$(xdotool search --name '^Image' 2>/dev/null | wc -l)
    [ "$views" -ge 2 ] && break
    sleep 0.2
  done
  [ "$views" -ge 2 ] || fail "2-D opened no view ($views)"
  echo "views $views"
  "$bin/tarvik-proc" flip-phases "$ctf" "$work/flipped.mrc" --kv 100 --cs 5.6 || fail "flip-phases failed"
  [ -s "$work/flipped.mrc" ] || fail "flip-phases wrote nothing"
}

e2e_main "$@"
