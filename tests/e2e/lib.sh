# Shared by the end-to-end scenarios (tests/e2e/*.sh): each scenario script
# sources this file, defines a function `scenario` and calls `e2e_main "$@"`.
# e2e_main runs `scenario` once per depth (24 and 8 unless given), each time on
# a private Xvfb server, in a fresh folder with HOME inside it, with the real
# workbench started on the given image: $tarvik, $image, $work, $pid, $log,
# and the windows $ctl (Control), $mouse (Mouse) and $img (Image) are set. A
# scenario may define `before_start`, run in HOME before the workbench starts.
# Usage of a scenario: NAME.sh TARVIK IMAGE [DEPTH...]
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

fail() {
  echo "e2e FAIL ($(basename "$0")): $*"
  [ -n "${log:-}" ] && [ -f "$log" ] && tail -n 40 "$log"
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null
  exit 1
}
find_win() { timeout 20 xdotool search --sync --name "$1" 2>/dev/null | head -n1; }

# Choose entry N (1-based) of the menu whose label is at (MX, MY) of the Control
# window: press on the label, release on the entry (24 pixels apart).
menu_pick() {  # menu_pick MX N
  eval "$(xdotool getwindowgeometry --shell "$ctl")"
  xdotool mousemove $((X + $1)) $((Y + 15)) mousedown 1
  sleep 0.4
  xdotool mousemove $((X + $1 + 5)) $((Y + 17 + 24 * $2))
  sleep 0.2
  xdotool mouseup 1
  sleep 0.3
}
# Menu labels' x positions on the Control window.
MENU_FILE=25 MENU_BOX=77 MENU_TOOLS=130 MENU_USER=182 MENU_CTF=232 MENU_TEST=300 MENU_HELP=367

# Waits up to ~5 s for a pattern in the workbench's standard output.
wait_log() {  # wait_log PATTERN
  for _ in $(seq 50); do grep -q -- "$1" "$log" && return 0; sleep 0.1; done
  return 1
}

# Presses the only button of the "Message" box (centred at its bottom); fails when none shows.
dismiss_message() {
  local msg
  msg=$(find_win '^Message$'); [ -n "$msg" ] || fail "${1:-no message box}"
  sleep 0.3
  eval "$(xdotool getwindowgeometry --shell "$msg" | sed 's/^/M_/')"
  xdotool mousemove $((M_X + M_WIDTH / 2)) $((M_Y + M_HEIGHT - 18)) mousedown 1 sleep 0.1 mouseup 1
  for _ in $(seq 30); do xdotool search --name '^Message$' >/dev/null || break; sleep 0.1; done
}

# Presses and releases a pointer button at (X, Y) of a window.
press() {  # press WIN X Y BUTTON
  eval "$(xdotool getwindowgeometry --shell "$1" | sed 's/^/W_/')"
  xdotool mousemove $((W_X + $2)) $((W_Y + $3)) mousedown "$4"
  sleep 0.1
  xdotool mouseup "$4"
  sleep 0.2
}
click_in() { press "$1" "$2" "$3" 1; sleep 0.1; }  # click_in WIN X Y

# Waits up to ~10 s for the window "Live" to show the model curve (yellow); sets
# $live and prints the yellow fraction, or fails.
wait_live_model() {
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
}

# File > Quit, then the exit status must be 0.
quit_workbench() {
  menu_pick $MENU_FILE 16
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && fail "still running after Quit"
  wait "$pid"
  local status=$?
  [ "$status" -eq 0 ] || fail "exit status $status"
  pid=
}

e2e_main() {
  tarvik=$(readlink -f "$1")
  image=$(readlink -f "$2")
  shift 2
  local depths=("$@")
  [ ${#depths[@]} -eq 0 ] && depths=(24 8)
  if [ -z "${TARVIK_E2E_INNER:-}" ]; then
    for d in "${depths[@]}"; do
      echo "== $(basename "$0") depth $d"
      TARVIK_E2E_INNER=1 "$here/../../scripts/xvfb-run" "$d" "$0" "$tarvik" "$image" || exit 1
    done
    echo "e2e $(basename "$0"): all passed"
    exit 0
  fi
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  export HOME="$work/home"
  mkdir -p "$HOME" "$work/run"
  cd "$work/run"
  log="$work/log"
  xdotool mousemove 1270 1010  # keep the pointer off the view: entering it retitles the window
  if declare -F before_start >/dev/null; then before_start; fi  # e.g. a preference file
  "$tarvik" "$image" >"$log" 2>&1 &
  pid=$!
  ctl=$(find_win '^Control$'); [ -n "$ctl" ] || fail "no Control window"
  mouse=$(find_win '^Mouse$'); [ -n "$mouse" ] || fail "no Mouse window"
  img=$(find_win '^Image($|:)'); [ -n "$img" ] || fail "no Image window"
  scenario
  [ -n "${pid:-}" ] && quit_workbench
  echo "e2e $(basename "$0"): passed"
}
