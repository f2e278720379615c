#!/usr/bin/env bash
# Work that waits for the next start, made by the win64 Kestrova.exe under
# wine64 with the real Windows API (wine does not reboot: what the next
# start and logon would do is checked as it is written down).
#
#   restart_under_wine.sh [WIN64_BUILD]        (build/win64)
#
# restart   A silent installation that reaches `restart step2` must end
#           with status 0 and the suspension report, leave the environment
#           file beside its script (variables, RESTARTED, aliases) and one
#           rename batch in the Startup folder, line for line as it must be:
#           the drive, the folder, the interpreter with the restart command
#           line, the trailer that deletes the batch. The lines after the
#           restart line must not have run. Then the batch itself is run by
#           wine's command interpreter, as the logon would: the interpreter
#           must skip to the restart line, finish with the saved state and
#           delete the environment file, and the batch must delete itself.
# in use    A file that another program holds open, sharing nothing
#           (hold_file.exe), is replaced by `copy`: the three boot-time
#           requests (delete the file, move the copy onto it, delete the
#           copy) must be in PendingFileRenameOperations in that order, the
#           file must be unchanged now, and NEEDS_RE_BOOT must be TRUE.
#
# Needs wine64, DISPLAY (Xvfb) and timeout. WINEPREFIX is <WIN64_BUILD>/wineprefix.
# The Startup folder value, the test's registry key and the boot-time
# requests are put back on the way out.
# Exit status: 0 passed, 1 failed, 77 skipped (something needed is missing).
set -uo pipefail

win_build=$(realpath -m "${1:-build/win64}")

say() { printf 'restart_under_wine: %s\n' "$*"; }
# shellcheck source=wine_test_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_test_lib.sh"

kestrova_exe=$win_build/src/programs/Kestrova.exe
hold_exe=$win_build/tests/wine/hold_file.exe
need_wine
need_built "$kestrova_exe" "$hold_exe"
need_display_and_tools timeout

use_wine_of_build "$win_build"
unset CRX_ANSWERS CRX_RECORD
start_wine_test crx-restart
boot_wine_prefix

folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'
session_key='HKLM\System\CurrentControlSet\Control\Session Manager'
demo_key='HKLM\SOFTWARE\Velmora\Restart Demo'
busy_key='HKLM\SOFTWARE\Velmora\Busy Demo'
host_temp=
pending_saved=
vendor_key_existed=1

# shellcheck disable=SC2317  # called on the way out
extra_cleanup() {
  "$wine" reg delete "$demo_key" /f >/dev/null 2>&1
  "$wine" reg delete "$busy_key" /f >/dev/null 2>&1
  if [ "$vendor_key_existed" = 0 ]; then "$wine" reg delete 'HKLM\SOFTWARE\Velmora' /f >/dev/null 2>&1; fi
  # What the run asked the next start to do is not to be done.
  "$wine" reg delete "$session_key" /v PendingFileRenameOperations /f >/dev/null 2>&1
  if [ -n "$pending_saved" ]; then "$wine" regedit /S "$(winpath "$pending_saved")" >/dev/null 2>&1; fi
}

# shellcheck disable=SC2317  # called by fail
on_failure() {
  if [ -n "$host_temp" ] && [ -f "$host_temp/Kestrova.log" ]; then
    say "the end of Kestrova.log:"
    tail -40 "$host_temp/Kestrova.log"
  fi
}

wine_temp=$("$wine" cmd /c echo '%TEMP%' 2>/dev/null | tr -d '\r')
host_temp=$("$wine" winepath -u "$wine_temp" 2>/dev/null | tr -d '\r')
host_temp=${host_temp%/}
[ -d "$host_temp" ] || fail "wine's TEMP '$wine_temp' is no folder"
"$wine" reg query 'HKLM\SOFTWARE\Velmora' >/dev/null 2>&1 || vendor_key_existed=0
if [ -n "$(reg_value "$session_key" PendingFileRenameOperations)" ]; then
  pending_saved=$scratch/pending.reg
  "$wine" regedit /E "$(winpath "$pending_saved")" \
    'HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager' >/dev/null 2>&1 ||
    fail "cannot save the boot-time requests waiting already"
