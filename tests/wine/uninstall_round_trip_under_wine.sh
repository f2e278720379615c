#!/usr/bin/env bash
# An installation made by the win64 Kestrova.exe under wine64 and removed
# again by the command it registered, against wine's real registry, shell
# and boot-time moves.
#
#   uninstall_round_trip_under_wine.sh [WIN64_BUILD]        (build/win64)
#
# The installation (silent, from a product folder): files under a HOME
# with blanks in its path, a registry value, a self-registering server
# (the test server of tests/interpreter), a program-menu and a desktop
# shortcut, an association, a new shared file and one that another
# application shares already. Then the registered UninstallString runs
# silently with a response file answering oktouninstall=TRUE. Afterwards
# the registry's text export of HKLM, HKCU and HKCR must be the one made
# before the installation but for the boot-time requests
# (PendingFileRenameOperations), which must delete the running
# interpreter, the starter and their folders; no shortcut, association or
# server registration may be left, HOME may hold only those two programs,
# the new shared file must be gone and the other one must keep its file
# and its count.
#
# Needs wine64, DISPLAY (Xvfb) and iconv. WINEPREFIX is
# <WIN64_BUILD>/wineprefix. What the run leaves in the prefix (files,
# keys, shell folder values, the boot-time requests) is put back on the
# way out.
# Exit status: 0 passed, 1 failed, 77 skipped (something needed is missing).
set -uo pipefail

win_build=$(realpath -m "${1:-build/win64}")

say() { printf 'uninstall_round_trip_under_wine: %s\n' "$*"; }
# shellcheck source=wine_test_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_test_lib.sh"

programs_dir=$win_build/src/programs
kestrova_exe=$programs_dir/Kestrova.exe
unsetup_exe=$programs_dir/unsetup.exe
server_dll=$win_build/tests/interpreter/crx_test_server.dll
need_wine
need_built "$kestrova_exe" "$unsetup_exe" "$server_dll"
need_display_and_tools iconv

use_wine_of_build "$win_build"
unset CRX_ANSWERS CRX_RECORD
start_wine_test crx-round-trip
boot_wine_prefix

home_win='C:\Program Files\Velmora\Round Trip'
product_key='HKLM\SOFTWARE\Velmora\Round Trip'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Round Trip'
shared_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDlls'
session_key='HKLM\System\CurrentControlSet\Control\Session Manager'
host_temp=
home_host=
vendor_existed=1
sysdir_host=
pending_saved=
vendor_key_existed=1

# shellcheck disable=SC2317  # called on the way out
extra_cleanup() {
  if [ -n "$home_host" ]; then
    rm -rf "$home_host"
    [ "$vendor_existed" = 1 ] || rmdir "$(dirname "$home_host")" 2>/dev/null
  fi
  if [ -n "$sysdir_host" ]; then rm -f "$sysdir_host/rtshared.txt" "$sysdir_host/rtcommon.dll"; fi
  "$wine" reg delete "$product_key" /f >/dev/null 2>&1
  # The vendor's key when the installation made it and nothing else is in it.
  # shellcheck disable=SC1003  # back-slashes of a key path
  if [ "$vendor_key_existed" = 0 ] &&
     ! "$wine" reg query 'HKLM\SOFTWARE\Velmora' 2>/dev/null | tr -d '\r' | grep -qi '^HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\'; then
    "$wine" reg delete 'HKLM\SOFTWARE\Velmora' /f >/dev/null 2>&1
  fi
  "$wine" reg delete "$uninstall_key" /f >/dev/null 2>&1
  "$wine" reg delete 'HKCR\.rtx' /f >/dev/null 2>&1
  "$wine" reg delete 'HKCR\Velmora.RoundTrip' /f >/dev/null 2>&1
  "$wine" reg delete 'HKCR\CrxTestServer.Object' /f >/dev/null 2>&1
  "$wine" reg delete 'HKCR\CLSID\{6B1C2A10-7E44-4C1D-9F0B-3A5D2E8C4F71}' /f >/dev/null 2>&1
  "$wine" reg delete "$shared_key" /v 'C:\windows\system32\rtshared.txt' /f >/dev/null 2>&1
  "$wine" reg delete "$shared_key" /v 'C:\windows\system32\rtcommon.dll' /f >/dev/null 2>&1
  # The boot-time requests of the run must not be carried out by a later
  # start of the prefix: the value is put back as it was.
  "$wine" reg delete "$session_key" /v PendingFileRenameOperations /f >/dev/null 2>&1
  if [ -n "$pending_saved" ]; then "$wine" regedit /S "$(winpath "$pending_saved")" >/dev/null 2>&1; fi
  restore_shell_folders
}

