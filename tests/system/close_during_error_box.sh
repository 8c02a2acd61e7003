#!/usr/bin/env bash
# A system close (SIGTERM) while the workstation shows an error box: the database server
# goes away, a finger placed at the workstation fails its identification pass and the
# error is reported in a modal box; SIGTERM then dismisses the box and ends the program
# through its shut-down order, with status 0, instead of leaving it running.
#   close_during_error_box.sh BUILD_DIR
set -euo pipefail
export QT_QPA_PLATFORM=offscreen
build_dir=$(cd "${1:?usage: close_during_error_box.sh BUILD_DIR}" && pwd)
system_name=close_during_error_box
source "$(dirname "$0")/../../scripts/system.sh"
system_begin
system_start_database
system_start_messages 0 || system_fail "vantera-msgserver did not start"
work=$system_work
mkdir -p "$work/ws1"
cp "$build_dir/app/vantera" "$work/ws1/vantera"
system_write_ini "$work/ws1/Tarvola.ini" "MessageSrv.ServerPort=$msg_port" "MessageSrv.PingTime=0"
XDG_RUNTIME_DIR=$work/run system_spawn "$work/ws1.log" "$work/ws1/vantera" \
  --log-file "$work/activity1.txt"
ws1=$system_pid
wait_for 30 system_logged_in Vantera01 || system_fail "Vantera01 did not log in"
wait_for 30 test -S "$work/run/vantera/reader.sock" || system_fail "Vantera01 has no reader socket"

system_stop "$kanta_pid" || system_fail "kantadb-server ended with status $?"
if "$reader" place "1001/oikea etusormi" --to capture --runtime-dir "$work/run/vantera" \
  --timeout 10 >"$work/place.txt" 2>&1; then
  system_fail "the placement did not fail without the database: $(cat "$work/place.txt")"
fi
grep -q "answered: error" "$work/place.txt" ||
  system_fail "the workstation did not answer the placement: $(cat "$work/place.txt")"
wait_for 10 grep -q "^vantera: " "$work/ws1.log" || system_fail "the error was not reported"
running "$ws1" || system_fail "Vantera01 ended on the error"
echo "the failed pass is reported in an error box"

kill "$ws1"
wait_for 10 ended "$ws1" || system_fail "Vantera01 did not end on SIGTERM while its error box was open"
status=0
wait "$ws1" || status=$?
[ "$status" = 0 ] || system_fail "Vantera01 ended with status $status"
test -f "$work/activity1.txt" || system_fail "the shut-down did not write the activity log"
echo "SIGTERM ended Vantera01 through its shut-down order"
system_stop "$msg_pid" || system_fail "vantera-msgserver ended with status $?"
system_check_reports
