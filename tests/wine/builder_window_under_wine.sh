#!/usr/bin/env bash
# The win64 builder's main window under wine64, driven like a person
# would with the keyboard (xdotool), and its archive read back on Linux.
#
#   builder_window_under_wine.sh [WIN64_BUILD] [LINUX_BUILD]   (build/win64 build/linux)
#
# Cratex.exe starts without a script and shows "Untitled - Cratex". The
# test opens each menu (a screenshot of each) and reads the menus' states
# from inside the program (frame_probe): the coupled options must follow
# their rules - "Generate Installation/Setup Archive" ticks and clears
# "Flatten folder hierarchy" with it; "Encrypt / Password Protect" clears
# "Password Protect - no encryption" and leaves "Compress Files" ticked and
# greyed. New Archive (Ctrl+N) then shows the lock dialog: a short password
# is refused with its message, Cancel gives the cancellation notice, and the
# "Create Archive" save dialog names the archive. Files and a folder are
# dropped onto the window (a real WM_DROPFILES made inside the program), the
# list must show the members; a file and a folder put on the clipboard as
# Explorer's Copy does are pasted with Ctrl+V (the folder with its
# sub-folder); Ctrl+S saves and verifies (the list turns
# grey), Preferences refuses an exclusion list without colons with its
# message, and File/Exit ends the program with status 0. The Linux crx must
# find no password and no encryption in the archive and extract every file
# byte for byte.
#
# Screenshots in WIN64_BUILD/wine-shots/builder-*.png: the window empty and
# with its members, each menu, the lock dialog and its message, and
# Preferences with its validation message. Without a window manager wine
# never paints a message box raised from a dialog on the X display (a black
# square), so the probe reads the box's texts - the test checks them - and
# copies the box's own picture, which is laid over the screenshot.
#
# Needs DISPLAY (Xvfb), wine64, xdotool, xwd, xwininfo and ImageMagick's
# convert. WINEPREFIX is <WIN64_BUILD>/wineprefix. The test sets the stub
# and the builder's settings in wine's registry and puts them back after.
# Exit status: 0 passed, 1 failed, 77 skipped (something needed is missing).
set -uo pipefail

win_build=$(realpath -m "${1:-build/win64}")
linux_build=$(realpath -m "${2:-build/linux}")

say() { printf 'builder_window_under_wine: %s\n' "$*"; }
# shellcheck source=wine_test_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_test_lib.sh"

cratex_exe=$win_build/src/programs/Cratex.exe
full_stub=$win_build/stubs/Cratex.dat
min_stub=$win_build/stubs/Cratexm.dat
probe=$win_build/tests/wine/frame_probe.exe
crx=$linux_build/src/programs/crx
need_wine
need_built "$cratex_exe" "$full_stub" "$min_stub" "$probe" \
  "$win_build/tests/wine/frame_probe_hook.dll"
[ -x "$crx" ] || skip "no Linux program $crx"
need_display_and_tools xdotool xwd xwininfo convert cmp

use_wine_of_build "$win_build"
# The window and the system's dialogs, not the answers-file ones.
unset CRX_ANSWERS CRX_RECORD
start_wine_test crx-builder-window
boot_wine_prefix

machine_key='HKLM\SOFTWARE\Velmora\Cratex\1.00'
user_key='HKCU\SOFTWARE\Velmora\Cratex\1.00'
save_registry_values "$machine_key|datafile" "$machine_key|mdatafile" \
  "$user_key|Logging" "$user_key|CreateOnDrop" "$user_key|IgnoreFiles" \
  "$user_key|BlockSize" "$user_key|SoftEOM"
set_registry_value "$machine_key" datafile "$(winpath "$full_stub")" ||
  fail "could not set the stub in wine's registry"
set_registry_value "$machine_key" mdatafile "$(winpath "$min_stub")" ||
  fail "could not set the minimal stub"
set_registry_value "$user_key" IgnoreFiles "EXE:OBJ" || fail "could not set IgnoreFiles"

product=$scratch/product
mkdir -p "$product/docs"
printf 'Hello from the builder window.\r\n' >"$product/hello.txt"
for i in $(seq 1 300); do echo "line $i of the manual"; done >"$product/docs/manual.txt"
head -c 7000 /dev/urandom >"$product/data.bin"
mkdir -p "$product/more/deeper"
printf 'pasted file\r\n' >"$product/extra.txt"
printf 'pasted folder, one level down\r\n' >"$product/more/deeper/deep.txt"
archive=$scratch/built.exe

