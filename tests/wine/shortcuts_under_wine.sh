#!/usr/bin/env bash
# Shortcuts made by the win64 Kestrova.exe under wine64 with the real shell
# link object, read back on the Linux side by lnkinfo.
#
#   shortcuts_under_wine.sh [WIN64_BUILD]        (build/win64)
#
# The current user's Programs and Desktop shell folders are pointed at
# folders of the test's own. A silent run of a script with `progmenu
# app.exe "Acme Tools\App"` and `desktop app.exe "The App"` (a relative
# target, in the folder the run starts in) must end with status 0 and
# leave two links whose local path, working folder and description lnkinfo
# reads as the commands asked. A second run with `rmprogmenu` and
# `rmdesktop` must remove both links and the emptied group folder, and
# leave the Programs folder.
#
# Needs wine64, DISPLAY (Xvfb) and lnkinfo. WINEPREFIX is
# <WIN64_BUILD>/wineprefix; the shell folder values are put back on the
# way out.
# Exit status: 0 passed, 1 failed, 77 skipped (something needed is missing).
set -uo pipefail

win_build=$(realpath -m "${1:-build/win64}")

say() { printf 'shortcuts_under_wine: %s\n' "$*"; }
# shellcheck source=wine_test_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_test_lib.sh"

kestrova_exe=$win_build/src/programs/Kestrova.exe
need_wine
need_built "$kestrova_exe"
need_display_and_tools lnkinfo

use_wine_of_build "$win_build"
unset CRX_ANSWERS CRX_RECORD
start_wine_test crx-shortcuts
boot_wine_prefix

host_temp=
on_failure() {
  if [ -n "$host_temp" ] && [ -f "$host_temp/Kestrova.log" ]; then
    say "Kestrova.log:"
    cat "$host_temp/Kestrova.log"
  fi
}

host_temp=$(wine_temp_host)

# The links go to folders of the test's own; the shell folder values are
# put back on the way out.
# shellcheck disable=SC2317  # called on the way out
extra_cleanup() { restore_shell_folders; }
programs="$scratch/Start Menu/Programs"
desktop=$scratch/Desktop
point_shell_folders "$programs" "$desktop"
pkg=$scratch/pkg
mkdir -p "$pkg"
printf 'program' >"$pkg/app.exe"

# Runs the script $1 silently in the package folder; fails unless it ends
# with status 0.
run_script() {
  printf '%s' "$1" >"$pkg/install.txt"
  local status=0
  (cd "$pkg" && timeout 120 "$wine" "$kestrova_exe" /sms:silent install.txt) \
    >"$scratch/kestrova.out" 2>&1 || status=$?
  [ $status -eq 0 ] || { cat "$scratch/kestrova.out"; fail "Kestrova.exe ended with status $status"; }
}

# Checks one field of lnkinfo's report on link $1.
expect_field() {
  local got
  got=$(lnkinfo "$1" 2>/dev/null | tr -d '\r' | sed -n "s/^[[:space:]]*$2[[:space:]]*: //p" | head -n 1)
  [ "$got" = "$3" ] || { lnkinfo "$1"; fail "$(basename "$1"): $2 is '$got', not '$3'"; }
}

run_script $'set NO_UNINSTALL TRUE\r\nprogmenu app.exe "Acme Tools\\App"\r\ndesktop app.exe "The App"\r\n'
menu_link="$programs/Acme Tools/App.LNK"
desktop_link=$desktop/app.LNK
[ -f "$menu_link" ] || fail "no link $menu_link"
[ -f "$desktop_link" ] || fail "no link $desktop_link"
for link in "$menu_link" "$desktop_link"; do
  expect_field "$link" 'Local path' "$(winpath "$pkg/app.exe")"
  expect_field "$link" 'Working directory' "$(winpath "$pkg")"
done
expect_field "$menu_link" 'Description' 'Shortcut to app'
expect_field "$desktop_link" 'Description' 'The App'
say "the shell's links name the target, its folder and the descriptions"

run_script $'set NO_UNINSTALL TRUE\r\nrmprogmenu "Acme Tools\\App"\r\nrmdesktop app\r\n'
[ ! -e "$menu_link" ] || fail "rmprogmenu left $menu_link"
[ ! -e "$programs/Acme Tools" ] || fail "rmprogmenu left the emptied group folder"
[ -d "$programs" ] || fail "rmprogmenu removed the Programs folder"
[ ! -e "$desktop_link" ] || fail "rmdesktop left $desktop_link"
say "PASSED"
