#!/usr/bin/env bash
# Tools > Analyze on a micrograph of known CTF (1.5 um underfocus, 2.5 A pixels,
# 100 kV, Cs 5.6 mm, amplitude contrast 0.07): after the notice that external
# FFTs are gone, the window "Live" shows the profile of the centre's transform.
# Memory 1 holds the true parameters; recalled and saved, the saved profile
# (tarvik.dat) dips and the plotted model (tarvik.fit) has its zeros where the
# CTF's first three zeros lie, worked out here from the CTF's formula.
source "$(dirname "$0")/lib.sh"

before_start() {
  printf 'livec1\t -1.5 10 1.5 0.07 1 1.5 0.8 0.035\n' >"$HOME/.tvenv"
}

# For each of the first three zeros s of the CTF: whether the curve in FILE
# (abscissa in 1/A, value) has its lowest value within W samples of s below
# its values D samples either side of s.
dips_at_zeros() {  # dips_at_zeros FILE W D
  awk -v w="$2" -v dd="$3" '
    { s[NR - 1] = $1; v[NR - 1] = $2; n = NR }
    END {
      pi = 3.14159265358979; V = 1e5; lambda = 12.2639 / sqrt(V + 9.7845e-7 * V * V); Cs = 5.6e7; D = -1.5e4
      A = 0.07; step = s[2] - s[1]; found = 0; prev = A
      for (x = step / 10; x < s[n - 1] && found < 3; x += step / 10) {
        g = -2 * pi * (Cs * lambda ^ 3 * x ^ 4 / 4 + D * lambda * x * x / 2)
        c = sqrt(1 - A * A) * sin(g) + A * cos(g)
        if (c * prev < 0) {
          found++; k = int(x / step + 0.5); lo = v[k]
          for (i = k - w; i <= k + w; i++) if (v[i] < lo) lo = v[i]
          if (!(lo < v[k - dd] && lo < v[k + dd])) { printf "no dip at zero %d (s = %.4f, sample %d)\n", found, x, k; bad = 1 }
        }
        prev = c
      }
      if (found < 3) { print "the curve ends before the third zero"; bad = 1 }
      exit bad
    }' "$1"
}

scenario() {
  menu_pick $MENU_TOOLS 12
  dismiss_message "the notice about external FFTs"
  wait_live_model
  grep -q "^Clip 256,256 - 767,767 512x512" "$log" || fail "no centre clip"
  sleep 0.3
  click_in "$live" 508 265  # memory "1"
  click_in "$live" 505 191  # "Save"
  dismiss_message "Save's report"
  for f in tarvik.dat tarvik.fit; do
    [ "$(wc -l <"$HOME/$f")" -eq 200 ] || fail "$f does not hold 200 points"
  done
  dips_at_zeros "$HOME/tarvik.dat" 2 5 || fail "the profile's dips are not at the CTF's zeros"
  dips_at_zeros "$HOME/tarvik.fit" 1 3 || fail "the plotted model's zeros are not at the CTF's zeros"
  quit_workbench
  grep -q "^extfft	      0\$" "$HOME/.tvenv" || fail "extfft not turned off"
}

e2e_main "$1" "$(dirname "$2")/ctf_sample.mrc" "${@:3}"
