#!/usr/bin/env bash
# The road of a setup archive under wine64, with the win64 programs of a
# build: Cratex.exe makes the archive from a builder script with the real
# win64 full stub (Cratex.dat) in front, and the archive runs under wine.
#
#   setup_road_under_wine.sh [WIN64_BUILD] [road|signed|confirm|hostile]   (build/win64 road)
#
# road     the archive runs silently (/sms:silent): it must extract itself
#          into the first free __CRX_tmp_N__ under wine's TEMP, start its
#          setup program there with ".\SETUP.EXE /sms:silent", leave the
#          hand-off files crxfin.dat (its own path) and crxfinalize.exe in
#          TEMP, and remove every extracted file and the folder. Then the
#          same with the real launcher as setup.exe: stub -> setup ->
#          Kestrova.exe must hand "/sms:silent" on.
# signed   the archive, signed with osslsigncode and a throw-away
#          certificate made here, must pass osslsigncode verify and still
#          run and clean up silently: the signature is appended behind the
#          archive, which the stub finds at its own fixed offset.
# hostile  a setup archive whose member names are absolute
#          (C:\crx-victim\x.txt, a file that exists in wine's drive_c with
#          known bytes) or climb out of the folder it is extracted to
#          (..\..\crx-escape.txt), runs silently: the names must land inside
#          __CRX_tmp_N__, the existing file must keep its bytes, nothing may
#          appear in drive_c outside that folder (but the log and the
#          hand-off file), and the clean-up must remove every member, the
#          sub-folders made for them and the folder itself.
# confirm  run interactively on the X display: the setup confirmation
#          "Cratex - Setup Confirm" must come up (a screenshot is kept in
#          WIN64_BUILD/wine-shots/setup-confirm.png); declining with NO must
#          end the stub without creating anything.
#
# The setup program (and the interpreter behind the launcher) is the
# record_run helper of the build: it writes its command line and folder to
# the file CRX_RUN_RECORD names. Needs DISPLAY (Xvfb) and wine64; signed
# needs osslsigncode and openssl, confirm xdotool, xwd and ImageMagick's
# convert. WINEPREFIX is <WIN64_BUILD>/wineprefix. The test sets the stub
# and the logging setting in wine's registry and puts them back after.
# Exit status: 0 passed, 1 failed, 77 skipped (something needed is missing).
set -uo pipefail

win_build=$(realpath -m "${1:-build/win64}")
mode=${2:-road}
caption="Cratex - Setup Confirm"

say() { printf 'setup_road_under_wine(%s): %s\n' "$mode" "$*"; }
# shellcheck source=wine_test_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_test_lib.sh"

case "$mode" in
  road|signed|confirm|hostile) ;;
  *) say "unknown mode '$mode' (road, signed, confirm or hostile)"; exit 2 ;;
esac

cratex_exe=$win_build/src/programs/Cratex.exe
launcher=$win_build/src/programs/setup.exe
recorder=$win_build/tests/wine/record_run.exe
stub=$win_build/stubs/Cratex.dat
need_wine
need_built "$cratex_exe" "$launcher" "$recorder" "$stub"
tools="cmp"
[ "$mode" = signed ] && tools="$tools osslsigncode openssl"
[ "$mode" = confirm ] && tools="$tools xdotool xwd convert"
# shellcheck disable=SC2086  # one word a tool
need_display_and_tools $tools

use_wine_of_build "$win_build"
start_wine_test crx-road
host_temp=
made_folders=()
made_files=()

# Removes what the runs left in wine's TEMP.
# shellcheck disable=SC2317  # called on the way out
extra_cleanup() {
  if [ -n "$host_temp" ]; then
    for folder in "${made_folders[@]}"; do rm -rf "$folder"; done
    rm -f "$host_temp/crxfin.dat" "$host_temp/crxfinalize.exe"
  fi
  local made
  for made in "${made_files[@]}"; do rm -rf "$made"; done
}

on_failure() {
  if [ -n "$host_temp" ] && [ -f "$host_temp/Cratex.log" ]; then
    say "Cratex.log:"
    cat "$host_temp/Cratex.log"
  fi
}

