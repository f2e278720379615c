#!/usr/bin/env bash
# The interpreter's dialogs under wine64: the win64 Kestrova.exe runs one
# installation script that asks for a text, a choice, the installation
# folder (and opens the folder browser), the file groups, shows a read-me
# and an RTF licence, asks a question and copies the chosen files under a
# progress display, in a window painted with a background colour and two
# banner lines.
#
#   interaction_under_wine.sh [WIN64_BUILD] [LINUX_BUILD]   (build/win64 build/linux)
#
# answered  the script answered from a file (CRX_ANSWERS) must end with
#           status 0 and leave the same folders, files and variables (the
#           script writes them into choices.txt) as the Linux Kestrova of
#           LINUX_BUILD on an emulated machine with the same answers; when
#           that build is missing, the same as the listing written below.
#           A run recorded with CRX_RECORD, played back as the answers
#           file, must end the same.
# keys      the same script shown for real on the X display and answered
#           with the keyboard only (Enter, Escape, Tab, space, arrows):
#           each dialog must come up with its caption, and a screenshot of
#           each is kept in WIN64_BUILD/wine-shots (interaction-*.png). The
#           licence must refuse OK until its box is ticked, the progress
#           display must draw the animation the script chose ("@files"),
#           and the end must be the same as the answered run's.
# browse    a script with browse: wine has no HTML engine for the browser
#           control, so no (empty) browser window may come up but the
#           question that names the document; No lets the run go on.
#           The keyboard run too must end when its window is closed.
#
# Needs wine64, DISPLAY (Xvfb), xdotool, xwd and ImageMagick's convert.
# WINEPREFIX is <WIN64_BUILD>/wineprefix; what the runs install into it
# (C:\Apps) is removed again.
# Exit status: 0 passed, 1 failed, 77 skipped (something needed is missing).
set -uo pipefail

win_build=$(realpath -m "${1:-build/win64}")
linux_build=$(realpath -m "${2:-build/linux}")

say() { printf 'interaction_under_wine: %s\n' "$*"; }
# shellcheck source=wine_test_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_test_lib.sh"

kestrova_exe=$win_build/src/programs/Kestrova.exe
linux_kestrova=$linux_build/src/programs/Kestrova
need_wine
need_built "$kestrova_exe"
need_display_and_tools xdotool xwd convert

use_wine_of_build "$win_build"
unset CRX_ANSWERS CRX_RECORD
start_wine_test crx-interaction
boot_wine_prefix

apps_host=$("$wine" winepath -u 'C:\Apps' 2>/dev/null | tr -d '\r')
apps_host=${apps_host%/}
[ -n "$apps_host" ] || fail "wine cannot name C:\\Apps"
[ ! -e "$apps_host" ] || fail "$apps_host is in the way (left by an earlier run?)"
wine_temp=$("$wine" cmd /c echo '%TEMP%' 2>/dev/null | tr -d '\r')
host_temp=$("$wine" winepath -u "$wine_temp" 2>/dev/null | tr -d '\r')
host_temp=${host_temp%/}

# shellcheck disable=SC2317  # called on the way out
extra_cleanup() { rm -rf "$apps_host"; }

# shellcheck disable=SC2317  # called by fail
on_failure() {
  if [ -n "$host_temp" ] && [ -f "$host_temp/Kestrova.log" ]; then
    say "the end of Kestrova.log:"
    tail -40 "$host_temp/Kestrova.log"
  fi
}

# ---------------------------------------------------------------------------
# The product and its script.

product=$scratch/product
mkdir -p "$product"
cp "$kestrova_exe" "$product/Kestrova.exe"
printf 'the program' >"$product/program.exe"
printf 'Read me first.\r\nThe samples are optional.\r\n' >"$product/readme.txt"
printf 'first sample' >"$product/sample1.dat"
printf 'second sample' >"$product/sample2.dat"
printf '%s\r\n' '{\rtf1\ansi{\fonttbl{\f0 Arial;}}{\colortbl;\red0\green0\blue160;}' \
  '\f0\fs28\cf1{\b Licence Agreement}\par' \
  '\fs20\cf0 You may use this program on {\i any} number of computers.\par}' \
  >"$product/licence.rtf"
