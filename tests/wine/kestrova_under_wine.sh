#!/usr/bin/env bash
# The installation road under wine64 with the win64 programs of a build.
#
#   kestrova_under_wine.sh [WIN64_BUILD] [road|window]        (build/win64 road)
#
# road    Cratex.exe packs a small product with its install.txt, Kestrova.exe,
#         setup.exe and unsetup.exe into a setup archive (real win64 full
#         stub); the archive runs silently: stub -> setup.exe ->
#         Kestrova.exe /sms:silent. It must end with status 0, the files
#         under HOME must be byte for byte the product's, the registry
#         values, the shared file's count, the uninstall folder (Kestrova.exe,
#         unsetup.exe, uninstall.txt) and the registration (UninstallString,
#         DisplayName) must be there, and the stub's folder gone. Then the
#         registered starter: unsetup.exe /sms:silent "<HOME>\uninstall" must
#         run the interpreter's copy there on uninstall.txt (a script of the
#         test's own) and hand back its exit status (0, and 1 for a script
#         whose command fails).
# window  Kestrova.exe started where there is no install.txt, interactively
#         on the X display: its "Run Install Script" dialog must come up
#         (screenshot kestrova-script-dialog.png); the test names a script
#         with one message in another folder, which must run: the main
#         window ("Untitled - Kestrova", status bar) and the message box
#         ("Kestrova") must come up (kestrova-message.png), OK on the
#         message and on the report leave the window with its status bar,
#         painted in the script's background colour with two banner lines
#         (kestrova-window.png, kestrova-view.png; screenshots in
#         WIN64_BUILD/wine-shots), the
#         chosen script must be remembered as LastScriptFile, and closing
#         the window must end the program with status 0.
#
# Needs wine64, DISPLAY (Xvfb), cmp; window also xdotool, xwd and
# ImageMagick's convert. WINEPREFIX is <WIN64_BUILD>/wineprefix. What the
# test installs into the prefix (the product's folder, its registry keys,
# the shared file and its count) is removed again on the way out, and the
# builder's stub setting is put back.
# Exit status: 0 passed, 1 failed, 77 skipped (something needed is missing).
set -uo pipefail

win_build=$(realpath -m "${1:-build/win64}")
mode=${2:-road}

say() { printf 'kestrova_under_wine(%s): %s\n' "$mode" "$*"; }
# shellcheck source=wine_test_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_test_lib.sh"

case "$mode" in
  road|window) ;;
  *) say "unknown mode '$mode' (road or window)"; exit 2 ;;
esac

programs=$win_build/src/programs
cratex_exe=$programs/Cratex.exe
kestrova_exe=$programs/Kestrova.exe
setup_exe=$programs/setup.exe
unsetup_exe=$programs/unsetup.exe
stub=$win_build/stubs/Cratex.dat
need_wine
need_built "$cratex_exe" "$kestrova_exe" "$setup_exe" "$unsetup_exe" "$stub"
tools="cmp"
[ "$mode" = window ] && tools="$tools xdotool xwd convert"
# shellcheck disable=SC2086  # one word a tool
need_display_and_tools $tools

use_wine_of_build "$win_build"
# The dialogs must be the real ones, not an answers file's.
unset CRX_ANSWERS CRX_RECORD
start_wine_test crx-kestrova
boot_wine_prefix

home_win='C:\Program Files\Velmora\Widget Tools'
product_key='HKLM\SOFTWARE\Velmora\Widget Tools'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Widget Tools'
shared_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDlls'
check_key='HKLM\SOFTWARE\Velmora\Kestrova road check'
shared_win='C:\windows\system32\vlcommon.dll'
host_temp=
home_host=
vendor_existed=1
shared_host=
made_folders=()

