#!/usr/bin/env bash
# The win64 builder as the COM server of "Cratex.Archive" under wine64,
# driven by a client nobody here wrote: wine's own cscript.exe running
# JScript.
#
#   automation_under_wine.sh [LINUX_BUILD] [WIN64_BUILD]   (build/linux build/win64)
#
# 1. A normal start of Cratex.exe (a one-line script) registers the class.
# 2. The calls of tests/builder/automation_client.steps, made into two
#    JScript clients: the first builds an encrypted archive (SetPassword,
#    SetOptions("+E"), CreateArchive, AddDirectory, AddFile, CloseArchive)
#    and checks the edge cases; the product is moved away; the second
#    extracts the archive in a second object. Every result must be the one
#    the steps give, the files must come back byte for byte, and the Linux
#    crx must verify the archive with the password.
# 3. A client killed mid-archive (after its AddDirectory): no Cratex.exe
#    may be left running and no archive, not even a half-written file.
#
# Needs wine64 with its cscript.exe; no display is needed (the server has
# no window). COM hands the server's class object to the client through
# wine's RPC service (RpcSs): the test starts it when it is not listed,
# and on failure shows the prefix's programs and services.
# Servers and clients this test left behind in an earlier run are ended
# first. WINEPREFIX is <WIN64_BUILD>/wineprefix.
# Exit status: 0 passed, 1 failed, 77 skipped.
set -uo pipefail

linux_build=$(realpath -m "${1:-build/linux}")
win_build=$(realpath -m "${2:-build/win64}")
here=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
steps=$here/../builder/automation_client.steps

say() { printf 'automation_under_wine: %s\n' "$*"; }
# shellcheck source=wine_test_lib.sh
source "$here/wine_test_lib.sh"

cratex_exe=$win_build/src/programs/Cratex.exe
crx=$linux_build/src/programs/crx
need_wine
[ -f "$cratex_exe" ] || skip "no win64 builder at $cratex_exe"
[ -x "$crx" ] || skip "no Linux crx at $crx"
use_wine_of_build "$win_build"
start_wine_test automation-wine
boot_wine_prefix
cscript=$WINEPREFIX/drive_c/windows/system32/cscript.exe
[ -f "$cscript" ] || skip "wine's cscript.exe is not in $WINEPREFIX (wine without it)"
stub_key='HKLM\SOFTWARE\Velmora\Cratex\1.00'

# The COM servers of this build that still run, as "pid" lines. Wine shows
# a program started by COM with its Windows path and -Embedding.
servers() {
  local pid line
  pgrep -af 'Cratex\.exe -Embedding' 2>/dev/null | while read -r pid line; do
    [ "${line,,}" = "$(winpath "$cratex_exe" | tr '[:upper:]' '[:lower:]') -embedding" ] && echo "$pid"
  done
}

