#!/usr/bin/env bash
# The win64 builder under wine64, checked from both sides.
#
#   cratex_under_wine.sh [LINUX_BUILD] [WIN64_BUILD]   (build/linux build/win64)
#
# Cratex.exe runs a builder script that opens a feedback window titled
# "Cratex wine test", packs a few files (one in a sub-folder) compressed,
# and then holds at a "!!" line (the wait_for_file helper) until this test
# has found the window on the display, checked its title and taken a
# screenshot. The builder must then end with exit status 0, and the Linux
# crx must list the archive and extract exactly the original bytes. Two
# more builds of one script with the same SOURCE_DATE_EPOCH must give
# identical archives, and the Linux builder must make the same bytes from
# the same script, files and stub.
#
# Needs DISPLAY (an X server such as Xvfb), wine64, xdotool, xwd and
# ImageMagick's convert. WINEPREFIX is <WIN64_BUILD>/wineprefix.
# Exit status: 0 passed, 1 failed, 77 skipped (something needed is missing).
set -uo pipefail

linux_build=$(realpath -m "${1:-build/linux}")
win_build=$(realpath -m "${2:-build/win64}")
title="Cratex wine test"

say() { printf 'cratex_under_wine: %s\n' "$*"; }
# shellcheck source=wine_test_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_test_lib.sh"

cratex_exe=$win_build/src/programs/Cratex.exe
crx=$linux_build/src/programs/crx
linux_cratex=$linux_build/src/programs/Cratex
machine_tool=$linux_build/src/programs/crxmachine
need_wine
[ -f "$cratex_exe" ] || skip "no win64 builder at $cratex_exe"
for program in "$crx" "$linux_cratex" "$machine_tool"; do
  [ -x "$program" ] || skip "no Linux program $program"
done
need_display_and_tools xdotool xwd convert cmp sha256sum

use_wine_of_build "$win_build"
start_wine_test cratex-wine
stub_key='HKLM\SOFTWARE\Velmora\Cratex\1.00'

# A builder ended by force may leave its wait helper running: let it go
# before its folder disappears.
# shellcheck disable=SC2317  # called on the way out
extra_cleanup() {
  if [ -d "$scratch" ] && [ ! -e "$scratch/release" ]; then
    touch "$scratch/release"
    sleep 1
  fi
}

# The builder's own reports: it runs silently, so errors go to the daily
# error log in wine's TEMP folder.
on_failure() {
  find "$WINEPREFIX/drive_c" -name 'Cratex_*.err' -newer "$scratch/started" 2>/dev/null |
    while read -r err; do say "error log $err:"; cat "$err"; done
}

touch "$scratch/started"
boot_wine_prefix

# The wait helper: built by the win64 build, or compiled here when the
# build does not have it yet.
helper=$win_build/tests/wine/wait_for_file.exe
if [ ! -f "$helper" ]; then
  compiler=x86_64-w64-mingw32-g++-posix
  command -v "$compiler" >/dev/null 2>&1 || skip "no wait_for_file.exe and no $compiler"
  helper=$scratch/wait_for_file.exe
  "$compiler" -std=c++20 -O2 -static "$(dirname "$0")/wait_for_file.cpp" -o "$helper" ||
    fail "could not compile the wait helper"
fi

# The "!!" line hands its text to cmd.exe as it is, unquoted.
case "$helper $scratch" in
  *' '*' '*) skip "the wait helper's or the scratch folder's path holds a space" ;;
esac

# The stub the builder copies in front of the archive: the real win64 one
# when it is built, else a stand-in of the full stub's exact size.
stub=$(find "$win_build" -name Cratex.dat -type f -size 217088c 2>/dev/null | head -n 1)
if [ -n "$stub" ]; then
  say "stub: the real win64 stub $stub"
else
  stub=$scratch/Cratex.dat
  head -c 217088 /dev/zero >"$stub"
  say "stub: a stand-in of 217,088 bytes (no built win64 Cratex.dat)"
fi
save_registry_values "$stub_key|datafile"
set_registry_value "$stub_key" datafile "$(winpath "$stub")" ||
  fail "could not set $stub_key datafile"

# What to pack: files of a few sizes, one empty, one in a sub-folder, and
# one that compresses well.
src=$scratch/payload
mkdir -p "$src/docs"
printf 'Hello from the wine test.\r\n' >"$src/hello.txt"
head -c 70000 /dev/urandom >"$src/random.bin"
: >"$src/empty.txt"
for i in $(seq 1 400); do echo "line $i of a manual that repeats itself"; done >"$src/docs/manual.txt"

