#!/usr/bin/env bash
# A micrograph set with the real program: `tarvik --set FOLDER` lists it in the
# Micrographs window, a BOX click is in the picks file within a second, Page
# Down in another window moves on, and Quit records where the session ended.
source "$(dirname "$0")/lib.sh"

scenario() {
  quit_workbench
  mkdir -p "$work/mics"
  cp "$image" "$work/mics/a.mrc"
  cp "$image" "$work/mics/b.mrc"
  "$tarvik" --set "$work/mics" >"$log" 2>&1 &
  pid=$!
  ctl=$(find_win '^Control$'); [ -n "$ctl" ] || fail "no Control window"
  mouse=$(find_win '^Mouse$'); [ -n "$mouse" ] || fail "no Mouse window"
  img=$(find_win '^Image($|:)'); [ -n "$img" ] || fail "no Image window"
  [ -n "$(find_win '^Micrographs$')" ] || fail "no Micrographs window"
  wait_log "mics/b.mrc is a" || fail "b.mrc was not read ahead"

  # Box size 64, BOX mode, a click in the view: on disk within a second.
  for x in 55 115; do
    press "$mouse" $x 43 1
    xdotool key ctrl+a ctrl+k type 64
    xdotool key Return
  done
  press "$mouse" $((30 + 52 * 2)) 16 1
  press "$img" 210 210 1
  local picks="$work/mics/tarvik_set/a_manualpick.star" n=0
  for _ in $(seq 10); do
    n=$(grep -c -- '-999' "$picks" 2>/dev/null)
    [ "${n:-0}" -eq 1 ] && break
    sleep 0.1
  done
  [ "${n:-0}" -eq 1 ] || fail "the BOX click is not in $picks after a second"

  # Page Down with the pointer on the control panel: b.mrc is shown.
  eval "$(xdotool getwindowgeometry --shell "$ctl" | sed 's/^/W_/')"
  xdotool mousemove $((W_X + 450)) $((W_Y + 400))
  sleep 0.2
  xdotool key Next
  sleep 0.5
  quit_workbench
  grep -q '^_tarvikShown b.mrc$' "$work/mics/tarvik_set/set.star" || fail "set.star does not say b.mrc was shown"
}

e2e_main "$@"