fi

# The batches go to a Startup folder of the test's own: wine's is the
# prefix's, and a batch left there would be the user's.
startup=$scratch/Startup
mkdir -p "$startup"
save_registry_values "$folders|Startup"
set_registry_value "$folders" Startup "$(winpath "$startup")" || fail "cannot set Startup"

# Runs the script $2 silently in folder $1 (which holds Kestrova.exe).
install() {
  printf '%s' "$2" | sed 's/$/\r/' >"$1/install.txt"
  rm -f "$host_temp/Kestrova.log"
  local status=0
  (cd "$1" && timeout 120 "$wine" Kestrova.exe /sms:silent) >"$scratch/kestrova.out" 2>&1 ||
    status=$?
  [ $status -eq 0 ] || { cat "$scratch/kestrova.out"; fail "Kestrova.exe ended with status $status"; }
}

# ---------------------------------------------------------------------------
# restart

product=$scratch/product
mkdir -p "$product"
cp "$kestrova_exe" "$product/Kestrova.exe"
# shellcheck disable=SC2016  # the script's own variables
install "$product" 'set APP "Restart Demo"
set NO_UNINSTALL TRUE
set MINE "kept across the restart"
set FLAG yes
_alias WHERE "SOFTWARE\Velmora\Restart Demo"
setreg -lm WHERE Before once
if $FLAG == yes
  restart step2
  setreg -lm WHERE InBlock $RESTARTED
endif
setreg -lm WHERE Mine $MINE
setreg -lm WHERE Restarted $RESTARTED
'
log=$host_temp/Kestrova.log
grep -qF 'SCHED RESTART "step2"' "$log" || fail "the log does not show the restart scheduled"
grep -qF "The installation procedure has been suspended." "$log" || fail "no suspension report"
[ "$(reg_value "$demo_key" Before)" = "REG_SZ once" ] || fail "the line before the restart did not run"
[ -z "$(reg_value "$demo_key" Mine)" ] || fail "a line after the restart ran in the first run"
environment=$product/__restart_env__.tmp
[ -f "$environment" ] || fail "no environment file beside the script"
for line in 'set "MINE" "kept across the restart"' 'set "RESTARTED" "step2"' \
            '_alias "WHERE" "SOFTWARE\Velmora\Restart Demo"'; do
  grep -qxF "$line" "$environment" || { cat "$environment"; fail "the environment file lacks: $line"; }
