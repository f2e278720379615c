# shellcheck shell=bash disable=SC2034  # sets variables for the tests that source it
# What the wine tests share: the skip checks, wine's environment and prefix,
# a scratch folder, registry values set for the test and put back after,
# one program run in the background, windows found by their name on the X
# display and screenshots of it.
#
# A test defines say (its own output prefix) before it sources this file,
# and may define two hooks:
#   on_failure     prints what helps to understand a failure (called by fail)
#   extra_cleanup  removes what the test left outside its scratch folder
# Exit status of the tests: 0 passed, 1 failed, 77 skipped.
#
# On every way out, in this order: the background program is ended,
# extra_cleanup runs, the registry values are put back and the scratch
# folder is removed.

wine=/usr/lib/wine/wine64

skip() { say "SKIPPED: $*"; exit 77; }

fail() {
  say "FAILED: $*"
  if declare -F on_failure >/dev/null; then on_failure; fi
  exit 1
}

# The Windows path of a host path: wine's Z: drive is the host's root.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

need_wine() {
  [ -x "$wine" ] || skip "$wine is not installed"
}

# Skips unless every file given is there.
need_built() {
  local file
  for file in "$@"; do
    [ -f "$file" ] || skip "$file is not built"
  done
}

# Skips without an X display or without one of the tools given.
need_display_and_tools() {
  [ -n "${DISPLAY:-}" ] || skip "DISPLAY is not set (start Xvfb first)"
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
  done
}

# Wine's settings for the win64 build $1: its own prefix, no debug output,
# no downloads of .NET or the HTML engine. Screenshots go to $1/wine-shots.
use_wine_of_build() {
  export WINEPREFIX=$1/wineprefix
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
  shots=$1/wine-shots
}

# ---------------------------------------------------------------------------
# The scratch folder and the way out.

scratch=
background_pid=
background_status=
saved_settings=()
declare -A old_value had_value

wine_test_cleanup() {
  kill_background
  if declare -F extra_cleanup >/dev/null; then extra_cleanup; fi
  restore_registry
  if [ -n "$scratch" ]; then rm -rf "$scratch"; fi
}

# Makes the scratch folder (named after $1) and sets up the way out.
start_wine_test() {
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX") || { say "FAILED: no scratch folder"; exit 1; }
  trap wine_test_cleanup EXIT
  trap 'exit 1' INT TERM
}

# Makes the wine prefix when it does not exist yet. A prefix whose
# wineserver still runs may not have written system.reg: its system folder
# shows it is there.
boot_wine_prefix() {
  mkdir -p "$WINEPREFIX"
  if [ ! -f "$WINEPREFIX/system.reg" ] && [ ! -d "$WINEPREFIX/drive_c/windows/system32" ]; then
    say "booting the wine prefix $WINEPREFIX"
    "$wine" wineboot -i >/dev/null 2>&1 || fail "wineboot failed"
  fi
}