lower() { tr '[:upper:]' '[:lower:]'; }

boot_wine_prefix

save_registry_values 'HKLM\SOFTWARE\Velmora\Cratex\1.00|datafile' \
  'HKCU\SOFTWARE\Velmora\Cratex\1.00|Logging'
set_registry_value 'HKLM\SOFTWARE\Velmora\Cratex\1.00' datafile "$(winpath "$stub")" ||
  fail "could not set the stub in wine's registry"
set_registry_value 'HKCU\SOFTWARE\Velmora\Cratex\1.00' Logging 1 || fail "could not switch logging on"

# Wine sets TEMP from its own settings, whatever this shell has.
wine_temp=$("$wine" cmd /c echo '%TEMP%' 2>/dev/null | tr -d '\r')
host_temp=$("$wine" winepath -u "$wine_temp" 2>/dev/null | tr -d '\r')
host_temp=${host_temp%/}
[ -d "$host_temp" ] || fail "wine's TEMP '$wine_temp' is no folder ($host_temp)"
say "wine's TEMP is $wine_temp ($host_temp)"

export CRX_RUN_RECORD
CRX_RUN_RECORD=$(winpath "$scratch/record.txt")

# Makes $scratch/$1 from the product folder $2 with setup program $3 and
# the members that follow.
build_archive() {
  local archive=$1 product=$2 program=$3
  shift 3
  {
    echo "+ZS"
    echo ":Velmora"
    echo ":Widget"
    echo ":The widget tools"
    echo ":$program"
    echo ":$program"
    echo ">$(winpath "$scratch/$archive")"
    echo "@$(winpath "$scratch/$product")"
    printf '%s\n' "$@"
  } >"$scratch/$archive.crs"
  (cd "$scratch" && timeout 120 "$wine" "$cratex_exe" "$archive.crs") >"$scratch/cratex.out" 2>&1 ||
    { cat "$scratch/cratex.out"; fail "Cratex.exe could not build $archive from its script"; }
  [ "$(stat -c %s "$scratch/$archive")" -gt 217088 ] || fail "$archive holds no archive"
  # The builder's activity log is in the same folder as the stub's.
  rm -f "$host_temp/Cratex.log"
}

# The folder the next run must extract into: the first free name.
next_folder() {
  local n=0
  while [ -e "$host_temp/__CRX_tmp_${n}__" ]; do n=$((n + 1)); done
  printf '%s' "__CRX_tmp_${n}__"
}

# Runs archive $1 silently and checks the whole road: the recorded command
# line $2 and folder, the hand-off, the clean-up.
run_silently() {
  local archive=$1 expected_command=$2 finalize=${3:-}
  local folder status
  folder=$(next_folder)
  made_folders+=("$host_temp/$folder")
  rm -f "$scratch/record.txt" "$host_temp/crxfin.dat" "$host_temp/crxfinalize.exe"
  status=0
  timeout 120 "$wine" "$scratch/$archive" /sms:silent >"$scratch/stub.out" 2>&1 || status=$?
  [ $status -eq 0 ] || { cat "$scratch/stub.out"; fail "$archive /sms:silent ended with status $status"; }
  [ -f "$scratch/record.txt" ] || fail "the setup program of $archive did not run"
  local want got
  want=$(printf 'cmd=%s\ncwd=%s\\%s' "$expected_command" "$wine_temp" "$folder" | lower)
  got=$(lower <"$scratch/record.txt")
  [ "$got" = "$want" ] || fail "the setup program recorded '$got', not '$want'"
  say "$archive: the setup program ran as '$expected_command' in $wine_temp\\$folder"

  # The hand-off: the archive's own path, and its finishing program.
  want=$(winpath "$scratch/$archive" | lower)
  got=$(tr -d '\r\n' <"$host_temp/crxfin.dat" 2>/dev/null | lower)
  [ "$got" = "$want" ] || fail "crxfin.dat holds '$got', not '$want'"
  if [ -n "$finalize" ]; then
    cmp -s "$finalize" "$host_temp/crxfinalize.exe" || fail "crxfinalize.exe was not handed off"
  else
    [ ! -e "$host_temp/crxfinalize.exe" ] || fail "a crxfinalize.exe appeared from nowhere"
  fi

  # The clean-up: nothing extracted is left, not even the folder.
  [ ! -e "$host_temp/$folder" ] || fail "$folder is still there: $(ls -A "$host_temp/$folder")"
  local log=$host_temp/Cratex.log
  grep -qF "CLEANUP PHASE" "$log" || fail "the log has no clean-up"
  grep -qF "remove directory '$wine_temp\\$folder'" "$log" || fail "the log names another folder"
  if grep -qF "error" "$log"; then fail "the log reports an error"; fi
  grep -qF "Cratex COMPLETE" "$log" || fail "the log has no completion line"
  say "$archive: hand-off written, every extracted file and $folder removed"
}