done
batches=("$startup"/ks_rename_*.bat)
if [ ${#batches[@]} -ne 1 ] || [ ! -f "${batches[0]}" ]; then
  fail "not one rename batch in the Startup folder"
fi
batch=${batches[0]}
batch_win=$(winpath "$startup")\\$(basename "$batch")
product_win=$(winpath "$product")
want=$(printf '%s\n' 'echo off' 'echo.Complete Installation Of Restart Demo...' 'Z:' \
  "cd \"$product_win\"" 'echo.restarting Kestrova...' \
  "\"$product_win\\Kestrova.exe\" -rstep2\$/sms:silent\$install.txt" \
  'echo.Kestrova completed after restart' 'echo.' 'echo.Installation Of Restart Demo Is Complete' \
  'pause' 'echo.task completed successfully' 'echo.subsequent error messages can be ignored...' \
  "del \"$batch_win\"")
if [ "$(cat "$batch")" != "$want" ]; then
  say "the batch:"; cat "$batch"; say "wanted:"; printf '%s\n' "$want"
  fail "the rename batch is not as it must be"
fi
say "restart step2 suspended the run: the environment file and the rename batch are as they must be"

# The logon's part, by wine's command interpreter: the batch starts the
# interpreter again, which goes on after the restart line.
rm -f "$host_temp/Kestrova.log"
status=0
(cd "$scratch" && timeout 120 "$wine" cmd /c "$batch_win" </dev/null) >"$scratch/batch.out" 2>&1 ||
  status=$?
[ $status -eq 0 ] || { cat "$scratch/batch.out"; fail "the batch ended with status $status"; }
grep -qF "INITIATING RESTART" "$log" || fail "the restarted run did not find its restart line"
[ "$(reg_value "$demo_key" InBlock)" = "REG_SZ step2" ] || fail "InBlock is '$(reg_value "$demo_key" InBlock)'"
[ "$(reg_value "$demo_key" Mine)" = "REG_SZ kept across the restart" ] ||
  fail "Mine is '$(reg_value "$demo_key" Mine)'"
[ "$(reg_value "$demo_key" Restarted)" = "REG_SZ step2" ] || fail "RESTARTED was not step2"
[ ! -e "$environment" ] || fail "the environment file is left"
[ ! -e "$batch" ] || fail "the batch did not delete itself"
say "the batch resumed the run after its restart line and deleted itself"

# ---------------------------------------------------------------------------
# in use

app="$scratch/Busy App"
mkdir -p "$app" "$scratch/busy"
cp "$kestrova_exe" "$scratch/busy/Kestrova.exe"
library="$app/Long Library.dll"
printf 'old library' >"$library"
touch -d '2000-01-01' "$library"
printf 'new library' >"$scratch/busy/Long Library.dll"
library_win=$(winpath "$library")
"$wine" "$hold_exe" "$library_win" "$(winpath "$scratch/release")" 120 >"$scratch/hold.out" 2>&1 &
background_pid=$!
for _ in $(seq 1 300); do
  grep -q holding "$scratch/hold.out" 2>/dev/null && break
  kill -0 "$background_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q holding "$scratch/hold.out" || { cat "$scratch/hold.out"; fail "hold_file.exe does not hold the library"; }
"$wine" reg delete "$session_key" /v PendingFileRenameOperations /f >/dev/null 2>&1
install "$scratch/busy" "set APP \"Busy Demo\"
set NO_UNINSTALL TRUE
set HOME \"$(winpath "$app")\"
copy \"Long Library.dll\" \"$library_win\"
setreg -lm \"SOFTWARE\\Velmora\\Busy Demo\" Reboot \$NEEDS_RE_BOOT
"
touch "$scratch/release"
wait_background 30 || fail "hold_file.exe did not let the library go"
[ "$(reg_value "$busy_key" Reboot)" = "REG_SZ TRUE" ] ||
  fail "NEEDS_RE_BOOT was '$(reg_value "$busy_key" Reboot)', not TRUE"
[ "$(cat "$library")" = "old library" ] || fail "the library in use was changed now"
copies=("$app"/*.tmp)
if [ ${#copies[@]} -ne 1 ] || [ ! -f "${copies[0]}" ]; then
  fail "not one waiting copy beside the library"
fi
[ "$(cat "${copies[0]}")" = "new library" ] || fail "the waiting copy is not the new library"
copy_win=$(winpath "$app")\\$(basename "${copies[0]}")
grep -qF "# OS MoveFileEx <$copy_win> --> <$library_win> OK" "$log" || fail "the log does not show the move"
# The requests, in the order made: delete the library, move the copy onto
# it, delete the copy. (reg shows the strings joined by \0.)
pending=$(reg_value "$session_key" PendingFileRenameOperations)
want="REG_MULTI_SZ \\??\\$library_win\\0\\0\\??\\$copy_win\\0\\??\\$library_win\\0\\??\\$copy_win\\0"
[ "$pending" = "$want" ] || fail "the boot-time requests are '$pending', not '$want'"
say "the library in use waits for the next start: three requests in order, NEEDS_RE_BOOT is TRUE"
say "PASSED"
exit 0
