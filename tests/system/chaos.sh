#!/usr/bin/env bash
# The whole system through server faults. Two workstations (Vantera01 over plain TCP,
# Vantera02 over the encrypted transport), one database server, one message server, card
# points and the reader tool. Each round is one identification at one workstation while a
# fault is injected: the database server killed and restarted on its port, the database
# server stopped (SIGSTOP) for 20 s, the message server killed and restarted, and a round in
# which both workstations identify the same customer at once.
#
# It prints one line of figures and passes when every round ends with its OK reply once the
# servers are back, no acknowledged enrolment or identification counter is missing from the
# database, no workstation's GUI thread went without answering for longer than the bound,
# and both workstations end on SIGTERM.
#   chaos.sh BUILD_DIR [CYCLES]      CYCLES: how often the fault sequence runs (default 1)
set -euo pipefail
build_dir=$(cd "${1:?usage: chaos.sh BUILD_DIR [CYCLES]}" && pwd)
cycles=${2:-1}
here=$(cd "$(dirname "$0")" && pwd)
system_name=chaos
source "$here/../../scripts/system.sh"
system_begin
work=$system_work
export QT_QPA_PLATFORM=offscreen

# The longest the GUI thread may go without answering: a request's time-out (10 s) plus
# the transport's margin, plus one probe period.
gui_bound_ms=${CHAOS_GUI_BOUND_MS:-16000}
stop_seconds=${CHAOS_STOP_SECONDS:-20}
tunnel_key=Kassa-avain-chaos
printf '%s\n' "$tunnel_key" >"$work/tunnel-key"
chmod 600 "$work/tunnel-key"

now_ms() { date +%s%3N; }

# The database server, first on a free port, then restarted on that same port.
kanta_starts=0
start_database() {
  kanta_starts=$((kanta_starts + 1))
  local log=$work/kanta-$kanta_starts.log listen=127.0.0.1:${kanta_port:-0}
  system_spawn "$log" "$build_dir/server/kantadb-server" --listen "$listen" \
    --data "$work/data" --demo-data --runtime-dir "$work/run/vantera" --no-discovery \
    --tunnel-key-file "$work/tunnel-key"
  kanta_pid=$system_pid
  wait_for 20 started_or_ended "$log" "$kanta_pid" || system_fail "kantadb-server did not start"
  running "$kanta_pid" || system_fail "kantadb-server could not start: $(tail -n 3 "$log")"
  kanta_port=$(port_in "$log")
}

msg_starts=0
start_messages() {
  msg_starts=$((msg_starts + 1))
  msg_log=$work/msgserver-$msg_starts.log
  system_spawn "$msg_log" "$build_dir/msgserver/vantera-msgserver" \
    --listen "127.0.0.1:${msg_port:-0}"
  msg_pid=$system_pid
  wait_for 20 started_or_ended "$msg_log" "$msg_pid" || system_fail "vantera-msgserver did not start"
  running "$msg_pid" || system_fail "vantera-msgserver could not start: $(tail -n 3 "$msg_log")"
  msg_port=$(port_in "$msg_log")
}

logged_in() { grep -q "($1) logged in" "$msg_log"; }

start_database
start_messages

# start_workstation N INI-PAIRS...: Vantera0N with its own program folder and runtime folder,
# enrolling the given card at start.
declare -A ws_pid ws_run probe_pid
start_workstation() {
  local n=$1 card=$2
  shift 2
  local dir=$work/ws$n run=$work/run$n
  mkdir -p "$dir" "$run"
  chmod 700 "$run"
  cp "$build_dir/app/vantera" "$dir/vantera"
  system_write_ini "$dir/Tarvola.ini" Engine=TCPIP ServerName=KantaDB ServerAddress=127.0.0.1 \
    "Port=$kanta_port" "MessageSrv.ServerPort=$msg_port" "MessageSrv.PingTime=2" \
    "Defaults.Vantera=0$n" "$@"
  XDG_RUNTIME_DIR=$run system_spawn "$work/ws$n.log" "$dir/vantera" \
    --demo-enrol "$card" --log-file "$work/activity$n.txt"
  ws_pid[$n]=$system_pid
  ws_run[$n]=$run/vantera
}
key_value=$("$build_dir/app/vantera" --encode-key "$tunnel_key")
start_workstation 1 6390000010010001
start_workstation 2 6390000010020001 SecuredTransport=YES "Key=$key_value"
for n in 1 2; do
  wait_for 30 logged_in "Vantera0$n" || system_fail "Vantera0$n did not log in"
  wait_for 30 test -S "${ws_run[$n]}/reader.sock" || system_fail "Vantera0$n has no reader socket"
  system_spawn "$work/probe$n.log" python3 "$here/gui_probe.py" "${ws_run[$n]}/reader.sock" \
    "$work/gui-gap$n.txt"
  probe_pid[$n]=$system_pid