# The window's look first: a background colour and two banner lines in
# different alignments and colours. "@files" is the second built-in
# animation of the progress display.
cat >"$product/install.txt" <<'EOF'
set NO_UNINSTALL TRUE
title "Road Demo"
background 0:64:128
banner -c "Road Demo" Arial 240 255:255:255
banner -r "version 2.5" "Times New Roman" 160 255:255:0
filegroup -m G0 "Program files"
filegroup G1 "Sample documents"
input USER "Your Name" "Who is installing?" Nobody
select KIND "Installation Kind" "Choose the kind of installation" 0 Typical,Compact,Custom
choosedir HOME "Where should Road Demo go?" "C:\Program Files\Road Demo"
choosefiles
display readme.txt "Read Me"
display -l licence.rtf "Licence Agreement"
query -y ICONS "Do you want the icons?"
progress -a @files
progress -i
copy program.exe "$HOME\program.exe" G0
copy readme.txt "$HOME\Docs\readme.txt" G0
copy sample1.dat "$HOME\Samples\sample1.dat" G1
copy sample2.dat "$HOME\sample2.dat" G1
progress -c
fwrite -t "$HOME\choices.txt" "$USER|$KIND|$ICONS|$HOME"
EOF

# One line per dialog, as the keyboard run below answers them: the folder
# browser opened and cancelled, then a folder typed that must be created;
# the optional group cleared; the read-me closed, the licence ticked.
printf '%s\r\n' '# the road demo, answered in advance' \
  'Input OK "Text=  Jo Smith  "' \
  'Select OK Choice=Compact' \
  'ChooseDirectory Browse' \
  'SelectDirectory Cancel' \
  'ChooseDirectory OK "Folder=C:\Apps\Velmora\Road Demo"' \
  'MessageBox Yes' \
  'ChooseFiles OK G1=0' \
  'DisplayFile Close' \
  'DisplayFile OK Read=1' \
  'MessageBox Yes' \
  'MessageBox OK' >"$scratch/answers.txt"

# Every folder and file under the folder $1, with the files' contents, in
# byte order of the paths.
listing() {
  (cd "$1" && find . -mindepth 1 | LC_ALL=C sort | while read -r path; do
    if [ -d "$path" ]; then
      printf 'folder %s\n' "${path#./}"
    else
      printf 'file %s = %s\n' "${path#./}" "$(tr -d '\r' <"$path")"
    fi
  done)
}

# Runs the win64 interpreter on the script, unattended, with the answers
# file $1 and, when given, the record file $2; its listing of C:\Apps in
# $scratch/$3.
run_answered() {
  rm -rf "$apps_host"
  local status=0
  (cd "$product" && CRX_ANSWERS=$(winpath "$1") CRX_RECORD=${2:+$(winpath "$2")} \
     timeout 120 "$wine" "$product/Kestrova.exe") >"$scratch/$3.out" 2>&1 || status=$?
  [ "$status" -eq 0 ] || { cat "$scratch/$3.out"; fail "the $3 run ended with status $status"; }
  [ -d "$apps_host" ] || fail "the $3 run made no C:\\Apps"
  listing "$apps_host" >"$scratch/$3"
}

# ---------------------------------------------------------------------------
# answered

# What the Linux interpreter makes of the same script and answers on an
# emulated machine of its own.
expected=$scratch/expected
if [ -x "$linux_kestrova" ]; then
  machine=$scratch/machine
  mkdir -p "$machine"
  cp "$linux_kestrova" "$product/Kestrova"
  status=0
  (cd "$product" && CRX_MACHINE=$machine CRX_ANSWERS=$(winpath "$scratch/answers.txt") \
     timeout 120 "$product/Kestrova") >"$scratch/linux.out" 2>&1 </dev/null || status=$?
  rm -f "$product/Kestrova"
  [ "$status" -eq 0 ] || { cat "$scratch/linux.out"; fail "the Linux run ended with status $status"; }
  [ -d "$machine/drive_c/Apps" ] || fail "the Linux run made no C:\\Apps"
  listing "$machine/drive_c/Apps" >"$expected"
  say "the Linux interpreter ran the script with the answers"
else
  say "no Linux build at $linux_build: comparing with the written listing"