# Removes what the installation put into the prefix.
# shellcheck disable=SC2317  # called on the way out
extra_cleanup() {
  local folder
  for folder in "${made_folders[@]}"; do rm -rf "$folder"; done
  if [ -n "$home_host" ]; then
    rm -rf "$home_host"
    # The vendor's folder, when the installation made it.
    [ "$vendor_existed" = 1 ] || rmdir "$(dirname "$home_host")" 2>/dev/null
  fi
  if [ -n "$shared_host" ]; then rm -f "$shared_host"; fi
  "$wine" reg delete "$product_key" /f >/dev/null 2>&1
  "$wine" reg delete "$uninstall_key" /f >/dev/null 2>&1
  "$wine" reg delete "$check_key" /f >/dev/null 2>&1
  "$wine" reg delete "$shared_key" /v "$shared_win" /f >/dev/null 2>&1
  if [ -n "$host_temp" ]; then rm -f "$host_temp/crxfin.dat" "$host_temp/crxfinalize.exe"; fi
}

on_failure() {
  if [ -n "$host_temp" ] && [ -f "$host_temp/Kestrova.log" ]; then
    say "Kestrova.log:"
    cat "$host_temp/Kestrova.log"
  fi
  if [ -n "$host_temp" ] && [ -f "$host_temp/Cratex.log" ]; then
    say "the end of Cratex.log:"
    tail -20 "$host_temp/Cratex.log"
  fi
}

# Wine sets TEMP from its own settings, whatever this shell has.
wine_temp=$("$wine" cmd /c echo '%TEMP%' 2>/dev/null | tr -d '\r')
host_temp=$("$wine" winepath -u "$wine_temp" 2>/dev/null | tr -d '\r')
host_temp=${host_temp%/}
[ -d "$host_temp" ] || fail "wine's TEMP '$wine_temp' is no folder ($host_temp)"
home_host=$("$wine" winepath -u "$home_win" 2>/dev/null | tr -d '\r')
home_host=${home_host%/}
shared_host=$("$wine" winepath -u "$shared_win" 2>/dev/null | tr -d '\r')
[ -n "$home_host" ] && [ -n "$shared_host" ] || fail "wine cannot name the installation's folders"
[ ! -e "$home_host" ] || fail "$home_host is in the way (left by an earlier run?)"
[ -e "$(dirname "$home_host")" ] || vendor_existed=0
[ ! -e "$shared_host" ] || fail "$shared_host is in the way"