# ---------------------------------------------------------------------------
# Registry values of wine's registry, each 'KEY|value', that the test will
# change: what they hold now is noted and put back on the way out (a value
# that was not there is deleted again).
save_registry_values() {
  local setting key value old
  for setting in "$@"; do
    key=${setting%|*}
    value=${setting#*|}
    had_value[$setting]=0
    old=$("$wine" reg query "$key" /v "$value" 2>/dev/null |
          sed -n "s/^ *$value *REG_SZ *//p" | tr -d '\r')
    if [ -n "$old" ]; then
      had_value[$setting]=1
      old_value[$setting]=$old
    fi
    saved_settings+=("$setting")
  done
}

# Sets the string value $2 of key $1 to $3.
set_registry_value() {
  "$wine" reg add "$1" /v "$2" /t REG_SZ /d "$3" /f >/dev/null 2>&1
}

restore_registry() {
  local setting key value
  for setting in "${saved_settings[@]}"; do
    key=${setting%|*}
    value=${setting#*|}
    if [ "${had_value[$setting]}" = 1 ]; then
      set_registry_value "$key" "$value" "${old_value[$setting]}"
    else
      "$wine" reg delete "$key" /v "$value" /f >/dev/null 2>&1
    fi
  done
  saved_settings=()
}

# ---------------------------------------------------------------------------
# The one program a test runs in the background: the test starts it with &
# and sets background_pid=$!.

kill_background() {
  if [ -n "$background_pid" ] && kill -0 "$background_pid" 2>/dev/null; then
    kill "$background_pid" 2>/dev/null
    wait "$background_pid" 2>/dev/null
  fi
  background_pid=
}

# Waits up to $1 seconds for the background program to end: true with its
# exit status in background_status when it ended, false (and the program
# still running) when it did not.
wait_background() {
  local ticks=0
  while kill -0 "$background_pid" 2>/dev/null; do
    [ "$ticks" -ge $(($1 * 10)) ] && return 1
    sleep 0.1
    ticks=$((ticks + 1))
  done
  background_status=0
  wait "$background_pid" || background_status=$?
  background_pid=
  return 0
}

# ---------------------------------------------------------------------------
# The X display.

# Waits up to 60 s for a window whose name matches the pattern $1 (as
# xdotool search --name takes it) while the background program runs; its
# id in window, empty when none came.
wait_for_window() {
  window=
  local _
  for _ in $(seq 1 600); do
    window=$(xdotool search --name "$1" 2>/dev/null | head -n 1)
    [ -n "$window" ] && break
    kill -0 "$background_pid" 2>/dev/null || break
    sleep 0.1
  done
}

# Gives window $1 the keyboard.
activate_window() {
  xdotool windowactivate --sync "$1" >/dev/null 2>&1 || xdotool windowfocus "$1" 2>/dev/null
  sleep 0.3
}

# Saves the whole screen as the PNG file $1.
screenshot() {
  mkdir -p "$(dirname "$1")"
  xwd -root -silent | convert xwd:- "$1" 2>/dev/null
}

# ---------------------------------------------------------------------------
# Reading wine's registry and folders back, the current user's shell
# folders pointed at the test's own, and text exports of the registry to
# compare before and after a run.

shell_folders_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'
user_shell_folders_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
shell_folders_pointed=0
declare -A user_folder_type user_folder_data

# A value of wine's registry as "TYPE DATA", empty when missing.
reg_value() {
  "$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$(printf '%s' "$2" | sed 's/[][\\.*^$/]/\\&/g') *\(REG_[A-Z_]*\) *\(.*\)$/\1 \2/p" | head -n 1
}

# The default value of key $1 as "TYPE DATA", empty when missing.
reg_default() {
  "$wine" reg query "$1" /ve 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *(Default) *\(REG_[A-Z_]*\) *\(.*\)$/\1 \2/p' | head -n 1
}

# The host path of the Windows path $1, without a trailing slash; empty
# when wine cannot name it.
host_path_of() {
  local path
  path=$("$wine" winepath -u "$1" 2>/dev/null | tr -d '\r')
  printf '%s' "${path%/}"
}

# The host path of wine's TEMP folder (wine sets TEMP from its own
# settings, whatever this shell has).
wine_temp_host() {
  host_path_of "$("$wine" cmd /c echo '%TEMP%' 2>/dev/null | tr -d '\r')"
}

# Points the current user's Programs and Desktop folders at the host
# folders $1 and $2 (made here). The shell rewrites the Shell Folders
# values from the User Shell Folders ones (REG_EXPAND_SZ) when a link is
# saved, so both are set. The Shell Folders values are put back on the way
# out with the other saved values; the User Shell Folders ones keep their
# type, so extra_cleanup calls restore_shell_folders for them.
point_shell_folders() {
  local name line key
  save_registry_values "$shell_folders_key|Programs" "$shell_folders_key|Desktop"
  for name in Programs Desktop; do
    line=$("$wine" reg query "$user_shell_folders_key" /v "$name" 2>/dev/null | tr -d '\r' |
           sed -n "s/^ *$name *\(REG_[A-Z_]*\) *\(.*\)$/\1|\2/p" | head -n 1)
    user_folder_type[$name]=${line%%|*}
    user_folder_data[$name]=${line#*|}
  done
  shell_folders_pointed=1
  mkdir -p "$1" "$2"
  for key in "$shell_folders_key" "$user_shell_folders_key"; do
    set_registry_value "$key" Programs "$(winpath "$1")" || fail "cannot set Programs"
    set_registry_value "$key" Desktop "$(winpath "$2")" || fail "cannot set Desktop"
  done
}

# Puts the User Shell Folders values point_shell_folders changed back as
# they were, with their type (a value that was not there is deleted).
restore_shell_folders() {
  local name
  [ "$shell_folders_pointed" = 1 ] || return 0
  for name in Programs Desktop; do
    if [ -n "${user_folder_type[$name]:-}" ]; then
      "$wine" reg add "$user_shell_folders_key" /v "$name" /t "${user_folder_type[$name]}" \
        /d "${user_folder_data[$name]}" /f >/dev/null 2>&1
    else
      "$wine" reg delete "$user_shell_folders_key" /v "$name" /f >/dev/null 2>&1
    fi
  done
  shell_folders_pointed=0
}

# The registry's text export of HKLM, HKCU and HKCR into the file $1, one
# line per value, each headed by its key ("[key] name=data", and "[key]"
# for the key itself), sorted: two exports compare line by line.
export_registry() {
  local hive out=$1
  : >"$out"
  for hive in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER HKEY_CLASSES_ROOT; do
    rm -f "$scratch/export.reg"
    "$wine" regedit /E "$(winpath "$scratch/export.reg")" "$hive" >/dev/null 2>&1 ||
      fail "regedit could not export $hive"
    # UTF-16 text; values continued on the next line end in a back-slash.
    iconv -f UTF-16 -t UTF-8 "$scratch/export.reg" | tr -d '\r' |
      awk '/\\$/ { sub(/\\$/, ""); held = held $0; next }
           { line = held $0; held = "" }
           line ~ /^\[/ { key = line; print key; next }
           line != "" && key != "" { print key " " line }' >>"$out"
  done
  LC_ALL=C sort -o "$out" "$out"
}

# The lines of two exports that differ: those only in $1 as they are,
# those only in $2 indented by a tab. Left out: the display's keys, which
# wine's display driver writes whatever a program does, and the counter
# wine's service manager raises each time it starts again (a busy machine
# may restart it during a test).
registry_changes() {
  # shellcheck disable=SC1003  # back-slashes of key paths
  LC_ALL=C comm -3 "$1" "$2" |
    grep -vE '^.?\[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\(Hardware Profiles\\Current\\System\\CurrentControlSet\\)?Control\\(Video|Class\\\{4D36E968-E325-11CE-BFC1-08002BE10318\})\\' |
    grep -vE '^.?\[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\ServiceCurrent\]'
}