fi
# Either way, what the answers must give: the text without its blanks, the
# choice as listed, the typed folder with every level made, the
# mandatory group's files only.
cat >"$scratch/written" <<'EOF'
folder Velmora
folder Velmora/Road Demo
folder Velmora/Road Demo/Docs
file Velmora/Road Demo/Docs/readme.txt = Read me first.
The samples are optional.
file Velmora/Road Demo/choices.txt = Jo Smith|Compact|YES|C:\Apps\Velmora\Road Demo
file Velmora/Road Demo/program.exe = the program
EOF
[ -f "$expected" ] || cp "$scratch/written" "$expected"
cmp -s "$scratch/written" "$expected" ||
  { diff "$scratch/written" "$expected"; fail "the Linux run did not end as the answers say"; }

run_answered "$scratch/answers.txt" "" answered
cmp -s "$expected" "$scratch/answered" ||
  { diff "$expected" "$scratch/answered"; fail "the answered run under wine ended differently from Linux"; }
say "answered under wine: the same folders, files and variables as on Linux"

run_answered "$scratch/answers.txt" "$scratch/record.txt" recorded
cmp -s "$expected" "$scratch/recorded" ||
  { diff "$expected" "$scratch/recorded"; fail "the recorded run ended differently"; }
[ "$(grep -cv '^#' "$scratch/record.txt")" -eq 11 ] ||
  { cat "$scratch/record.txt"; fail "the record does not hold one line for each of the 11 dialogs"; }
run_answered "$scratch/record.txt" "" replayed
cmp -s "$expected" "$scratch/replayed" ||
  { diff "$expected" "$scratch/replayed"; cat "$scratch/record.txt"; fail "the played-back record ended differently"; }
say "recorded and played back under wine: the same end"

# ---------------------------------------------------------------------------
# keys

rm -rf "$apps_host"
rm -f "$host_temp/Kestrova.log"
(cd "$product" && exec "$wine" "$product/Kestrova.exe") >"$scratch/keys.out" 2>&1 &
background_pid=$!

# Windows already handled: a dialog of the same caption that comes up
# again, or a box that bears the caption of the dialog below it, must be
# a new window.
declare -A seen=()

# Waits for a window named $1 (an xdotool pattern) that was not seen
# before, fails when none comes; then gives it the keyboard and lets it
# paint. Its id in window.
next_window() {
  local id
  window=
  for _ in $(seq 1 600); do
    for id in $(xdotool search --onlyvisible --name "$1" 2>/dev/null); do
      [ -z "${seen[$id]:-}" ] && { window=$id; break; }
    done
    [ -n "$window" ] && break
    kill -0 "$background_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$window" ] || { screenshot "$shots/interaction-stuck.png";
    fail "no window '$1' came up within 60 s (screen: $shots/interaction-stuck.png)"; }
  seen[$window]=1
  sleep 0.7
  xdotool windowfocus --sync "$window" >/dev/null 2>&1
  sleep 0.3
}

# The window's own picture as interaction-$1.png (a picture of the root
# window shows some of wine's windows black).
shoot() {
  mkdir -p "$shots"
  xwd -id "$window" -silent 2>/dev/null | convert xwd:- "$shots/interaction-$1.png" 2>/dev/null ||
    say "could not take the picture of $1"
}

keys() {
  local key
  for key in "$@"; do
    xdotool key --clearmodifiers "$key"
    sleep 0.25
  done
}

# Types $1 over what the focused box holds.
type_over() {
  keys End shift+Home BackSpace
  xdotool type --delay 20 "$1"
  sleep 0.3
}

next_window '^Road Demo - Kestrova$'
main=$window
say "the main window is up"

next_window '^Your Name$'
shoot input
type_over '  Jo Smith  '
keys Return
say "input: typed, Enter"

next_window '^Installation Kind$'
shoot select
keys Down Return
say "select: Down, Enter"

next_window '^Default Installation Directory$'
shoot choosedir
# The folder box, OK, Cancel, "...": Tab three times reaches "...".
keys Tab Tab Tab space
next_window '^Select Directory$'
sleep 0.5
shoot folder-browser
# The tree has the keyboard; Tab reaches the path's box, where Enter moves
# the tree to the typed folder ("Goto").
keys Tab
type_over 'C:\windows'
keys Return
sleep 0.7
shoot folder-browser-goto
keys Escape
say "choosedir: the folder browser came up on Tab-Tab-Tab-space, went to a typed folder on Enter and away on Escape"

next_window '^Default Installation Directory$'
type_over 'C:\Apps\Velmora\Road Demo'
keys Return
next_window '^Kestrova$'
shoot create-folder
keys Return
say "choosedir: a new folder typed, Enter, Yes to its creation"