done

declare -A finger=([1]="1001/oikea etusormi" [2]="1002/vasen peukalo")
declare -A card=([1]=100101 [2]=100201)
system_enrol "${ws_run[1]}" "${finger[1]}" "$work/ws1.log"
system_enrol "${ws_run[2]}" "${finger[2]}" "$work/ws2.log"
# Every OK reply raised the customer's counter once; enrolment starts it at 1.
declare -A expected=([1001]=1 [1002]=1)

rounds=0 succeeded=0 failed_away=0 recoveries=0 longest_recovery=0 failures=()
cardpoint_no=0

# present WS CARD: a card point presents CARD to Vantera0WS and waits for the reply;
# sets cp_pid and cp_out.
present() {
  cardpoint_no=$((cardpoint_no + 1))
  cp_out=$work/cardpoint-$cardpoint_no.txt
  # A line for a workstation that is not logged in is not routed: after a restart of the
  # message server each workstation logs in again at its next ping.
  wait_for 30 logged_in "Vantera0$1" || system_fail "Vantera0$1 is not logged in"
  system_spawn "$cp_out" "$cardpoint" --server "127.0.0.1:$msg_port" \
    --name "Kassa$cardpoint_no" present "$2" --to "Vantera0$1" --timeout 120
  cp_pid=$system_pid
  local name=Kassa$cardpoint_no
  routed() { grep -q "route $name -> Vantera0$1: Crd" "$msg_log"; }
  wait_for 20 routed "$1" || system_fail "card $2 was not routed to Vantera0$1"
}

place() {
  "$reader" place "$2" --to capture --runtime-dir "${ws_run[$1]}" --timeout 30 \
    >>"$work/place.txt" 2>&1 || true
}

# finish_round WS CUSTOMER BACK_MS: places the finger until the card point has its OK
# reply (at most 60 s); counts the round and the recovery from BACK_MS (0: no fault).
finish_round() {
  local ws=$1 customer=$2 back=$3 deadline=$(($(date +%s) + 60))
  while running "$cp_pid" && [ "$(date +%s)" -lt "$deadline" ]; do
    place "$ws" "${finger[$ws]}"
    wait_for 2 ended "$cp_pid" || true
  done
  rounds=$((rounds + 1))
  if wait_for 5 ended "$cp_pid" && wait "$cp_pid" && grep -q "^Tulos: OK$" "$cp_out"; then
    succeeded=$((succeeded + 1))
    expected[$customer]=$((expected[$customer] + 1))
    if [ "$back" != 0 ]; then
      local took=$(($(now_ms) - back))
      recoveries=$((recoveries + 1))
      if [ "$took" -gt "$longest_recovery" ]; then longest_recovery=$took; fi
    fi
  else
    kill "$cp_pid" 2>/dev/null || true
    failures+=("round $rounds at Vantera0$ws ($fault): no OK reply after the servers were back")
  fi
}