product=$scratch/product
mkdir -p "$product"
cp "$recorder" "$product/SETUP.EXE"
printf 'copy *.* $HOME$\r\n' >"$product/install.txt"
printf 'the finishing program of the archive author\r\n' >"$product/crxfinalize.exe"
build_archive widget-setup.exe product SETUP.EXE SETUP.EXE install.txt crxfinalize.exe
say "Cratex.exe built widget-setup.exe"

case "$mode" in
road)
  run_silently widget-setup.exe '.\SETUP.EXE /sms:silent' "$product/crxfinalize.exe"

  # Through the real launcher: the stub starts setup.exe, which starts
  # Kestrova.exe (the recorder again) with its own arguments.
  chained=$scratch/chained
  mkdir -p "$chained"
  cp "$launcher" "$chained/setup.exe"
  cp "$recorder" "$chained/Kestrova.exe"
  cp "$product/install.txt" "$chained/install.txt"
  build_archive chained-setup.exe chained setup.exe setup.exe Kestrova.exe install.txt
  run_silently chained-setup.exe 'Kestrova.exe /sms:silent'
  ;;

signed)
  # A throw-away self-signed code-signing certificate.
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Cratex test signer" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$scratch/key.pem" -out "$scratch/cert.pem" \
    >"$scratch/openssl.out" 2>&1 || { cat "$scratch/openssl.out"; fail "openssl could not make a certificate"; }
  osslsigncode sign -certs "$scratch/cert.pem" -key "$scratch/key.pem" -n "Widget setup" \
    -in "$scratch/widget-setup.exe" -out "$scratch/signed-setup.exe" >"$scratch/sign.out" 2>&1 ||
    { cat "$scratch/sign.out"; fail "osslsigncode could not sign the archive"; }
  unsigned_size=$(stat -c %s "$scratch/widget-setup.exe")
  signed_size=$(stat -c %s "$scratch/signed-setup.exe")
  [ "$signed_size" -gt "$unsigned_size" ] || fail "the signed archive is no longer than the unsigned"
  # Signing changes only the PE header (its checksum and the certificate
  # table entry) and appends the signature behind the archive: the stub's
  # code and the archive keep their bytes and their offset.
  changed=$(cmp -l "$scratch/widget-setup.exe" "$scratch/signed-setup.exe" 2>/dev/null |
            awk '$1 > 1024 { n++ } END { print n + 0 }')
  [ "$changed" -eq 0 ] || fail "signing changed $changed bytes behind the PE header"
  osslsigncode verify -CAfile "$scratch/cert.pem" -in "$scratch/signed-setup.exe" \
    >"$scratch/verify.out" 2>&1 || { cat "$scratch/verify.out"; fail "osslsigncode verify refused the signed archive"; }
  say "signed-setup.exe ($signed_size bytes, $((signed_size - unsigned_size)) more) passes osslsigncode verify"
  run_silently signed-setup.exe '.\SETUP.EXE /sms:silent' "$product/crxfinalize.exe"
  ;;