if [ "$mode" = window ]; then
  # One message, then the report; NO_UNINSTALL keeps the run from writing
  # an uninstall folder. The script is not install.txt in the folder
  # Kestrova starts in, so it asks for one with its file dialog, and the
  # test names show.txt in another folder there.
  mkdir -p "$scratch/start" "$scratch/scripts"
  # The window's look: a background colour and two banner lines in
  # different alignments and colours (kestrova-window.png shows them).
  printf '%s\r\n' 'set NO_UNINSTALL TRUE' 'background 0:64:128' \
    'banner -c "Widget Tools" Arial 240 255:255:255' \
    'banner -r "version 2.5" "Times New Roman" 160 255:255:0' \
    'message "Hello from the installation script." "Press OK to go on."' \
    >"$scratch/scripts/show.txt"
  settings='HKLM\SOFTWARE\Velmora\Kestrova\1.00'
  save_registry_values "$settings|LastScriptFile"
  "$wine" reg delete "$settings" /v LastScriptFile /f >/dev/null 2>&1
  rm -f "$host_temp/Kestrova.log"
  (cd "$scratch/start" && exec "$wine" "$kestrova_exe") >"$scratch/kestrova.out" 2>&1 &
  background_pid=$!

  wait_for_window '^Run Install Script$'
  sleep 2  # the file dialog reads the folder before it paints
  shot=$shots/kestrova-script-dialog.png
  if [ -n "$window" ]; then
    # The file dialog's window has a depth of its own that the root
    # window's picture shows black: it is taken by itself.
    mkdir -p "$shots"
    xwd -id "$window" -silent | convert xwd:- "$shot" 2>/dev/null || say "could not take a screenshot"
  else
    screenshot "$shot" || say "could not take a screenshot"
  fi
  [ -n "$window" ] || fail "no 'Run Install Script' dialog appeared within 60 s (screen: $shot)"
  say "the script dialog is up (screenshot: $shot)"
  activate_window "$window"
  # The file name box has the keyboard: replace what it holds.
  xdotool key --clearmodifiers End shift+Home BackSpace
  xdotool type --delay 20 "$(winpath "$scratch/scripts/show.txt")"
  xdotool key --clearmodifiers Return

  wait_for_window '^Kestrova$'
  box=$window
  sleep 0.7  # let the box and the window behind it paint
  shot=$shots/kestrova-message.png
  screenshot "$shot" || say "could not take a screenshot"
  [ -n "$box" ] || fail "no message box 'Kestrova' appeared within 60 s (screen: $shot)"
  main=$(xdotool search --name '^Untitled - Kestrova$' 2>/dev/null | head -n 1)
  [ -n "$main" ] || fail "the main window 'Untitled - Kestrova' is not there (screen: $shot)"
  say "the message box and the main window are up (screenshot: $shot)"

  # OK on the message; then the report comes up in a box of the same name.
  activate_window "$box"
  xdotool key --clearmodifiers Return
  report=
  for _ in $(seq 1 100); do
    report=$(xdotool search --onlyvisible --name '^Kestrova$' 2>/dev/null | grep -vx "$box" |
             head -n 1)
    [ -n "$report" ] && break
    kill -0 "$background_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$report" ] || fail "no report box came up after the message"
  sleep 0.5  # let the box take its keys
  activate_window "$report"
  xdotool key --clearmodifiers Return
  for _ in $(seq 1 50); do
    xdotool search --onlyvisible --name '^Kestrova$' >/dev/null 2>&1 || break
    sleep 0.1
  done

  # The run has ended; the window stays with its status bar until it is
  # closed.
  sleep 1
  kill -0 "$background_pid" 2>/dev/null || fail "Kestrova ended before its window was closed"
  shot=$shots/kestrova-window.png
  screenshot "$shot" || say "could not take a screenshot"
  say "the main window after the run (screenshot: $shot)"
  # The view is painted in the script's background colour (0:64:128) with
  # the yellow banner line on it.
  mkdir -p "$shots"
  view=$shots/kestrova-view.png
  xwd -id "$main" -silent | convert xwd:- "$view" 2>/dev/null || say "could not take the window's picture"
  if [ -f "$view" ]; then
    colours=$(convert "$view" -format %c histogram:info:- 2>/dev/null)
    grep -qi '#004080' <<<"$colours" ||
      fail "the window is not painted in the background colour (picture: $view)"
    grep -qi '#FFFF00' <<<"$colours" || fail "the yellow banner line is not drawn (picture: $view)"
    say "the window shows the background colour and the banner lines (picture: $view)"
  fi
  grep -qF "# OPEN <$(winpath "$scratch/scripts/show.txt")>" "$host_temp/Kestrova.log" 2>/dev/null ||
    fail "the log does not show the chosen script opened"
  last=$(reg_value "$settings" LastScriptFile)
  [ "$last" = "REG_SZ $(winpath "$scratch/scripts/show.txt")" ] ||
    fail "LastScriptFile is '$last', not the chosen script"

  # Alt+F4 on the window: the system's close command, as a person closes it.
  activate_window "$main"
  xdotool key --clearmodifiers alt+F4
  if ! wait_background 15; then
    stuck=$shots/kestrova-stuck.png
    screenshot "$stuck"
    fail "Kestrova did not end within 15 s after its window was closed (screen: $stuck)"
  fi
  [ "$background_status" -eq 0 ] || fail "Kestrova ended with status $background_status, not 0"
  say "closed: Kestrova ended with status 0"
  say "PASSED"
  exit 0
fi

# ---------------------------------------------------------------------------
# road

save_registry_values 'HKLM\SOFTWARE\Velmora\Cratex\1.00|datafile' \
  'HKCU\SOFTWARE\Velmora\Cratex\1.00|Logging'
set_registry_value 'HKLM\SOFTWARE\Velmora\Cratex\1.00' datafile "$(winpath "$stub")" ||
  fail "could not set the stub in wine's registry"
set_registry_value 'HKCU\SOFTWARE\Velmora\Cratex\1.00' Logging 1 || fail "could not switch logging on"

