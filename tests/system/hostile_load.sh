#!/usr/bin/env bash
# Identification under hostile load, loopback only. While idle and slow connections press
# on both servers, one workstation (database over TCP) and one card point do identification
# rounds; every round must succeed.
#
#   message server:  1000 connections from 127.0.0.2-9 (8 x 125) that never log in; half
#                    stay silent, half trickle a byte every 5 s. The server refuses what
#                    passes its per-address limit and closes the rest after its login time;
#                    the helper opens new ones all the time.
#   database server: 1000 connections from 127.0.0.10-29 (20 x 50) that open a transport
#                    announcing a heartbeat of 0xFFFFFFFF ms; half then stay silent, half
#                    trickle a frame header. They fill the server's 1000 slots (50 a
#                    source address stays under the limit of 64 per address): the
#                    workstation must still get in, in place of a connection without a
#                    session, and keep its own.
# The workstation and the card point come from 127.0.0.1, bound by name in --clients.
# Prints "rounds succeeded / rounds", the connections refused and both servers' memory.
# Runs in about a minute.
#   hostile_load.sh BUILD_DIR [ROUNDS]
set -euo pipefail
build_dir=$(cd "${1:?usage: hostile_load.sh BUILD_DIR [ROUNDS]}" && pwd)
rounds=${2:-5}
system_name=hostile_load
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/system.sh"
system_begin
work=$system_work
export QT_QPA_PLATFORM=offscreen

# About a thousand sockets in each helper and each server. Without that many descriptors
# the test cannot run: exit 77, which CTest reports as skipped.
hard=$(ulimit -Hn)
want=8192
if [ "$hard" != unlimited ] && [ "$hard" -lt "$want" ]; then want=$hard; fi
ulimit -n "$want"
if [ "$(ulimit -n)" -lt 1100 ]; then
  echo "hostile_load: skipped: ulimit -n is at most $(ulimit -n), 1100 are needed"
  exit 77
fi

rss() { sed -n 's/^VmRSS:[[:space:]]*//p' "/proc/$1/status" 2>/dev/null || echo "gone"; }

system_start_database
printf 'Vantera01 127.0.0.1\nKassa01 127.0.0.1\n' >"$work/clients"
system_spawn "$work/msgserver.log" "$build_dir/msgserver/vantera-msgserver" \
  --listen 127.0.0.1:0 --clients "$work/clients" --quiet
msg_pid=$system_pid
wait_for 20 has_port "$work/msgserver.log" || system_fail "vantera-msgserver did not start"
msg_port=$(port_in "$work/msgserver.log")
msg=127.0.0.1:$msg_port
echo "memory before the load: kantadb-server $(rss "$kanta_pid"), vantera-msgserver $(rss "$msg_pid")"

# The load, bounded in time whatever happens to this script.
hostile=$here/hostile_clients.py
system_spawn "$work/hostile-msg.txt" python3 "$hostile" --kind msg --target "$msg" \
  --sources 127.0.0.2-9 --per-source 125 --seconds 150 --status "$work/status-msg"
load_msg=$system_pid
system_spawn "$work/hostile-db.txt" python3 "$hostile" --kind db --target "127.0.0.1:$kanta_port" \
  --sources 127.0.0.10-29 --per-source 50 --seconds 150 --status "$work/status-db"
load_db=$system_pid
# open_at_least FILE N: the helper's status file shows N or more connections open.
open_at_least() { [ -s "$1" ] && [ "$(cut -d' ' -f1 "$1")" -ge "$2" ]; }
wait_for 30 open_at_least "$work/status-db" 1000 ||
  system_fail "the database load did not get in place: $(cat "$work/status-db" 2>/dev/null)"
wait_for 30 open_at_least "$work/status-msg" 200 ||
  system_fail "the message load did not get in place: $(cat "$work/status-msg" 2>/dev/null)"
echo "load in place: $(cut -d' ' -f1 "$work/status-db") database and" \
  "$(cut -d' ' -f1 "$work/status-msg") message-server connections open"

# The database server is full now. It makes room for a newcomer only in place of a
# connection without a session that is at least 2 s old, so the flood is given that age.
sleep 3

# The workstation starts under the load: database over TCP, a runtime folder of its own.
run=$work/run-ws
mkdir -p "$run" "$work/ws"
chmod 700 "$run"
cp "$build_dir/app/vantera" "$work/ws/vantera"
system_write_ini "$work/ws/Tarvola.ini" Engine=TCPIP ServerName=KantaDB ServerAddress=127.0.0.1 \
  "Port=$kanta_port" "MessageSrv.ServerPort=$msg_port" "MessageSrv.PingTime=0"
XDG_RUNTIME_DIR=$run system_spawn "$work/ws.log" "$work/ws/vantera" \
  --demo-enrol 6390000010010001 --log-file "$work/activity.txt"
ws=$system_pid
wait_for 40 system_logged_in Vantera01 || system_fail "Vantera01 did not log in"
wait_for 30 test -S "$run/vantera/reader.sock" || system_fail "Vantera01 has no reader socket"
finger="1001/oikea etusormi"
system_enrol "$run/vantera" "$finger" "$work/ws.log"

# logins_at_least NAME N: the message server has logged NAME in N times or more.
logins_at_least() { [ "$(grep -c "($1) logged in" "$work/msgserver.log")" -ge "$2" ]; }
# The rounds are spread over about 40 s, so that the servers' time-outs (login time 10 s,
# and so on) close and the helpers reopen connections while identification goes on.
succeeded=0
for round in $(seq "$rounds"); do
  [ "$round" = 1 ] || sleep 8
  system_spawn "$work/cardpoint$round.txt" "$cardpoint" --server "$msg" --name Kassa01 \
    --message-no "$round" present 100101 --to Vantera01 --timeout 30
  cp=$system_pid
  if wait_for 15 logins_at_least Kassa01 "$round" &&
    system_place_until_reply "$run/vantera" "$finger" "$cp" && wait "$cp" &&
    grep -q "^Lahettaja: Vantera01$" "$work/cardpoint$round.txt" &&
    grep -q "^Tulos: OK$" "$work/cardpoint$round.txt"; then
    succeeded=$((succeeded + 1))
  else
    echo "round $round failed: $(tr '\n' ' ' <"$work/cardpoint$round.txt")"
  fi
done
rss_kanta=$(rss "$kanta_pid")
rss_msg=$(rss "$msg_pid")

kill "$load_msg" "$load_db" 2>/dev/null || true
wait "$load_msg" "$load_db" || true
echo "rounds succeeded / rounds: $succeeded / $rounds"
cat "$work/hostile-msg.txt" "$work/hostile-db.txt"
echo "connections refused: message server $(sed -n 's/.*refused \([0-9]*\),.*/\1/p' \
  "$work/hostile-msg.txt"), database server $(sed -n 's/.*refused \([0-9]*\),.*/\1/p' \
  "$work/hostile-db.txt")"
echo "memory under the load: kantadb-server $rss_kanta, vantera-msgserver $rss_msg"

system_stop "$ws" || system_fail "Vantera01 ended with status $?"
system_stop "$msg_pid" || system_fail "vantera-msgserver ended with status $?"
system_stop "$kanta_pid" || system_fail "kantadb-server ended with status $?"
[ "$succeeded" = "$rounds" ] || system_fail "$((rounds - succeeded)) of $rounds rounds failed"
system_check_reports
echo "every identification round succeeded under the load"