client_pid=
# shellcheck disable=SC2317  # called on the way out
extra_cleanup() {
  [ -n "$client_pid" ] && kill "$client_pid" 2>/dev/null
  local pid
  for pid in $(servers); do kill "$pid" 2>/dev/null; done
}
# The programs of this wine prefix that run now (each "pid command line").
prefix_processes() {
  local pid
  for pid in $(pgrep -f '\.exe' 2>/dev/null); do
    { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
      printf '%s %s\n' "$pid" "$({ tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null)"
  done
}

# True when wine's service manager lists its RPC service: COM starts a
# local server and hands its class object to the client through it.
rpc_service_listed() {
  "$wine" net start 2>/dev/null | tr -d '\r' | grep -q 'Remote Procedure Call'
}

# shellcheck disable=SC2317
on_failure() {
  find "$WINEPREFIX/drive_c" -name 'Cratex_*.err' -newer "$scratch/started" 2>/dev/null |
    while read -r err; do say "error log $err:"; cat "$err"; done
  say "the programs of the wine prefix still running:"
  prefix_processes | sed 's/^/  /'
  local managers
  managers=$(prefix_processes | grep -ci 'system32\\services\.exe')
  [ "$managers" -gt 1 ] &&
    say "$managers service managers run in the prefix: start its wine server again (scripts/wine-prefix)"
  say "wine's running services:"
  "$wine" net start 2>/dev/null | tr -d '\r' | sed 's/^/  /'
}
touch "$scratch/started"

# A clean start: servers of this build and clients left by an earlier run
# are ended (by their own ids; other programs of the shared wine server
# are left alone).
for pid in $(servers); do kill "$pid" 2>/dev/null; done
for pid in $(prefix_processes | grep -F 'cscript.exe' | grep -F 'automation-wine.' | cut -d' ' -f1); do
  kill "$pid" 2>/dev/null
done

# The RPC service is started when it is not listed (wine starts it on
# demand, which takes long on a busy machine). A service that cannot be
# started here is only reported: the clients show whether COM works. Two
# service managers in the prefix (left by the boot of a fresh prefix when
# its server was not started again, see scripts/wine-prefix) make COM hang:
# that is reported too.
managers=$(prefix_processes | grep -ci 'system32\\services\.exe')
[ "$managers" -gt 1 ] &&
  say "warning: $managers service managers run in the prefix (COM may hang); scripts/wine-prefix starts its wine server again"
if ! rpc_service_listed; then
  timeout 90 "$wine" net start RpcSs >"$scratch/rpcss.out" 2>&1
  rpc_service_listed ||
    say "wine's RPC service (RpcSs) is not listed: $(tr -d '\r' <"$scratch/rpcss.out" | tr '\n' ' ')"
fi

# The stub the builder copies: a stand-in of the full stub's size.
head -c 217088 /dev/zero >"$scratch/Cratex.dat"
save_registry_values "$stub_key|datafile"
set_registry_value "$stub_key" datafile "$(winpath "$scratch/Cratex.dat")" ||
  fail "could not set $stub_key datafile"

# 1. A normal start registers the class.
"$wine" reg delete 'HKCR\Cratex.Archive' /f >/dev/null 2>&1
printf 'registration\n' >"$scratch/reg.txt"
printf '>reg.exe\nreg.txt\n' >"$scratch/register.crs"
(cd "$scratch" && timeout 120 "$wine" "$cratex_exe" register.crs) >"$scratch/register.out" 2>&1 ||
  { cat "$scratch/register.out"; fail "the normal start of Cratex.exe failed"; }
"$wine" reg query 'HKCR\Cratex.Archive\CLSID' 2>/dev/null | tr -d '\r' |
  grep -qi 'CE70C7A4-57AE-11D3-B44F-A6653C609E27' || fail "the normal start did not register Cratex.Archive"
"$wine" reg query 'HKCR\CLSID\{CE70C7A4-57AE-11D3-B44F-A6653C609E27}\LocalServer32' 2>/dev/null |
  tr -d '\r' | grep -qi 'Cratex.exe' || fail "the class has no LocalServer32"
say "a normal start registered Cratex.Archive"

# 2. The client's calls as JScript.
mkdir -p "$scratch/product/bin"
printf 'read me first\r\n' >"$scratch/product/readme.txt"
head -c 70000 /dev/urandom >"$scratch/product/bin/tool.dll"
printf 'object code' >"$scratch/product/bin/tool.obj"
printf 'loose notes\r\n' >"$scratch/notes.txt"
cp -r "$scratch/product" "$scratch/original"
cp "$scratch/notes.txt" "$scratch/original-notes.txt"
PRODUCT=$(winpath "$scratch/product")
NOTES=$(winpath "$scratch/notes.txt")
ARCHIVE=$(winpath "$scratch/round.exe")
OTHER=$(winpath "$scratch/other.exe")

js_string() {
  local s=${1//\\/\\\\}
  printf '"%s"' "${s//\"/\\\"}"
}

# Writes the JScript client of one phase of the steps.
write_client() {
  local phase=$1 out=$2 step method arg expected call
  cat >"$out" <<'EOF'
var failures = 0;
function check(label, got, want) {
  var text = (typeof got == "undefined") ? "null" : String(got);
  if (text != want) { WScript.Echo("FAIL " + label + " gave " + text + ", not " + want); failures++; }
  else WScript.Echo("ok " + label + " = " + text);
}
var archive = new ActiveXObject("Cratex.Archive");
var result;
EOF
  while IFS=$'\t' read -r step method arg expected; do
    [[ -z $step || $step == \#* || $step != "$phase" ]] && continue
    arg=${arg//\$PRODUCT/$PRODUCT}
    arg=${arg//\$NOTES/$NOTES}
    arg=${arg//\$ARCHIVE/$ARCHIVE}
    arg=${arg//\$OTHER/$OTHER}
    if [ "$arg" = - ]; then
      call="archive.$method()"
    elif [[ $arg =~ ^-?[0-9]+$ ]]; then
      call="archive.$method($arg)"
    else
      call="archive.$method($(js_string "$arg"))"
    fi
    printf 'try { result = %s; } catch (e) { result = "error"; }\n' "$call" >>"$out"
    printf 'check(%s, result, "%s");\n' "$(js_string "$method($arg)")" "$expected" >>"$out"
  done <"$steps"
  printf 'archive = null;\nCollectGarbage();\nWScript.Quit(failures);\n' >>"$out"
}

run_client() {
  local phase=$1
  write_client "$phase" "$scratch/$phase.js"
  (cd "$scratch" && timeout 180 "$wine" "$cscript" //nologo "$(winpath "$scratch/$phase.js")") \
    >"$scratch/$phase.out" 2>&1
  local status=$?
  tr -d '\r' <"$scratch/$phase.out" | sed "s/^/  $phase: /"
  [ $status -ne 124 ] || fail "the $phase client did not end within 180 s (status 124)"
  [ $status -eq 0 ] || fail "the $phase client ended with status $status"
  grep -q '^ok ' "$scratch/$phase.out" || fail "the $phase client made no call"
}

run_client build
[ -f "$scratch/round.exe" ] || fail "no archive was made"
[ -e "$scratch/other.exe" ] && fail "the second CreateArchive made a file"
"$crx" info "$scratch/round.exe" | grep -qi encrypt || fail "crx does not call the archive encrypted"
CRX_MACHINE=$scratch/machine "$crx" verify "$scratch/round.exe" --password opensesame >/dev/null ||
  fail "the Linux crx does not verify the archive with its password"
say "the JScript client built an encrypted archive that crx verifies"

rm -rf "$scratch/product" "$scratch/notes.txt"
run_client extract
if ! { cmp -s "$scratch/original/readme.txt" "$scratch/product/readme.txt" &&
  cmp -s "$scratch/original/bin/tool.dll" "$scratch/product/bin/tool.dll" &&
  cmp -s "$scratch/original-notes.txt" "$scratch/notes.txt"; }; then
  fail "the second object did not bring the files back as they were"
fi
[ -e "$scratch/product/bin/tool.obj" ] && fail "the ignored tool.obj came back"
for _ in $(seq 1 100); do [ -z "$(servers)" ] && break; sleep 0.1; done
[ -z "$(servers)" ] || fail "a server still runs after its client released the object"
say "the second object extracted the files; no server is left"

# 3. A client killed mid-archive.
cat >"$scratch/killed.js" <<EOF
var archive = new ActiveXObject("Cratex.Archive");
WScript.Echo("created " + archive.CreateArchive($(js_string "$(winpath "$scratch/killed.exe")")));
WScript.Echo("added " + archive.AddDirectory($(js_string "$PRODUCT")));
// Busy until killed (wine's cscript has no WScript.Sleep).
for (;;) {}
EOF
(cd "$scratch" && exec "$wine" "$cscript" //nologo "$(winpath "$scratch/killed.js")") \
  >"$scratch/killed.out" 2>&1 &
client_pid=$!
for _ in $(seq 1 600); do grep -q '^added' "$scratch/killed.out" 2>/dev/null && break; sleep 0.1; done
grep -q '^added true' "$scratch/killed.out" || { cat "$scratch/killed.out"; fail "the client's AddDirectory failed"; }
[ -n "$(servers)" ] || fail "no server runs for the client"
ls "$scratch"/killed.exe.crx-*.tmp >/dev/null 2>&1 || fail "no archive is being written"
{ kill -KILL "$client_pid"; wait "$client_pid"; } 2>/dev/null
client_pid=
for _ in $(seq 1 300); do [ -z "$(servers)" ] && break; sleep 0.1; done
[ -z "$(servers)" ] || fail "Cratex.exe still runs 30 s after its client was killed"
[ -e "$scratch/killed.exe" ] && fail "the killed client left an archive"
ls "$scratch"/killed.exe* >/dev/null 2>&1 && fail "the killed client left a half-written file"
say "the killed client left no server and no archive"
say "passed"