# shellcheck disable=SC2317  # called by fail
on_failure() {
  if [ -n "$host_temp" ] && [ -f "$host_temp/Kestrova.log" ]; then
    say "the end of Kestrova.log:"
    tail -60 "$host_temp/Kestrova.log"
  fi
}

host_temp=$(wine_temp_host)
home_host=$(host_path_of "$home_win")
sysdir_host=$(host_path_of 'C:\windows\system32')
if [ ! -d "$host_temp" ] || [ -z "$home_host" ] || [ ! -d "$sysdir_host" ]; then
  fail "wine cannot name TEMP, HOME or the system folder"
fi
[ ! -e "$home_host" ] || fail "$home_host is in the way (left by an earlier run?)"
[ -e "$(dirname "$home_host")" ] || vendor_existed=0
"$wine" reg query 'HKLM\SOFTWARE\Velmora' >/dev/null 2>&1 || vendor_key_existed=0
for f in rtshared.txt rtcommon.dll; do
  [ ! -e "$sysdir_host/$f" ] || fail "$sysdir_host/$f is in the way"
done
if [ -n "$(reg_value "$session_key" PendingFileRenameOperations)" ]; then
  pending_saved=$scratch/pending.reg
  "$wine" regedit /E "$(winpath "$pending_saved")" \
    'HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager' >/dev/null 2>&1 ||
    fail "cannot save the boot-time requests waiting already"
fi

# The shell folders point at the test's own (the prefix's desktop may be
# the host user's); the shell rewrites Shell Folders from User Shell
# Folders, so both are set. They are set before the first export.
menu="$scratch/Start Menu/Programs"
desktop="$scratch/Desk Top"
point_shell_folders "$menu" "$desktop"

# Another application's shared file, counted once already.
printf 'the older common library' >"$sysdir_host/rtcommon.dll"
touch -d '2001-01-01' "$sysdir_host/rtcommon.dll"
"$wine" reg add "$shared_key" /v 'C:\windows\system32\rtcommon.dll' /t REG_DWORD /d 1 /f \
  >/dev/null 2>&1 || fail "cannot count the common library"

product=$scratch/product
mkdir -p "$product"
cp "$kestrova_exe" "$product/Kestrova.exe"
cp "$unsetup_exe" "$product/unsetup.exe"
cp "$server_dll" "$product/rtserver.dll"
printf 'read me\r\n' >"$product/readme.txt"
printf 'shared text\r\n' >"$product/rtshared.txt"
printf 'the newer common library' >"$product/rtcommon.dll"
cat >"$product/install.txt" <<'EOF'
set VENDOR Velmora
set APP "Round Trip"
set VER 1.0
set HOME "C:\Program Files\Velmora\Round Trip"
oktoinstall
copy readme.txt "$HOME\readme.txt"
copy rtserver.dll "$HOME\bin\rtserver.dll"
copy -s rtshared.txt "$SYSDIR\rtshared.txt"
copy -s rtcommon.dll "$SYSDIR\rtcommon.dll"
onuninstall 'remove "$SYSDIR\rtshared.txt"'
onuninstall 'remove "$SYSDIR\rtcommon.dll"'
setreg -lm "SOFTWARE\$VENDOR\$APP\$VER" Home $HOME
regdll "$HOME\bin\rtserver.dll"
progmenu "$HOME\readme.txt" "Velmora Round Trip\Read Me"
desktop "$HOME\readme.txt" "Round trip notes"
associate rtx "$HOME\readme.txt" Velmora.RoundTrip "Round trip text"
EOF
sed -i 's/$/\r/' "$product/install.txt"

# Wine's display driver writes the display's state into the registry when
# the first window of a session opens: a run that changes nothing opens
# one before the first export.
mkdir -p "$scratch/warm"
printf 'set NO_UNINSTALL TRUE\r\n' >"$scratch/warm/install.txt"
(cd "$scratch/warm" && timeout 120 "$wine" "$kestrova_exe" /sms:silent) >/dev/null 2>&1 ||
  fail "Kestrova.exe could not run a script that does nothing"
export_registry "$scratch/before.txt"
say "exported the registry before the installation ($(wc -l <"$scratch/before.txt") lines)"

rm -f "$host_temp/Kestrova.log"
status=0
(cd "$product" && timeout 120 "$wine" Kestrova.exe /sms:silent) >"$scratch/install.out" 2>&1 ||
  status=$?
[ $status -eq 0 ] || { cat "$scratch/install.out"; fail "the installation ended with status $status"; }
grep -qF "Installation Completed" "$host_temp/Kestrova.log" || fail "the installation did not complete"
menu_link="$menu/Velmora Round Trip/Read Me.LNK"
desktop_link="$desktop/readme.LNK"
[ -f "$menu_link" ] || fail "no menu link $menu_link"
[ -f "$desktop_link" ] || fail "no desktop link $desktop_link"
[ "$(reg_default 'HKCR\.rtx')" = "REG_SZ Velmora.RoundTrip" ] ||
  fail "the association is '$(reg_default 'HKCR\.rtx')'"