# One round at workstation WS with FAULT: none, kill-db, stop-db, kill-msg.
round() {
  local ws=$1 customer
  fault=$2
  customer=${finger[$ws]%%/*}
  if [ "$fault" = kill-msg ]; then
    kill -9 "$msg_pid"
    wait "$msg_pid" 2>/dev/null || true
    sleep 1
    start_messages
    local back
    back=$(now_ms)
    wait_for 30 logged_in "Vantera0$ws" || system_fail "Vantera0$ws did not log in again"
    present "$ws" "${card[$ws]}"
    finish_round "$ws" "$customer" "$back"
    return
  fi
  present "$ws" "${card[$ws]}"
  case $fault in
    none) finish_round "$ws" "$customer" 0 ;;
    kill-db)
      kill -9 "$kanta_pid"
      wait "$kanta_pid" 2>/dev/null || true
      # An identification while the server is away fails; the card message stays.
      place "$ws" "${finger[$ws]}"
      if running "$cp_pid"; then failed_away=$((failed_away + 1)); fi
      sleep 2
      start_database
      finish_round "$ws" "$customer" "$(now_ms)"
      ;;
    stop-db)
      kill -STOP "$kanta_pid"
      place "$ws" "${finger[$ws]}"
      if running "$cp_pid"; then failed_away=$((failed_away + 1)); fi
      sleep "$stop_seconds"
      kill -CONT "$kanta_pid"
      finish_round "$ws" "$customer" "$(now_ms)"
      ;;
  esac
}

# Both workstations identify customer 1001 at once: each has a card message for card
# 100101 and the finger is placed at both together; the counter must rise by exactly two.
round_both() {
  fault=both
  present 1 "${card[1]}"
  local cp1=$cp_pid out1=$cp_out
  present 2 "${card[1]}"
  local cp2=$cp_pid out2=$cp_out
  local deadline=$(($(date +%s) + 60))
  while { running "$cp1" || running "$cp2"; } && [ "$(date +%s)" -lt "$deadline" ]; do
    running "$cp1" && place 1 "${finger[1]}" &
    running "$cp2" && place 2 "${finger[1]}" &
    wait_for 3 ended "$cp1" || true
    wait_for 1 ended "$cp2" || true
  done
  local n out pid
  for n in 1 2; do
    rounds=$((rounds + 1))
    if [ "$n" = 1 ]; then out=$out1 pid=$cp1; else out=$out2 pid=$cp2; fi
    if wait_for 5 ended "$pid" && wait "$pid" && grep -q "^Tulos: OK$" "$out"; then
      succeeded=$((succeeded + 1))
      expected[1001]=$((expected[1001] + 1))
    else
      kill "$pid" 2>/dev/null || true
      failures+=("round $rounds at Vantera0$n (both at once): no OK reply")
    fi
  done
}

for _ in $(seq "$cycles"); do
  for ws in 1 2; do
    for fault in none kill-db stop-db kill-msg; do
      round "$ws" "$fault"
      echo "round $rounds: Vantera0$ws $fault: ${#failures[@]} failed so far"
    done
  done
  round_both
  echo "round $rounds: both workstations at once: ${#failures[@]} failed so far"
done

# The GUI threads, then the workstations' own end.
gap=0
for n in 1 2; do
  kill "${probe_pid[$n]}" 2>/dev/null || true
  wait "${probe_pid[$n]}" 2>/dev/null || true
  g=$(cat "$work/gui-gap$n.txt" 2>/dev/null || echo 0)
  if [ "$g" -gt "$gap" ]; then gap=$g; fi
done
for n in 1 2; do
  system_stop "${ws_pid[$n]}" || failures+=("Vantera0$n did not end on SIGTERM (status $?)")
done

# Every acknowledged enrolment and counter is in the database.
system_stop "$kanta_pid" || failures+=("kantadb-server ended with status $?")
"$build_dir/server/kantadb-server" export ASSORMI --data "$work/data" >"$work/assormi.csv" \
  2>"$work/export.log" || system_fail "export failed: $(cat "$work/export.log")"
lost=0
for customer in 1001 1002; do
  have=$(sed -n "s/^ *$customer,[0-9]*,\([0-9]*\),.*/\1/p" "$work/assormi.csv" | head -n 1)
  if [ "${have:-none}" != "${expected[$customer]}" ]; then
    lost=$((lost + 1))
    failures+=("customer $customer: Maara ${have:-missing}, expected ${expected[$customer]}")
  fi
done
system_stop "$msg_pid" || failures+=("vantera-msgserver ended with status $?")

echo "chaos: rounds=$rounds succeeded=$succeeded failed_while_away=$failed_away" \
  "recoveries=$recoveries longest_recovery_ms=$longest_recovery gui_longest_gap_ms=$gap" \
  "records_lost=$lost"
[ "$gap" -le "$gui_bound_ms" ] ||
  failures+=("a GUI thread went ${gap} ms without answering (bound ${gui_bound_ms} ms)")
if [ ${#failures[@]} -gt 0 ]; then
  printf '%s\n' "${failures[@]}" >&2
  system_fail "${#failures[@]} failures"
fi
system_check_reports
echo "chaos: passed"