next_window '^Advanced Installation Option$'
shoot choosefiles-before
# The first box a person may change (the optional group) has the keyboard.
keys space
sleep 0.3
shoot choosefiles
keys Return
say "choosefiles: space cleared the optional group, Enter"

next_window '^Read Me$'
shoot display-text
keys Escape
say "display: Escape closed the read-me"

next_window '^Licence Agreement$'
licence=$window
shoot display-licence
keys Return
next_window '^Licence Agreement$'
shoot licence-refused
keys Return
window=$licence
xdotool windowfocus --sync "$window" >/dev/null 2>&1
sleep 0.3
# OK has the keyboard; the tick box is one Tab back.
keys shift+Tab space
sleep 0.7  # the refusal's box was over it: let it paint again
shoot display-licence-ticked
keys Return
say "display -l: OK refused until the box was ticked with the keyboard"

next_window '^Kestrova$'
shoot query
keys Return
say "query: Enter (Yes)"

next_window '^copying files$'
sleep 0.5
shoot progress
# The script chose "@files": its yellow folders are drawn, not the
# default animation.
grep -qi '#FFFF80' <<<"$(convert "$shots/interaction-progress.png" -format %c histogram:info:- 2>/dev/null)" ||
  fail "the progress display does not draw the chosen animation (@files)"
say "the progress display came up with the chosen animation"

next_window '^Kestrova$'
shoot report
keys Return

sleep 1
window=$main
shoot window
colours=$(convert "$shots/interaction-window.png" -format %c histogram:info:- 2>/dev/null)
grep -qi '#004080' <<<"$colours" || fail "the window is not painted in the background colour"
grep -qi '#FFFF00' <<<"$colours" || fail "the yellow banner line is not drawn"
grep -qi '#FFFFFF' <<<"$colours" || fail "the white banner line is not drawn"
say "the window shows the background colour and the two banner lines"

[ -d "$apps_host" ] || fail "the keyboard run made no C:\\Apps"
listing "$apps_host" >"$scratch/keys"
cmp -s "$expected" "$scratch/keys" ||
  { diff "$expected" "$scratch/keys"; fail "the keyboard run ended differently from the answered one"; }
say "answered with the keyboard: the same end as the answered runs"

xdotool windowfocus --sync "$main" >/dev/null 2>&1
keys alt+F4
# The process must end with its window. A close that reaches the window
# while the run is still winding up (a busy machine) must end it too.
if ! wait_background 60; then
  screenshot "$shots/interaction-stuck.png"
  fail "Kestrova did not end within 60 s after its window was closed (screen: $shots/interaction-stuck.png)"
fi
[ "$background_status" -eq 0 ] || fail "Kestrova ended with status $background_status, not 0"

# browse: wine's browser control has no HTML engine to show a page with
# (the engine is a separate download that Debian does not ship, and the
# tests switch it off): no empty browser window may come up, but a
# question that names the document and offers its associated program.
printf '<html><body><h1>Road Demo</h1></body></html>\r\n' >"$product/readme.html"
printf '%s\r\n' 'set NO_UNINSTALL TRUE' 'browse readme.html' \
  'fwrite -t "C:\Apps\browsed.txt" browsed' >"$product/browse.txt"
rm -f "$host_temp/Kestrova.log"
(cd "$product" && exec "$wine" "$product/Kestrova.exe" browse.txt) >"$scratch/browse.out" 2>&1 &
background_pid=$!
seen=()
next_window '^Kestrova$'
shoot browse-fallback
xdotool search --name '^Kestrova Browser$' >/dev/null 2>&1 && fail "an empty browser window came up"
# The question's No (its key is n): nothing is opened, the run goes on.
keys n
next_window '^Kestrova$'
keys Return
sleep 1
[ "$(tr -d '\r' <"$apps_host/browsed.txt" 2>/dev/null)" = browsed ] ||
  fail "the script did not go on after browse"
next_window '^Kestrova - Kestrova$|^Untitled - Kestrova$'
keys alt+F4
wait_background 15 || fail "Kestrova did not end after browse's run"
grep -qF '# browse: no browser window on this system for <readme.html>' "$host_temp/Kestrova.log" ||
  fail "the log does not say that no browser window could be made"
say "browse: no empty window; the document is named and its program offered"
say "screenshots: $shots/interaction-*.png"
say "PASSED"
exit 0
