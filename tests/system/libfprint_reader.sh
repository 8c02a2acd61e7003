#!/usr/bin/env bash
# The workstation with [Lukija] Laite=LIBFPRINT against the real servers and the card point,
# its finger images coming through libfprint's virtual image device: an enrolment from four
# captures, a retry result that leaves the capture armed, an identification that answers
# the card point "Tulos: OK"; the reader and its messages in the activity log.
#   libfprint_reader.sh BUILD_DIR
set -euo pipefail
build_dir=$(cd "${1:?usage: libfprint_reader.sh BUILD_DIR}" && pwd)
system_name=libfprint_reader
source "$(dirname "$0")/../../scripts/system.sh"
system_begin
work=$system_work
export QT_QPA_PLATFORM=offscreen

"$build_dir/app/vantera" --list-readers >"$work/readers-none.txt" ||
  system_fail "--list-readers failed without readers"
FP_VIRTUAL_IMAGE=$work/image.sock "$build_dir/app/vantera" --list-readers \
  >"$work/readers.txt" || system_fail "--list-readers failed"
grep -q "^virtual_image	Virtual image device for debugging	0	images$" "$work/readers.txt" ||
  system_fail "--list-readers does not list the virtual image device: $(cat "$work/readers.txt")"

system_start_database
system_start_messages 0 || system_fail "vantera-msgserver did not start"
msg=127.0.0.1:$msg_port
mkdir -p "$work/ws"
cp "$build_dir/app/vantera" "$work/ws/vantera"
system_write_ini "$work/ws/Tarvola.ini" "MessageSrv.ServerPort=$msg_port" \
  "MessageSrv.PingTime=0" "Lukija.Laite=LIBFPRINT"
"$work/ws/vantera" --print-settings | grep -qx "Lukija.Laite = LIBFPRINT" ||
  system_fail "--print-settings does not show the reader"

socket=$work/image.sock
log=$work/ws.log
XDG_RUNTIME_DIR=$work/run FP_VIRTUAL_IMAGE=$socket system_spawn "$log" "$work/ws/vantera" \
  --demo-enrol 6390000010010001 --log-file "$work/activity.txt" --reader-trace
ws=$system_pid
wait_for 30 system_logged_in Vantera01 || system_fail "the workstation did not log in"
[ ! -e "$work/run/vantera/reader.sock" ] ||
  system_fail "the simulated reader's socket is open beside the libfprint device"

finger="1001/oikea etusormi"
system_feed_enrol "$log" "$socket" "$finger"
echo "enrolled through the virtual image device"

system_spawn "$work/cardpoint.txt" "$build_dir/tools/cardpoint/vantera-cardpoint" \
  --server "$msg" --name Kassa01 present 100101 --to Vantera01 --timeout 60
cp=$system_pid
wait_for 20 grep -q "route Kassa01 -> Vantera01: Crd" "$work/msgserver.log" ||
  system_fail "the card message was not routed to Vantera01"

# A retry result (finger not centred): the capture stays armed and waits again.
system_feed "$log" "$socket" --retry 2
running "$cp" || system_fail "the card point was answered for a retry result"
system_feed_until_reply "$log" "$socket" "$finger" "$cp" ||
  system_fail "the card point had no reply"
wait "$cp" || system_fail "the card point ended without a reply: $(cat "$work/cardpoint.txt")"
grep -q "^Tulos: OK$" "$work/cardpoint.txt" ||
  system_fail "the card point got no OK: $(cat "$work/cardpoint.txt")"
echo "the card point got Tulos: OK"

system_stop "$ws" || system_fail "the workstation ended with status $?"
for line in "Lukija: Virtual image device for debugging (virtual_image, id 0)" \
  "Lukija: sormi ei ollut keskellä, sormi uudelleen" "Verify=TRUE  AsNo=           1001 "; do
  grep -qF "$line" "$work/activity.txt" ||
    system_fail "the activity log has no \"$line\": $(cat "$work/activity.txt")"
done
system_stop "$msg_pid" || system_fail "vantera-msgserver ended with status $?"
system_stop "$kanta_pid" || system_fail "kantadb-server ended with status $?"
system_check_reports
echo "libfprint_reader: passed"
