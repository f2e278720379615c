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
wine=/usr/lib/wine/wine64

say() { printf 'browser_under_wine(%s): %s\n' "$mode" "$*"; }
skip() { say "SKIPPED: $*"; exit 77; }

case "$mode" in
  full) options="+Z" shot_name=browser.png ;;
  min) options="+ZM" shot_name=browser-min.png ;;
  *) say "unknown mode '$mode' (full or min)"; exit 2 ;;
esac

cratex_exe=$win_build/src/programs/Cratex.exe
full_stub=$win_build/stubs/Cratex.dat
min_stub=$win_build/stubs/Cratexm.dat
[ -x "$wine" ] || skip "$wine is not installed"
for file in "$cratex_exe" "$full_stub" "$min_stub"; do
  [ -f "$file" ] || skip "$file is not built"
done
[ -n "${DISPLAY:-}" ] || skip "DISPLAY is not set (start Xvfb first)"
for tool in xdotool xwd convert; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done

export WINEPREFIX=$win_build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# The browser must be the window, not the answers-file dialogs.
unset CRX_ANSWERS CRX_RECORD

scratch=$(mktemp -d "${TMPDIR:-/tmp}/crx-browser.XXXXXX")
stub_pid=
settings=('HKLM\SOFTWARE\Velmora\Cratex\1.00|datafile' 'HKLM\SOFTWARE\Velmora\Cratex\1.00|mdatafile')
declare -A old_value had_value
registry_changed=0

# Ends what this test started and puts the registry values back, on every
# way out.
cleanup() {
  if [ -n "$stub_pid" ] && kill -0 "$stub_pid" 2>/dev/null; then
    kill "$stub_pid" 2>/dev/null
    wait "$stub_pid" 2>/dev/null
  fi
  if [ $registry_changed -eq 1 ]; then
    for setting in "${settings[@]}"; do
      local key=${setting%|*} value=${setting#*|}
      if [ "${had_value[$setting]}" = 1 ]; then
        "$wine" reg add "$key" /v "$value" /t REG_SZ /d "${old_value[$setting]}" /f >/dev/null 2>&1
      else
        "$wine" reg delete "$key" /v "$value" /f >/dev/null 2>&1
      fi
    done
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() { say "FAILED: $*"; exit 1; }

# The Windows path of a host path: wine's Z: drive is the host's root.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

mkdir -p "$WINEPREFIX"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  say "booting the wine prefix $WINEPREFIX"
  "$wine" wineboot -i >/dev/null 2>&1 || fail "wineboot failed"
fi

for setting in "${settings[@]}"; do
  key=${setting%|*}
  value=${setting#*|}
  had_value[$setting]=0
  old=$("$wine" reg query "$key" /v "$value" 2>/dev/null |
        sed -n "s/^ *$value *REG_SZ *//p" | tr -d '\r')
  if [ -n "$old" ]; then
    had_value[$setting]=1
    old_value[$setting]=$old
  fi
done
registry_changed=1
"$wine" reg add 'HKLM\SOFTWARE\Velmora\Cratex\1.00' /v datafile /t REG_SZ \
  /d "$(winpath "$full_stub")" /f >/dev/null 2>&1 || fail "could not set the stub in wine's registry"
"$wine" reg add 'HKLM\SOFTWARE\Velmora\Cratex\1.00' /v mdatafile /t REG_SZ \
  /d "$(winpath "$min_stub")" /f >/dev/null 2>&1 || fail "could not set the minimal stub"

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
stub_pid=$!
pattern='^Cratex Archive - plain\.exe \([0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}\)$'
window=
for _ in $(seq 1 600); do
  window=$(xdotool search --name "^Cratex Archive - plain\\.exe " 2>/dev/null | head -n 1)
  [ -n "$window" ] && break
  kill -0 "$stub_pid" 2>/dev/null || break
  sleep 0.1
done
shots=$win_build/wine-shots
mkdir -p "$shots"
shot=$shots/$shot_name
sleep 0.7  # let the dialog paint its list
xwd -root -silent | convert xwd:- "$shot" 2>/dev/null || say "could not take a screenshot"
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
xdotool windowactivate --sync "$window" >/dev/null 2>&1 || xdotool windowfocus "$window" 2>/dev/null
sleep 0.3
xdotool key --clearmodifiers Escape
status=
for _ in $(seq 1 100); do
  if ! kill -0 "$stub_pid" 2>/dev/null; then
    status=0
    wait "$stub_pid" || status=$?
    stub_pid=
    break
  fi
  sleep 0.1
done
if [ -z "$status" ]; then
  stuck=$shots/${shot_name%.png}-stuck.png
  xwd -root -silent | convert xwd:- "$stuck" 2>/dev/null
  fail "the stub did not end within 10 s after Escape (screen: $stuck)"
fi
[ "$status" -eq 0 ] || { cat "$scratch/stub.out"; fail "the stub ended with status $status, not 0"; }
for member in hello.txt docs data.bin; do
  [ ! -e "$scratch/$member" ] || fail "closing the browser extracted $member"
done
say "closed: the stub ended with status 0 and extracted nothing"
say "PASSED"
exit 0