# Paths in the script are relative: the builder starts in the scratch
# folder (wine shows it as Z:\...).
cat >"$scratch/feedback.crs" <<EOF
# Packed under wine while the test looks at the feedback window.
!($title
+Z
>wine-test.exe
payload
!!$(winpath "$helper") $(winpath "$scratch/release") 60
EOF
cat >"$scratch/repro.crs" <<'EOF'
# Built twice with one SOURCE_DATE_EPOCH: the archives must be identical.
+Z
>repro.exe
payload
EOF

# Runs the builder on a script in the scratch folder in the background.
start_cratex() {
  (cd "$scratch" && exec "$wine" "$cratex_exe" "$1") >"$scratch/cratex.out" 2>&1 &
  background_pid=$!
}

# Waits up to $1 seconds for the builder started last; its exit status.
wait_cratex() {
  if ! wait_background "$1"; then
    # Most often a message box waits for an answer: keep the screen.
    local stuck=$shots/cratex-timeout.png
    screenshot "$stuck"
    say "Cratex.exe still running after $1 s: ending it (screen: $stuck)"
    kill_background
    return 124
  fi
  return "$background_status"
}

say "running Cratex.exe on feedback.crs (display $DISPLAY)"
start_cratex feedback.crs
wait_for_window "$title"
shot=$shots/cratex-feedback.png
screenshot "$shot" || say "could not take a screenshot"
[ -n "$window" ] || fail "no window titled '$title' appeared within 60 s (screen: $shot)"
name=$(xdotool getwindowname "$window" 2>/dev/null)
[ "$name" = "$title" ] || fail "window $window is titled '$name', not '$title'"
say "found the feedback window '$name' (screenshot: $shot)"

touch "$scratch/release"
status=0
wait_cratex 60 || status=$?
[ $status -eq 0 ] || { cat "$scratch/cratex.out"; fail "Cratex.exe ended with status $status"; }
[ -f "$scratch/wine-test.exe" ] || fail "Cratex.exe made no archive"
[ "$(stat -c %s "$scratch/wine-test.exe")" -gt 217088 ] || fail "the archive holds nothing"
say "Cratex.exe built wine-test.exe and ended with status 0"

# The Linux programs read what the Windows builder wrote.
export CRX_MACHINE=$scratch/machine
list=$("$crx" list "$scratch/wine-test.exe") || fail "crx list failed"
printf '%s\n' "$list"
for member in 'payload\hello.txt' 'payload\random.bin' 'payload\empty.txt' 'payload\docs\manual.txt'; do
  grep -qF "$member" <<<"$list" || fail "crx list does not show $member"
done
"$crx" extract "$scratch/wine-test.exe" -o "$scratch/out" >/dev/null || fail "crx extract failed"
# The members keep the folder name the script gave, payload\.
for file in hello.txt random.bin empty.txt docs/manual.txt; do
  [ -f "$scratch/out/payload/$file" ] || fail "payload/$file was not extracted"
  cmp -s "$src/$file" "$scratch/out/payload/$file" || fail "payload/$file differs from the original"
done
diff -r "$src" "$scratch/out/payload" >/dev/null || fail "the extracted tree differs from the original"
say "crx extracted every file byte for byte"

# Reproducible archives under wine: SOURCE_DATE_EPOCH reaches the Windows
# program through the environment.
sums=()
for round in 1 2; do
  SOURCE_DATE_EPOCH=1700000000 start_cratex repro.crs
  status=0
  wait_cratex 60 || status=$?
  [ $status -eq 0 ] || { cat "$scratch/cratex.out"; fail "reproducible build $round ended with status $status"; }
  mv "$scratch/repro.exe" "$scratch/repro-$round.exe" || fail "build $round made no archive"
  sums+=("$(sha256sum "$scratch/repro-$round.exe" | cut -d' ' -f1)")
  [ $round -eq 1 ] && sleep 1.1  # the clock must move for a difference to show
done
[ "${sums[0]}" = "${sums[1]}" ] || fail "two builds with one SOURCE_DATE_EPOCH differ: ${sums[*]}"
created=$("$crx" info "$scratch/repro-1.exe" | sed -n 's/^created: *//p')
[ "$created" = "2023-11-14 22:13:20.000 UTC" ] ||
  fail "the archive records '$created', not the SOURCE_DATE_EPOCH time"
say "two builds with SOURCE_DATE_EPOCH=1700000000 are identical (sha256 ${sums[0]})"

# The same script on the Linux builder, with the same stub (the emulated
# machine sees the host's files on Z: as wine does): both builders list
# folders in name order, so the archives must match byte for byte.
"$machine_tool" reg add "$stub_key" /v datafile /t REG_SZ /d "$(winpath "$stub")" >/dev/null ||
  fail "could not set the stub in the Linux machine's registry"
(cd "$scratch" && SOURCE_DATE_EPOCH=1700000000 "$linux_cratex" repro.crs) >"$scratch/linux.out" 2>&1 ||
  { cat "$scratch/linux.out"; fail "the Linux builder failed on repro.crs"; }
linux_sum=$(sha256sum "$scratch/repro.exe" | cut -d' ' -f1)
[ "$linux_sum" = "${sums[0]}" ] ||
  fail "the Linux builder's archive differs from the Windows builder's: $linux_sum"
say "the Linux builder made the same archive"

say "PASSED"
exit 0
