#!/usr/bin/env bash
# The workbench starts on a file argument and shows it; File > Open MRC opens a
# file with a blank in its name through the real file selector; Quit saves the
# preferences and exits with status 0.
source "$(dirname "$0")/lib.sh"

scenario() {
  # The view shows the micrograph: its screenshot is far from one flat colour.
  local sd=0
  for _ in $(seq 50); do
    xwd -id "$img" -silent >"$work/view.xwd" 2>/dev/null &&
      sd=$(convert "$work/view.xwd" -colorspace Gray -format '%[fx:standard_deviation]' info: 2>/dev/null)
    awk -v s="$sd" 'BEGIN { exit !(s > 0.05) }' && break
    sleep 0.2
  done
  awk -v s="$sd" 'BEGIN { exit !(s > 0.05) }' || fail "view looks blank (grey deviation $sd)"
  echo "view grey deviation $sd"

  # File > Open MRC, then a double click on the file's line in the selector
  # (it lists the folder the program started in).
  cp "$here/../data/mrc/mode2_le.mrc" "$work/run/a b.mrc"
  menu_pick $MENU_FILE 1
  local fs
  fs=$(find_win '^File Selector$'); [ -n "$fs" ] || fail "no File Selector"
  sleep 0.3
  eval "$(xdotool getwindowgeometry --shell "$fs" | sed 's/^/FS_/')"
  xdotool mousemove $((FS_X + 60)) $((FS_Y + 35)) click --repeat 2 --delay 60 1
  wait_log "/run/a b.mrc is a" || fail "the selector did not open 'a b.mrc'"
  sleep 0.3

  quit_workbench
  grep -q "^UC	      1\$" "$HOME/.tvenv" || fail "no use counter in ~/.tvenv"
  grep -q "^privcmap	      0\$" "$HOME/.tvenv" || fail "no privcmap in ~/.tvenv"
  grep -q "TARVIK V1.47" "$log" || fail "no banner"
}

e2e_main "$@"