on_failure() {
  [ -f "$scratch/cratex.out" ] && cat "$scratch/cratex.out"
  shot "$shots/builder-failure.png"
  say "screen at the failure: $shots/builder-failure.png"
}

probe() { "$wine" "$probe" "$@" 2>&1 | tr -d '\r'; }

# The line of a command in the menu dump: "grayed checked" and so on.
menu_state() {
  awk -F'\t' -v id="$2" '$2 == id { print $3, $4 }' <<<"$1"
}

# Command identifiers of the window's menu items.
id_new=32771 id_add_folder=32773 id_save=32775 id_setup=32779 id_compress=32780
id_flatten=32784 id_encrypt=32786 id_password_only=32787 id_quit=32788 id_paste=32789

expect_state() {  # dump, id, what, "enabled checked" ...
  local got
  got=$(menu_state "$1" "$2")
  [ "$got" = "$4" ] || echo "$1"
  [ "$got" = "$4" ] || fail "$3 is '$got', expected '$4'"
}

# Saves the screen with the builder's windows drawn in: without a window
# manager the X root shows wine's popup menus and message boxes black, so
# each window of the program is taken from itself, bottom one first.
shot() {
  local file=$1 id geometry
  screenshot "$file"
  for id in $(xwininfo -root -children | awk '/"[Cc]ratex\.exe"\)/ { print $1 }' | tac); do
    xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' || continue
    geometry=$(xwininfo -id "$id" 2>/dev/null | awk '/Absolute upper-left X/ { x = $4 }
                                         /Absolute upper-left Y/ { y = $4 }
                                         /Width:/ { w = $2 }
                                         END { if (w > 1) printf "+%d+%d", x, y }')
    [ -n "$geometry" ] || continue
    xwd -id "$id" -silent 2>/dev/null |
      convert "$file" xwd:- -geometry "$geometry" -composite "$file" 2>/dev/null
  done
}

# A screenshot $2 of the message box shown by the window titled $1, whose
# text must hold $3. Wine puts a message box raised from a dialog on the X
# display as a black square when no window manager runs, so the probe reads
# the box's texts and copies its picture, painted afresh, which is laid
# over the screenshot where the box stands.
box_shot() {
  local answer rect picture=$scratch/box.bmp
  rm -f "$picture"
  answer=$(probe box "$1" "$(winpath "$picture")")
  grep -qF -- "$3" <<<"$(grep '^text: ' <<<"$answer")" ||
    { echo "$answer"; fail "the message box over '$1' does not say '$3'"; }
  shot "$2"
  rect=$(awk '$1 == "rect" { printf "+%d+%d", $2, $3 }' <<<"$answer")
  [ -s "$picture" ] && [ -n "$rect" ] || { echo "$answer"; fail "the probe drew no picture of the box"; }
  convert "$2" "$picture" -geometry "$rect" -composite "$2" ||
    fail "could not lay the box's picture over $2"
}

# Opens the menu of the Alt key $1, keeps a screenshot named $2 and closes
# it again; the window prepares every menu when it opens.
open_menu() {
  activate_window "$main"
  xdotool key --clearmodifiers "alt+$1"
  sleep 0.8
  shot "$shots/builder-menu-$2.png"
  xdotool key Escape
  sleep 0.2
  xdotool key Escape
  sleep 0.3
}

# Picks an item by its mnemonic: Alt+menu, then the item's letter.
pick() {
  activate_window "$main"
  xdotool key --clearmodifiers "alt+$1"
  sleep 0.5
  xdotool key "$2"
  sleep 0.5
}

# Waits up to $2 seconds for a probe request $1 on the window to print $3.
wait_for_probe() {
  local i
  for i in $(seq 1 $(($2 * 2))); do
    [ "$(probe "$1" "$title")" = "$3" ] && return 0
    sleep 0.5
  done
  return 1
}

# Gives the window the keyboard: with no window manager it takes it from
# inside. A window of the program that is still closing (a progress window)
# may keep it a moment longer on a busy machine, so this asks for 10 s.
take_focus() {
  local i
  for i in $(seq 1 20); do
    probe focus "$title" | grep -q '^focused$' && return 0
    sleep 0.5
  done
  return 1
}

(cd "$scratch" && exec "$wine" "$cratex_exe") >"$scratch/cratex.out" 2>&1 &
background_pid=$!
wait_for_window "^Untitled - Cratex$"
[ -n "$window" ] || fail "no window 'Untitled - Cratex' within 60 s"
main=$window
title="Untitled - Cratex"
sleep 0.5
shot "$shots/builder-empty.png"
say "the main window is up"

# ---- the menus and their rules -----------------------------------------------
open_menu f file
open_menu e edit
open_menu h help
open_menu o options
menus=$(probe menus "$title")
[ -n "$(menu_state "$menus" $id_new)" ] || { echo "$menus"; fail "the probe read no menu"; }
expect_state "$menus" $id_new "New Archive" "enabled unchecked"
expect_state "$menus" $id_add_folder "Add Folder without an archive" "grayed unchecked"
expect_state "$menus" $id_save "Save Archive without an archive" "grayed unchecked"
expect_state "$menus" $id_quit "Quit Processing with nothing running" "grayed unchecked"
expect_state "$menus" $id_compress "Compress Files at the start" "enabled checked"
expect_state "$menus" $id_setup "Setup archive at the start" "enabled unchecked"
expect_state "$menus" $id_flatten "Flatten at the start" "enabled unchecked"

pick o g  # Generate Installation/Setup Archive on
open_menu o options-setup
menus=$(probe menus "$title")
expect_state "$menus" $id_setup "Setup archive once ticked" "enabled checked"
expect_state "$menus" $id_flatten "Flatten after ticking setup archive" "enabled checked"
pick o g  # and off again
open_menu o options
menus=$(probe menus "$title")
expect_state "$menus" $id_setup "Setup archive once cleared" "enabled unchecked"
expect_state "$menus" $id_flatten "Flatten after clearing setup archive" "enabled unchecked"
say "setup archive ticks and clears flatten with it"

pick o c  # Compress Files off
pick o n  # Password Protect - no encryption on: compress comes back on
pick o e  # Encrypt / Password Protect on: password-only goes off
open_menu o options-encrypt
menus=$(probe menus "$title")
expect_state "$menus" $id_encrypt "Encrypt once ticked" "enabled checked"
expect_state "$menus" $id_password_only "Password-only after ticking encrypt" "enabled unchecked"
expect_state "$menus" $id_compress "Compress Files with encryption on" "grayed checked"
say "encryption clears password-only and ticks and greys Compress Files"

# ---- New Archive: the lock dialog, cancelled; the save dialog -----------------
activate_window "$main"
xdotool key --clearmodifiers ctrl+n
wait_for_window "^Cratex - Lock Archive$"
[ -n "$window" ] || fail "Ctrl+N showed no lock dialog"
sleep 0.5
shot "$shots/builder-lock.png"
activate_window "$window"
xdotool type --delay 50 "abc"
xdotool key Tab
xdotool type --delay 50 "abc"
xdotool key Return
sleep 1
box_shot "Cratex - Lock Archive" "$shots/builder-lock-short.png" \
  "The password must be at least 4 characters"
xdotool key Return  # the message's OK
sleep 0.5
wait_for_window "^Cratex - Lock Archive$"
activate_window "$window"
xdotool key Escape  # Cancel: no password, no encryption for this archive
sleep 1
shot "$shots/builder-lock-cancelled.png"
xdotool key Return  # the notice's OK
wait_for_window "^Create Archive$"
[ -n "$window" ] || fail "no 'Create Archive' save dialog after the lock dialog"
sleep 0.8
activate_window "$window"
xdotool key ctrl+a
xdotool type --delay 20 "$(winpath "$archive")"
xdotool key Return
wait_for_window "built\\.exe"
[ "$window" = "$main" ] || fail "the window's title never named the new archive"
title=$(xdotool getwindowname "$main")
say "New Archive made '$title'"
[ "$(probe view "$title")" = white ] || fail "the list of an open archive is not white"

# ---- a drop onto the window, then Save ------------------------------------------
probe drop "$title" "$(winpath "$product/hello.txt")" "$(winpath "$product/docs")" \
  "$(winpath "$product/data.bin")" | grep -q '^dropped$' || fail "the drop was not posted"
rows=
for _ in $(seq 1 60); do
  rows=$(probe rows "$title")
  [ "$(grep -c . <<<"$rows")" -ge 3 ] && break
  sleep 0.5
done
for member in hello.txt manual.txt data.bin; do
  grep -q "$member" <<<"$rows" || { echo "$rows"; fail "the list does not show $member after the drop"; }
done
data_row=$(grep 'data\.bin' <<<"$rows")
[ "$(cut -f3 <<<"$data_row")" = 7000 ] || fail "data.bin's size column is '$(cut -f3 <<<"$data_row")'"
say "the drop listed: $(cut -f1 <<<"$rows" | tr '\n' ' ')"

# Paste: a file list on the clipboard, as Explorer's Copy leaves it; the
# folder goes in with its sub-folders like a drop.
"$wine" "$probe" clip "$(winpath "$product/extra.txt")" "$(winpath "$product/more")" ||
  fail "could not put the files on the clipboard"
# The news of a new clipboard reaches the builder a moment later: Ctrl+V
# before it would find nothing to paste.
for _ in $(seq 1 20); do
  seen=$(probe clipboard "$title")
  grep -q '^available: yes' <<<"$seen" && grep -q 'extra\.txt' <<<"$seen" && break
  sleep 0.5
done
grep -q '^available: yes' <<<"$seen" && grep -q 'extra\.txt' <<<"$seen" ||
  { echo "$seen"; fail "the builder does not see the files on the clipboard"; }
# After the drop nothing gives the window the keyboard back (no window
# manager): it takes it from inside.
take_focus || fail "the window could not take the keyboard"
open_menu e edit-paste
menus=$(probe menus "$title")
expect_state "$menus" $id_paste "Paste with files on the clipboard" "enabled unchecked"
activate_window "$main"
xdotool key --clearmodifiers ctrl+v
for _ in $(seq 1 60); do
  rows=$(probe rows "$title")
  [ "$(grep -c . <<<"$rows")" -ge 5 ] && break
  sleep 0.5
done
for member in extra.txt deep.txt; do
  grep -q "$member" <<<"$rows" || { echo "$rows"; fail "the list does not show $member after Ctrl+V"; }
done
[ "$(grep -c . <<<"$rows")" -eq 5 ] || { echo "$rows"; fail "the list does not hold five members"; }
sleep 0.5
shot "$shots/builder-members.png"
say "Ctrl+V pasted a file and a folder with its sub-folder"

# The paste's progress window took the keyboard with it when it closed.
take_focus || fail "the window could not take the keyboard back"
xdotool key --clearmodifiers ctrl+s
wait_for_probe view 60 grey || fail "the list did not turn grey after Ctrl+S (not saved?)"
[ -f "$archive" ] || fail "Save left no archive at $archive"
say "saved and verified: the list is grey"

# ---- Preferences: an exclusion list without colons is refused ---------------------
pick e r
wait_for_window "^Preferences$"
[ -n "$window" ] || fail "Edit/Preferences showed no dialog"
sleep 0.5
shot "$shots/builder-preferences.png"
probe settext "Preferences" "exe" 0 | grep -q '^set$' || fail "could not fill the exclusion list"
activate_window "$window"
xdotool key Return
sleep 1
box_shot "Preferences" "$shots/builder-preferences-message.png" \
  "The exclude list contains no colons, this is an error"
xdotool key Return  # the message's OK
sleep 0.5
wait_for_window "^Preferences$"
[ -n "$window" ] || fail "Preferences closed although its exclusion list was refused"
activate_window "$window"
xdotool key Escape
sleep 0.5
stored=$("$wine" reg query "$user_key" /v IgnoreFiles 2>/dev/null | sed -n 's/^ *IgnoreFiles *REG_SZ *//p' |
  tr -d '\r')
[ "$stored" = "EXE:OBJ" ] || fail "the refused exclusion list was stored: '$stored'"
say "Preferences refused an exclusion list without colons"

# ---- Exit ---------------------------------------------------------------------------
pick f x
wait_background 20 || fail "File/Exit did not end the builder within 20 s"
[ "$background_status" -eq 0 ] || fail "the builder ended with status $background_status"
say "File/Exit ended the builder with status 0"

# ---- the archive on Linux ------------------------------------------------------------
info=$("$crx" info "$archive") || fail "crx info failed on the archive"
if ! grep -q '^password: *no$' <<<"$info" || grep '^type:' <<<"$info" | grep -qi 'encrypt'; then
  echo "$info"
  fail "the archive made after a cancelled lock dialog is locked or encrypted"
fi
mkdir -p "$scratch/out"
"$crx" extract "$archive" -o "$scratch/out" >/dev/null || fail "crx extract failed"
for file in hello.txt docs/manual.txt data.bin extra.txt more/deeper/deep.txt; do
  found=$(find "$scratch/out" -path "*/product/$file" -type f | head -n 1)
  [ -n "$found" ] || fail "crx extracted no $file"
  cmp -s "$product/$file" "$found" || fail "$file differs from the original"
done
say "crx found no lock and extracted every file byte for byte"
say "PASSED"
exit 0