[ -n "$(reg_default 'HKCR\CrxTestServer.Object\CLSID')" ] ||
  fail "the server did not register its component"
[ "$(reg_value "$shared_key" 'C:\windows\system32\rtcommon.dll')" = "REG_DWORD 0x2" ] ||
  fail "the common library's count is '$(reg_value "$shared_key" 'C:\windows\system32\rtcommon.dll')', not 2"
command=$(reg_value "$uninstall_key" UninstallString)
want="REG_SZ \"$home_win\\uninstall\\unsetup.exe\" \"$home_win\\uninstall\""
[ "$command" = "$want" ] || fail "UninstallString is '$command', not '$want'"
say "installed: files, links, association, server, shared files and the uninstall command"

# The registered command, as the system's list of programs runs it, with
# a response file that agrees to the removal.
command=${command#REG_SZ }
starter=${command%%\" \"*}
starter=${starter#\"}
folder=${command#*\" \"}
folder=${folder%\"}
printf '[Kestrova]\r\noktouninstall=TRUE\r\n' >"$scratch/answers.ini"
rm -f "$host_temp/Kestrova.log"
status=0
(cd "$scratch" && timeout 120 "$wine" "$starter" "/sms:$(winpath "$scratch/answers.ini")" "$folder") \
  >"$scratch/uninstall.out" 2>&1 || status=$?
[ $status -eq 0 ] || { cat "$scratch/uninstall.out"; fail "the uninstall command ended with status $status"; }
log=$host_temp/Kestrova.log
grep -qF "SMSMODE; response to 'oktouninstall' = 'TRUE'" "$log" || fail "the response file was not read"
grep -qF "Uninstall Procedure Completed" "$log" ||
  fail "the removal did not end with the report that a reboot completes it"
say "the registered command removed the installation silently"

# What is left of HOME: the running interpreter and the starter only.
left=$(cd "$home_host" 2>/dev/null && find . -type f | LC_ALL=C sort | tr '\n' ' ')
[ "$left" = "./uninstall/Kestrova.exe ./uninstall/unsetup.exe " ] ||
  fail "HOME holds '$left', not just the interpreter and the starter"
[ ! -e "$menu_link" ] || fail "the menu link is left"
[ ! -e "$menu/Velmora Round Trip" ] || fail "the emptied menu group is left"
[ -d "$menu" ] || fail "the Programs folder itself was removed"
[ ! -e "$desktop_link" ] || fail "the desktop link is left"
[ ! -e "$sysdir_host/rtshared.txt" ] || fail "the shared file no one else uses is left"
[ -f "$sysdir_host/rtcommon.dll" ] || fail "the file another application shares was removed"
say "HOME holds only the programs that ran; no link, the shared files as they should be"

# The boot-time requests: each path deleted at the next start (an empty
# destination), the programs before their folders.
pending=$(reg_value "$session_key" PendingFileRenameOperations)
# reg shows the strings joined by \0; the last has no empty one after it.
pending="${pending#REG_MULTI_SZ }\\0"
position=0
for path in "$home_win\\uninstall\\Kestrova.exe" "$home_win\\uninstall\\unsetup.exe" \
            "$home_win\\uninstall" "$home_win"; do
  entry="\\??\\$path\\0\\0"
  rest=${pending:$position}
  [[ "$rest" == *"$entry"* ]] || fail "no deletion at the next start of '$path' (after the earlier ones) in '$pending'"
  before_entry=${rest%%"$entry"*}
  position=$((position + ${#before_entry} + ${#entry}))
done
say "the interpreter, the starter and their folders wait for the next start"

export_registry "$scratch/after.txt"
# The only changes the removal means to leave: the boot-time requests,
# and the vendor's key with the default value it was made with, when the
# installation made it (the uninstall script removes the application's
# key below it). The shared file another application uses keeps its count.
# shellcheck disable=SC1003  # back-slashes of key paths
registry_changes "$scratch/before.txt" "$scratch/after.txt" |
  grep -vF '[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager] "PendingFileRenameOperations"=' |
  grep -vxiF -e $'\t[HKEY_LOCAL_MACHINE\\Software\\Velmora]' \
    -e $'\t[HKEY_LOCAL_MACHINE\\Software\\Velmora] @="velmora sub key entries"' \
  >"$scratch/changes.txt"
if [ -s "$scratch/changes.txt" ]; then
  say "registry lines only before (no indent) or only after (indented):"
  head -40 "$scratch/changes.txt"
  fail "the registry differs from the one before the installation"
fi
say "the registry is as it was before the installation, but for the boot-time requests"
say "PASSED"
exit 0
