#!/usr/bin/env bash
# The archive browser of the win64 stubs under wine64, on the X display:
# Cratex.exe makes a plain archive (no setup information) with the real
# win64 stub in front, and the archive runs interactively.
#
#   browser_under_wine.sh [WIN64_BUILD] [full|min]   (build/win64 full)
#
# full  the full stub (Cratex.dat): its list-view browser must come up with
#       the caption "Cratex Archive - plain.exe (MM/DD/YYYY HH:MM)" (a
#       screenshot is kept in WIN64_BUILD/wine-shots/browser.png); Escape
#       closes it (the Close button's identifier) and the stub must end
#       with status 0, having extracted nothing.
# min   the same with the minimal stub (Cratexm.dat, option M in the
#       script) and its list-box browser (wine-shots/browser-min.png).
#
# Needs DISPLAY (Xvfb), wine64, xdotool, xwd and ImageMagick's convert.
# WINEPREFIX is <WIN64_BUILD>/wineprefix. The test sets the stubs in wine's
# registry and puts them back after.
# Exit status: 0 passed, 1 failed, 77 skipped (something needed is missing).
set -uo pipefail

win_build=$(realpath -m "${1:-build/win64}")
mode=${2:-full}

say() { printf 'browser_under_wine(%s): %s\n' "$mode" "$*"; }
# shellcheck source=wine_test_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_test_lib.sh"

case "$mode" in
  full) options="+Z" shot_name=browser.png ;;
  min) options="+ZM" shot_name=browser-min.png ;;
  *) say "unknown mode '$mode' (full or min)"; exit 2 ;;
esac

cratex_exe=$win_build/src/programs/Cratex.exe
full_stub=$win_build/stubs/Cratex.dat
min_stub=$win_build/stubs/Cratexm.dat
need_wine
need_built "$cratex_exe" "$full_stub" "$min_stub"
need_display_and_tools xdotool xwd convert

use_wine_of_build "$win_build"
# The browser must be the window, not the answers-file dialogs.
unset CRX_ANSWERS CRX_RECORD
start_wine_test crx-browser
boot_wine_prefix

stub_key='HKLM\SOFTWARE\Velmora\Cratex\1.00'
save_registry_values "$stub_key|datafile" "$stub_key|mdatafile"
set_registry_value "$stub_key" datafile "$(winpath "$full_stub")" ||
  fail "could not set the stub in wine's registry"
set_registry_value "$stub_key" mdatafile "$(winpath "$min_stub")" || fail "could not set the minimal stub"

# A plain archive of three members, one in a sub-folder.
product=$scratch/product
mkdir -p "$product/docs"
printf 'Hello from the browser test.\r\n' >"$product/hello.txt"
for i in $(seq 1 200); do echo "line $i of the manual"; done >"$product/docs/manual.txt"
head -c 5000 /dev/urandom >"$product/data.bin"
cat >"$scratch/plain.crs" <<EOF
$options
>plain.exe
@$(winpath "$product")
hello.txt
docs\\manual.txt
data.bin
EOF
day_before=$(date -u +%m/%d/%Y)
(cd "$scratch" && timeout 120 "$wine" "$cratex_exe" plain.crs) >"$scratch/cratex.out" 2>&1 ||
  { cat "$scratch/cratex.out"; fail "Cratex.exe could not build plain.exe from its script"; }
day_after=$(date -u +%m/%d/%Y)
stub=$full_stub
[ "$mode" = min ] && stub=$min_stub
stub_size=$(stat -c %s "$stub")
[ "$(stat -c %s "$scratch/plain.exe")" -gt "$stub_size" ] || fail "plain.exe holds no archive"
cmp -s -n "$stub_size" "$scratch/plain.exe" "$stub" || fail "plain.exe does not start with the $mode stub"
say "Cratex.exe built plain.exe"

# The stub runs from the scratch folder: anything extracted "to the
# locations on the archive" would land there.
(cd "$scratch" && exec "$wine" "$scratch/plain.exe") >"$scratch/stub.out" 2>&1 &
background_pid=$!
pattern='^Cratex Archive - plain\.exe \([0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}\)$'
wait_for_window "^Cratex Archive - plain\\.exe "
shot=$shots/$shot_name
sleep 0.7  # let the dialog paint its list
screenshot "$shot" || say "could not take a screenshot"
[ -n "$window" ] || { cat "$scratch/stub.out"; fail "no browser window appeared within 60 s (screen: $shot)"; }
name=$(xdotool getwindowname "$window" 2>/dev/null)
[[ "$name" =~ $pattern ]] || fail "window $window is titled '$name'"
# The archive was made just now (UTC); wine's default locale writes the
# month first.
date_part=${name#*(}
date_part=${date_part%% *}
[ "$date_part" = "$day_before" ] || [ "$date_part" = "$day_after" ] ||
  fail "the caption's date $date_part is not today's ($day_after, UTC, month first)"
say "found the browser '$name' (screenshot: $shot)"

# Escape: the Close button's identifier; the browser closes and the stub
# ends. A dialog that stays shows as a stub that does not end.
activate_window "$window"
xdotool key --clearmodifiers Escape
if ! wait_background 10; then
  stuck=$shots/${shot_name%.png}-stuck.png
  screenshot "$stuck"
  fail "the stub did not end within 10 s after Escape (screen: $stuck)"
fi
status=$background_status
[ "$status" -eq 0 ] || { cat "$scratch/stub.out"; fail "the stub ended with status $status, not 0"; }
for member in hello.txt docs data.bin; do
  [ ! -e "$scratch/$member" ] || fail "closing the browser extracted $member"
done
say "closed: the stub ended with status 0 and extracted nothing"
say "PASSED"
exit 0