product=$scratch/product
mkdir -p "$product"
cp "$kestrova_exe" "$product/Kestrova.exe"
cp "$setup_exe" "$product/setup.exe"
cp "$unsetup_exe" "$product/unsetup.exe"
head -c 200000 /dev/urandom >"$product/data.bin"
printf '[Widget]\r\nReminders=on\r\n' >"$product/widget.ini"
for i in $(seq 1 3000); do printf 'line %d of the manual\r\n' "$i"; done >"$product/manual.txt"
printf 'a sample nobody asked for\r\n' >"$product/sample.txt"
printf "the vendor's shared library" >"$product/common.dll"
cat >"$product/install.txt" <<'EOF'
# the test's installation script
set VENDOR Velmora
set APP "Widget Tools"
set VER 2.5
set HOME "C:\Program Files\Velmora\Widget Tools"
filegroup -m G0 "Program files"
filegroup G1 Documents
filegroup G2 Samples
filegroup -d G2
copy widget.ini    $HOME\widget.ini          G0
copy data.bin      $HOME\bin\data.bin        G0
copy manual.txt    $HOME\docs\manual.txt     G12
copy sample.txt    $HOME\samples\sample.txt  G2
copy -s common.dll $SYSDIR\vlcommon.dll
setreg -lm "SOFTWARE\$VENDOR\$APP\$VER" Home $HOME
setreg -lmi "SOFTWARE\$VENDOR\$APP\$VER" Build 1234
getreg -lm "SOFTWARE\$VENDOR\$APP\$VER" Home BACK
setreg -lm "SOFTWARE\$VENDOR\$APP\$VER" Echo $BACK
query -y ANSWER "Install the widget tools?"
if $ANSWER == YES
  setreg -lm "SOFTWARE\$VENDOR\$APP\$VER" Answer yes
endif
message "The widget tools are installed."
EOF
{
  echo "+ZS"
  echo ":Velmora"
  echo ":Widget Tools"
  echo ":The widget tools"
  echo ":setup.exe"
  echo ":setup.exe"
  echo ">$(winpath "$scratch/tools-setup.exe")"
  echo "@$(winpath "$product")"
  printf '%s\n' setup.exe Kestrova.exe unsetup.exe install.txt data.bin widget.ini manual.txt \
    sample.txt common.dll
} >"$scratch/tools.crs"
(cd "$scratch" && timeout 120 "$wine" "$cratex_exe" tools.crs) >"$scratch/cratex.out" 2>&1 ||
  { cat "$scratch/cratex.out"; fail "Cratex.exe could not build tools-setup.exe"; }
rm -f "$host_temp/Cratex.log" "$host_temp/Kestrova.log"
say "Cratex.exe built tools-setup.exe"

n=0
while [ -e "$host_temp/__CRX_tmp_${n}__" ]; do n=$((n + 1)); done
folder=__CRX_tmp_${n}__
made_folders+=("$host_temp/$folder")
status=0
timeout 180 "$wine" "$scratch/tools-setup.exe" /sms:silent >"$scratch/stub.out" 2>&1 || status=$?
[ $status -eq 0 ] || { cat "$scratch/stub.out"; fail "tools-setup.exe /sms:silent ended with status $status"; }
log=$host_temp/Kestrova.log
[ -f "$log" ] || fail "the interpreter wrote no log: it did not run"
grep -qF "SMS SETUP MODE" "$log" || fail "the interpreter did not run silently"
grep -qF "Installation Completed" "$log" || fail "the log has no completion report"
if grep -qE "SCRIPT ERROR|Fatal errors" "$log"; then fail "a command of the script failed"; fi
grep -qF "$(printf 'Install the widget tools?\nMESSAGE response: YES')" "$log" ||
  fail "the question was not answered Yes"
say "the silent installation ran to its end (stub -> setup.exe -> Kestrova.exe)"

# The files, byte for byte; the deselected group's file is missing.
cmp -s "$product/widget.ini" "$home_host/widget.ini" || fail "widget.ini differs or is missing"
cmp -s "$product/data.bin" "$home_host/bin/data.bin" || fail "bin\\data.bin differs or is missing"
cmp -s "$product/manual.txt" "$home_host/docs/manual.txt" || fail "docs\\manual.txt differs or is missing"
[ ! -e "$home_host/samples" ] || fail "the deselected group's samples folder was made"
cmp -s "$product/common.dll" "$shared_host" || fail "the shared file is not in the system folder"
say "the files under HOME are the product's, byte for byte"

