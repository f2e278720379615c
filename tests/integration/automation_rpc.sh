#!/usr/bin/env bash
# "Cratex --automation" driven as an automation client drives it: the calls
# of tests/builder/automation_client.steps go over standard input/output,
# one JSON-RPC request per line, each result as the steps say. The product
# is built into an encrypted archive by one server, moved away, and brought
# back by a second server; crx verifies the archive with the password.
# Then a client that dies mid-archive: the server must end by itself and
# leave no archive (and no half-written file) behind.
#
#   automation_rpc.sh LINUX_BUILD [SOURCE_DIR]
# Exit status: 0 passed, 1 failed, 77 skipped.
set -uo pipefail

build=$(realpath -m "${1:-build/linux}")
here=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
steps=$here/../builder/automation_client.steps
cratex=$build/src/programs/Cratex
crx=$build/src/programs/crx
machine_tool=$build/src/programs/crxmachine

say() { printf 'automation_rpc: %s\n' "$*"; }
fail() { say "FAILED: $*"; exit 1; }
for program in "$cratex" "$crx" "$machine_tool"; do
  [ -x "$program" ] || { say "SKIPPED: $program is not built"; exit 77; }
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/automation-rpc.XXXXXX") || fail "no scratch folder"
server_pid=
client_pid=
cleanup() {
  for pid in $client_pid $server_pid; do kill "$pid" 2>/dev/null; done
  rm -rf "$scratch"
}
trap cleanup EXIT
export CRX_MACHINE=$scratch/machine
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# A string as a JSON literal (the paths hold back-slashes).
json() {
  local s=${1//\\/\\\\}
  printf '"%s"' "${s//\"/\\\"}"
}

# The stub in front of every archive: a stand-in of the full stub's size.
head -c 217088 /dev/zero >"$scratch/Cratex.dat"
"$machine_tool" reg add 'HKLM\SOFTWARE\Velmora\Cratex\1.00' /v datafile /t REG_SZ \
  /d "$(winpath "$scratch/Cratex.dat")" >/dev/null || fail "could not set the stub"

mkdir -p "$scratch/product/bin"
printf 'read me first\r\n' >"$scratch/product/readme.txt"
head -c 70000 /dev/urandom >"$scratch/product/bin/tool.dll"
printf 'object code' >"$scratch/product/bin/tool.obj"
printf 'loose notes\n' >"$scratch/notes.txt"
cp -r "$scratch/product" "$scratch/original"
cp "$scratch/notes.txt" "$scratch/original-notes.txt"

PRODUCT=$(winpath "$scratch/product")
NOTES=$(winpath "$scratch/notes.txt")
ARCHIVE=$(winpath "$scratch/round.exe")
OTHER=$(winpath "$scratch/other.exe")

# Starts a server with its input and output on the coprocess SERVER.
start_server() {
  coproc SERVER { exec "$cratex" --automation 2>>"$scratch/server.err"; }
  # shellcheck disable=SC2153  # set by coproc
  server_pid=$SERVER_PID
}

# Sends one call; the result (true, false, null), "error" for an error
# object, or the whole response when it is neither.
id=0
call() {
  local method=$1 arg=$2 params=
  id=$((id + 1))
  if [ "$arg" != - ]; then
    if [[ $arg =~ ^-?[0-9]+$ ]]; then params=$arg; else params=$(json "$arg"); fi
  fi
  printf '{"jsonrpc":"2.0","id":%d,"method":"%s","params":[%s]}\n' "$id" "$method" "$params" \
    >&"${SERVER[1]}"
  local response
  IFS= read -r -t 60 response <&"${SERVER[0]}" || { echo "(no response)"; return; }
  if [[ $response == "{\"jsonrpc\":\"2.0\",\"id\":$id,\"result\":"*"}" ]]; then
    response=${response#*\"result\":}
    echo "${response%\}}"
  elif [[ $response == "{\"jsonrpc\":\"2.0\",\"id\":$id,\"error\":{\"code\":"* ]]; then
    echo error
  else
    echo "$response"
  fi
}

# Ends the server by closing its input; it must end within 30 s.
stop_server() {
  local input=${SERVER[1]}
  exec {input}>&-
  local ticks=0
  while kill -0 "$server_pid" 2>/dev/null; do
    [ $ticks -ge 300 ] && fail "the server did not end at the end of its input"
    sleep 0.1
    ticks=$((ticks + 1))
  done
  wait "$server_pid" 2>/dev/null
  server_pid=
}

run_phase() {
  local phase=$1 step method arg expected got
  start_server
  while IFS=$'\t' read -r step method arg expected; do
    [[ -z $step || $step == \#* || $step != "$phase" ]] && continue
    arg=${arg//\$PRODUCT/$PRODUCT}
    arg=${arg//\$NOTES/$NOTES}
    arg=${arg//\$ARCHIVE/$ARCHIVE}
    arg=${arg//\$OTHER/$OTHER}
    got=$(call "$method" "$arg")
    [ "$got" = "$expected" ] || fail "$phase: $method($arg) gave $got, not $expected"
    say "$phase: $method($arg) = $got"
  done <"$steps"
  stop_server
}

run_phase build
[ -f "$scratch/round.exe" ] || fail "no archive was made"
[ -e "$scratch/other.exe" ] && fail "the second CreateArchive made a file"
"$crx" info "$scratch/round.exe" | grep -qi encrypt || fail "crx info does not call it encrypted"
"$crx" verify "$scratch/round.exe" --password opensesame >/dev/null ||
  fail "crx does not verify the archive with its password"
list=$("$crx" list "$scratch/round.exe" --password opensesame) || fail "crx list failed"
grep -q 'tool\.obj' <<<"$list" && fail "the ignore list did not keep tool.obj out"

rm -rf "$scratch/product" "$scratch/notes.txt"
run_phase extract
if ! { cmp -s "$scratch/original/readme.txt" "$scratch/product/readme.txt" &&
  cmp -s "$scratch/original/bin/tool.dll" "$scratch/product/bin/tool.dll" &&
  cmp -s "$scratch/original-notes.txt" "$scratch/notes.txt"; }; then
  fail "the extraction did not bring the files back as they were"
fi
say "the encrypted archive was built, verified by crx and extracted to its stored places"

# Malformed lines get error objects, and the server goes on serving.
start_server
printf '%s\n' 'this is not json' '{"jsonrpc":"2.0","id":9,"method":"Explode","params":[]}' \
  '{"jsonrpc":"2.0","id":10,"method":"CloseArchive"}' >&"${SERVER[1]}"
for code in -32700 -32601 '"result":false'; do
  IFS= read -r -t 30 response <&"${SERVER[0]}" || fail "no response after a malformed line"
  [[ $response == *"$code"* ]] || fail "expected $code, got $response"
done
stop_server
say "malformed requests got JSON-RPC errors"

# A client killed mid-archive: its end of the pipes closes, and the server
# abandons the archive and ends.
mkfifo "$scratch/requests" "$scratch/responses" "$scratch/never"
"$cratex" --automation <"$scratch/requests" >"$scratch/responses" 2>>"$scratch/server.err" &
server_pid=$!
(
  exec 3>"$scratch/requests" 4<"$scratch/responses"
  printf '{"jsonrpc":"2.0","id":1,"method":"CreateArchive","params":[%s]}\n' \
    "$(json "$(winpath "$scratch/killed.exe")")" >&3
  printf '{"jsonrpc":"2.0","id":2,"method":"AddDirectory","params":[%s]}\n' "$(json "$PRODUCT")" >&3
  IFS= read -r line <&4 && printf '%s\n' "$line" >"$scratch/client-1"
  IFS= read -r line <&4 && printf '%s\n' "$line" >"$scratch/client-2"
  # Waits for ever without a child process that would keep the pipes open.
  read -r _ <>"$scratch/never"
) &
client_pid=$!
for _ in $(seq 1 300); do [ -s "$scratch/client-2" ] && break; sleep 0.1; done
grep -q '"result":true' "$scratch/client-2" 2>/dev/null || fail "the client's AddDirectory failed"
ls "$scratch"/killed.exe.crx-*.tmp >/dev/null 2>&1 || fail "no archive is being written"
{ kill -KILL "$client_pid"; wait "$client_pid"; } 2>/dev/null
client_pid=
for _ in $(seq 1 300); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$server_pid" 2>/dev/null && fail "the server still runs after its client was killed"
wait "$server_pid" 2>/dev/null
server_pid=
[ -e "$scratch/killed.exe" ] && fail "the killed client left an archive"
ls "$scratch"/killed.exe* >/dev/null 2>&1 && fail "the killed client left a half-written file"
say "a killed client left no server and no archive"
say "passed"