hostile)
  # The pre-existing file an absolute name points at, with known bytes, and
  # the place a climbing name reaches from __CRX_tmp_N__ (two folders up
  # from it: the folder above wine's TEMP).
  drive_c=$WINEPREFIX/drive_c
  victim=$drive_c/crx-victim/x.txt
  escape=$(dirname "$host_temp")/crx-escape.txt
  [ ! -e "$drive_c/crx-victim" ] || fail "$drive_c/crx-victim is in the way"
  [ ! -e "$escape" ] || fail "$escape is in the way"
  made_files+=("$drive_c/crx-victim" "$escape")
  mkdir -p "$drive_c/crx-victim"
  printf 'the bytes the user had\r\n' >"$victim"
  cp "$victim" "$scratch/victim.txt"
  build_archive hostile-setup.exe product SETUP.EXE SETUP.EXE install.txt \
    '<C:\crx-victim\x.txt>=install.txt' '<..\..\crx-escape.txt>=install.txt' \
    '<docs\deep\guide.txt>=install.txt'
  # Every file the run touches from here on is newer than the marker.
  touch "$scratch/marker"
  sleep 1
  folder=$(next_folder)
  run_silently hostile-setup.exe '.\SETUP.EXE /sms:silent'

  cmp -s "$scratch/victim.txt" "$victim" || fail "the absolute member name changed $victim"
  [ ! -e "$escape" ] || fail "the climbing member name created $escape"
  # Nothing else in drive_c is new or changed but the log and the
  # hand-off file (wine keeps its own files under windows\).
  changed=$(cd "$drive_c" && find . -newer "$scratch/marker" -not -type d \
              -not -path './windows/*' | sed 's|^\./||' | sort)
  temp_rel=$(realpath --relative-to="$drive_c" "$host_temp")
  unexpected=$(printf '%s\n' "$changed" |
               grep -v -x -F -e "$temp_rel/Cratex.log" -e "$temp_rel/crxfin.dat" -e '' || true)
  [ -z "$unexpected" ] || fail "the run wrote outside $folder: $unexpected"
  # The absolute and the climbing name were extracted inside the folder
  # (their drive, root and '..' dropped) and removed from there again.
  log=$host_temp/Cratex.log
  for inside in 'crx-victim\x.txt' 'crx-escape.txt' 'docs\deep\guide.txt'; do
    grep -qiF "$wine_temp\\$folder\\$inside" "$log" ||
      fail "the log shows no '$inside' inside $folder"
  done
  if grep -qF "left alone" "$log"; then fail "the clean-up left a member alone"; fi
  say "hostile-setup.exe: $victim kept its bytes, nothing was written outside $folder"
  ;;

confirm)
  folder=$(next_folder)
  made_folders+=("$host_temp/$folder")
  rm -f "$scratch/record.txt"
  "$wine" "$scratch/widget-setup.exe" >"$scratch/stub.out" 2>&1 &
  background_pid=$!
  wait_for_window "^$caption\$"
  shot=$shots/setup-confirm.png
  sleep 0.5  # let the dialog paint its controls
  screenshot "$shot" || say "could not take a screenshot"
  [ -n "$window" ] || fail "no window titled '$caption' appeared within 60 s (screen: $shot)"
  name=$(xdotool getwindowname "$window" 2>/dev/null)
  [ "$name" = "$caption" ] || fail "window $window is titled '$name', not '$caption'"
  say "found the setup confirmation '$name' (screenshot: $shot)"

  # NO: focus the dialog, move on from the default button YES (which has
  # the focus) to NO and press it. A wrong button shows: YES runs the
  # setup program, Browse... opens a window and the stub does not end.
  activate_window "$window"
  xdotool key --clearmodifiers Tab
  sleep 0.2
  xdotool key --clearmodifiers space
  wait_background 10 || fail "the stub did not end after the confirmation was declined"
  status=$background_status
  [ "$status" -eq 2 ] || fail "the declined stub ended with status $status, not 2"
  [ ! -e "$host_temp/$folder" ] || fail "declining created $folder"
  [ ! -e "$scratch/record.txt" ] || fail "declining ran the setup program"
  [ ! -e "$host_temp/Cratex.log" ] || fail "declining wrote a log"
  say "declined: the stub ended with status 2 and created nothing"
  ;;
esac

say "PASSED"
exit 0