# The registry.
version_key="$product_key\\2.5"
[ "$(reg_value "$version_key" Home)" = "REG_SZ $home_win" ] || fail "Home is '$(reg_value "$version_key" Home)'"
[ "$(reg_value "$version_key" Echo)" = "REG_SZ $home_win" ] || fail "Echo (read back) is '$(reg_value "$version_key" Echo)'"
[ "$(reg_value "$version_key" Answer)" = "REG_SZ yes" ] || fail "Answer is '$(reg_value "$version_key" Answer)'"
build=$(reg_value "$version_key" Build)
[ "$build" = "REG_DWORD 0x4d2" ] || fail "Build is '$build', not the number 1234"
count=$(reg_value "$shared_key" "$shared_win")
[ "$count" = "REG_DWORD 0x1" ] || fail "the shared file's count is '$count', not 1"
say "the registry values and the shared file's count are there"

# The uninstall folder and the registration.
cmp -s "$kestrova_exe" "$home_host/uninstall/Kestrova.exe" || fail "uninstall\\Kestrova.exe is not the interpreter"
cmp -s "$unsetup_exe" "$home_host/uninstall/unsetup.exe" || fail "uninstall\\unsetup.exe is not the starter"
grep -qx "uninstalling" "$home_host/uninstall/uninstall.txt" 2>/dev/null || fail "no uninstall script"
grep -qF "rmtree \"$home_win\"" "$home_host/uninstall/uninstall.txt" || fail "the uninstall script does not remove HOME"
want="REG_SZ \"$home_win\\uninstall\\unsetup.exe\" \"$home_win\\uninstall\""
[ "$(reg_value "$uninstall_key" UninstallString)" = "$want" ] ||
  fail "UninstallString is '$(reg_value "$uninstall_key" UninstallString)', not '$want'"
[ "$(reg_value "$uninstall_key" DisplayName)" = "REG_SZ Widget Tools" ] || fail "DisplayName is wrong"
say "the uninstall folder and its registration are there"

# The stub's clean-up.
[ ! -e "$host_temp/$folder" ] || fail "$folder is still there: $(ls -A "$host_temp/$folder")"
grep -qF "CLEANUP PHASE" "$host_temp/Cratex.log" || fail "the stub did not clean up"
[ ! -e "$host_temp/crxfin.dat" ] || fail "crxfin.dat is left although the script did not finalize"
say "the stub removed $folder; the hand-off file is gone"

# The registered starter on a script of the test's own: the interpreter's
# copy must run in the uninstall folder, and its status come back.
printf 'set NO_UNINSTALL TRUE\r\nsetreg -lm "SOFTWARE\\Velmora\\Kestrova road check" Folder $PWD\r\n' \
  >"$home_host/uninstall/uninstall.txt"
status=0
(cd "$scratch" && timeout 120 "$wine" "$home_host/uninstall/unsetup.exe" /sms:silent \
  "$home_win\\uninstall") >"$scratch/unsetup.out" 2>&1 || status=$?
[ $status -eq 0 ] || fail "unsetup.exe ended with status $status"
[ "$(reg_value "$check_key" Folder)" = "REG_SZ $home_win\\uninstall" ] ||
  fail "the uninstall script ran in '$(reg_value "$check_key" Folder)'"
printf 'nosuchcommand at all\r\n' >"$home_host/uninstall/uninstall.txt"
status=0
(cd "$scratch" && timeout 120 "$wine" "$home_host/uninstall/unsetup.exe" /sms:silent \
  "$home_win\\uninstall") >"$scratch/unsetup.out" 2>&1 || status=$?
[ $status -eq 1 ] || fail "unsetup.exe on a failing script ended with status $status, not 1"
say "unsetup.exe ran the interpreter's copy in the uninstall folder and passed its status on"
say "PASSED"
exit 0
