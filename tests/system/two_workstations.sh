#!/usr/bin/env bash
# Two workstations against one database server and one message server. Vantera01 reaches
# the database with the default engine (the local registry), Vantera02 over TCP from a
# runtime folder of its own. Each has its own customer's finger enrolled and
# is offered its own card message; a finger of the other customer is not identified at
# either; each answers only its own card point, and both identification counters land in
# the database.
#   two_workstations.sh BUILD_DIR
set -euo pipefail
build_dir=$(cd "${1:?usage: two_workstations.sh BUILD_DIR}" && pwd)
system_name=two_workstations
source "$(dirname "$0")/../../scripts/system.sh"
system_begin
work=$system_work
export QT_QPA_PLATFORM=offscreen

system_start_database
system_start_messages 0 || system_fail "vantera-msgserver did not start"
msg=127.0.0.1:$msg_port

# Vantera01: registry engine, runtime folder shared with the database server.
run1=$work/run
mkdir -p "$work/ws1"
cp "$build_dir/app/vantera" "$work/ws1/vantera"
system_write_ini "$work/ws1/Tarvola.ini" "MessageSrv.ServerPort=$msg_port" "MessageSrv.PingTime=0"
# Vantera02: TCP engine, a runtime folder of its own.
run2=$work/run2
mkdir -p "$run2" "$work/ws2"
chmod 700 "$run2"
cp "$build_dir/app/vantera" "$work/ws2/vantera"
system_write_ini "$work/ws2/Tarvola.ini" Engine=TCPIP ServerName=KantaDB ServerAddress=127.0.0.1 \
  "Port=$kanta_port" "MessageSrv.ServerPort=$msg_port" "MessageSrv.PingTime=0" "Defaults.Vantera=02"

XDG_RUNTIME_DIR=$run1 system_spawn "$work/ws1.log" "$work/ws1/vantera" \
  --demo-enrol 6390000010010001 --log-file "$work/activity1.txt"
ws1=$system_pid
XDG_RUNTIME_DIR=$run2 system_spawn "$work/ws2.log" "$work/ws2/vantera" \
  --demo-enrol 6390000010020001 --log-file "$work/activity2.txt"
ws2=$system_pid
for n in 1 2; do
  wait_for 30 system_logged_in "Vantera0$n" || system_fail "Vantera0$n did not log in"
done
wait_for 30 test -S "$run1/vantera/reader.sock" || system_fail "Vantera01 has no reader socket"
wait_for 30 test -S "$run2/vantera/reader.sock" || system_fail "Vantera02 has no reader socket"

finger1="1001/oikea etusormi"
finger2="1002/vasen peukalo"
system_enrol "$run1/vantera" "$finger1" "$work/ws1.log"
system_enrol "$run2/vantera" "$finger2" "$work/ws2.log"
echo "enrolled: 1001 at Vantera01, 1002 at Vantera02"

# Each card point presents its customer's card to its own workstation.
system_spawn "$work/cardpoint1.txt" "$cardpoint" --server "$msg" --name Kassa01 \
  present 100101 --to Vantera01 --timeout 60
cp1=$system_pid
system_spawn "$work/cardpoint2.txt" "$cardpoint" --server "$msg" --name Kassa02 \
  present 100201 --to Vantera02 --timeout 60
cp2=$system_pid
routed() { grep -q "route $1 -> $2: Crd" "$work/msgserver.log"; }
wait_for 20 routed Kassa01 Vantera01 || system_fail "card 100101 was not routed to Vantera01"
wait_for 20 routed Kassa02 Vantera02 || system_fail "card 100201 was not routed to Vantera02"

# activity_has N TEXT: the activity log of Vantera0N, fetched through the message server,
# holds a line with TEXT.
activity_has() {
  "$cardpoint" --server "$msg" --name Valvoja log GetLog --to "Vantera0$1" --timeout 5 \
    --quiet-ms 500 >"$work/getlog.txt" 2>/dev/null || return 1
  grep -qF "$2" "$work/getlog.txt"
}
# place_wrong N FINGER: FINGER placed at Vantera0N is compared and not identified.
place_wrong() {
  wait_for 20 "$reader" place "$2" --to capture --runtime-dir "$3" --timeout 10 \
    >/dev/null 2>&1 || system_fail "Vantera0$1 took no placement"
  wait_for 20 activity_has "$1" "Verify=FALSE AsNo= Etsitty=" ||
    system_fail "Vantera0$1 did not reject the finger \"$2\""
}

# The other customer's finger: each workstation compares only its own waiting card.
place_wrong 1 "$finger2" "$run1/vantera"
place_wrong 2 "$finger1" "$run2/vantera"
running "$cp1" && running "$cp2" || system_fail "a card point was answered for a wrong finger"
echo "wrong fingers rejected at both workstations"

system_place_until_reply "$run1/vantera" "$finger1" "$cp1" ||
  system_fail "Kassa01 had no reply from Vantera01"
running "$cp2" || system_fail "Kassa02 was answered before its finger was placed"
system_place_until_reply "$run2/vantera" "$finger2" "$cp2" ||
  system_fail "Kassa02 had no reply from Vantera02"
card_points=("$cp1" "$cp2")
for n in 1 2; do
  wait "${card_points[$((n - 1))]}" ||
    system_fail "Kassa0$n ended without a reply: $(cat "$work/cardpoint$n.txt")"
  grep -q "^Lahettaja: Vantera0$n$" "$work/cardpoint$n.txt" &&
    grep -q "^Tulos: OK$" "$work/cardpoint$n.txt" ||
    system_fail "Kassa0$n got no OK from Vantera0$n: $(cat "$work/cardpoint$n.txt")"
done
echo "both card points got their OK reply from their own workstation"

system_stop "$ws1" || system_fail "Vantera01 ended with status $?"
system_stop "$ws2" || system_fail "Vantera02 ended with status $?"
grep -q "Verify=TRUE  AsNo=           1001 " "$work/activity1.txt" ||
  system_fail "Vantera01 did not identify 1001: $(cat "$work/activity1.txt")"
grep -q "Verify=TRUE  AsNo=           1002 " "$work/activity2.txt" ||
  system_fail "Vantera02 did not identify 1002: $(cat "$work/activity2.txt")"
if grep -q "AsNo=           1002" "$work/activity1.txt" ||
  grep -q "AsNo=           1001" "$work/activity2.txt"; then
  system_fail "a workstation identified the other workstation's customer"
fi

# Both counters are in the database: each fingerprint record starts at 1 when enrolled and
# was raised once by its identification.
system_stop "$kanta_pid" || system_fail "kantadb-server ended with status $?"
"$build_dir/server/kantadb-server" export ASSORMI --data "$work/data" >"$work/assormi.csv" \
  2>"$work/export.log" || system_fail "export failed: $(cat "$work/export.log")"
counted() { grep -Eq "^ *$1,[0-9]+,2," "$work/assormi.csv"; }
counted 1001 && counted 1002 ||
  system_fail "the counters did not land in the database: $(cat "$work/assormi.csv")"
echo "both identification counters were raised to 2 in ASSORMI"
system_stop "$msg_pid" || system_fail "vantera-msgserver ended with status $?"
system_check_reports
