# Shared by scripts/demo and the end-to-end tests: runs the servers and workstations of the
# whole system in one private folder and drives them with the card point and the reader.
# Sourced, not run. Before use set build_dir to a folder with the built programs.

system_pids=()
system_work=
system_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Creates the private folder ($system_work, with run/ and data/), finds the tools in
# $build_dir, and stops every program started through system_spawn when the shell exits.
system_begin() {
  system_work=$(mktemp -d /tmp/vantera-system-XXXXXX)
  mkdir -p "$system_work/run" "$system_work/data"
  chmod 700 "$system_work/run"
  reader=$build_dir/tools/reader/vantera-reader
  cardpoint=$build_dir/tools/cardpoint/vantera-cardpoint
  trap system_end EXIT
  trap 'exit 130' INT TERM
}

system_end() {
  local pid
  for pid in "${system_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${system_pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  [ -z "$system_work" ] || rm -rf "$system_work"
}

# system_spawn LOG COMMAND...: starts COMMAND in the background with its output in LOG;
# its process id is in $system_pid.
system_spawn() {
  local log=$1
  shift
  "$@" >"$log" 2>&1 &
  system_pid=$!
  system_pids+=("$system_pid")
}

# system_stop PID: asks the program to stop (SIGTERM), waits for it (at most 10 s, then it
# is killed) and returns its exit status.
system_stop() {
  kill "$1" 2>/dev/null || true
  for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$1" 2>/dev/null || true
  wait "$1"
}

# system_check_reports: fails when a program wrote a sanitizer report into its log (the
# end-to-end runs also serve as sanitizer tests of the programs).
system_check_reports() {
  if grep -l -E "ERROR: (Address|Leak)Sanitizer|runtime error:" "$system_work"/*.log \
    >"$system_work/reports.txt"; then
    system_fail "sanitizer report in $(tr '\n' ' ' <"$system_work/reports.txt")"
  fi
}

# wait_for SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds; 1 on time-out.
wait_for() {
  local tries=$(($1 * 10))
  shift
  for _ in $(seq "$tries"); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  return 1
}

# The port of the first "listening on HOST:PORT" line in FILE.
port_in() { sed -n 's/.*listening on [^ ]*:\([0-9][0-9]*\).*/\1/p' "$1" | head -n 1; }
has_port() { [ -n "$(port_in "$1")" ]; }
running() { kill -0 "$1" 2>/dev/null; }
ended() { ! running "$1"; }
# Port known, or the program has ended (start-up failed).
started_or_ended() { has_port "$1" || ! running "$2"; }

# system_fail TEXT: prints TEXT and the end of every log in the private folder, exits 1.
system_fail() {
  echo "${system_name:-system}: $*" >&2
  local f
  for f in "$system_work"/*.log; do
    [ -s "$f" ] && { echo "--- $(basename "$f")" >&2; tail -n 20 "$f" >&2; }
  done
  exit 1
}

# Starts kantadb-server with demo data on a free loopback port; it also serves the local
# registry in $system_work/run/vantera. Sets kanta_port and kanta_pid.
system_start_database() {
  system_spawn "$system_work/kanta.log" "$build_dir/server/kantadb-server" \
    --listen 127.0.0.1:0 --data "$system_work/data" --demo-data \
    --runtime-dir "$system_work/run/vantera" --no-discovery
  kanta_pid=$system_pid
  wait_for 20 has_port "$system_work/kanta.log" || system_fail "kantadb-server did not start"
  kanta_port=$(port_in "$system_work/kanta.log")
}

# system_start_messages PORT: starts vantera-msgserver on 127.0.0.1:PORT (0 for a free
# port). Sets msg_port; returns 1 when the server could not start (the port is taken).
system_start_messages() {
  system_spawn "$system_work/msgserver.log" "$build_dir/msgserver/vantera-msgserver" \
    --listen "127.0.0.1:$1"
  msg_pid=$system_pid
  wait_for 20 started_or_ended "$system_work/msgserver.log" "$msg_pid" ||
    system_fail "vantera-msgserver did not start"
  has_port "$system_work/msgserver.log" || return 1
  msg_port=$(port_in "$system_work/msgserver.log")
}

# system_write_ini FILE KEY=VALUE...: a settings file with [DataBase] keys first, then
# "MessageSrv.KEY=VALUE", "Defaults.KEY=VALUE" and "Lukija.KEY=VALUE" in their sections.
system_write_ini() {
  local file=$1 pair section
  shift
  : >"$file"
  for section in DataBase MessageSrv Defaults Lukija; do
    printf '[%s]\r\n' "$section" >>"$file"
    for pair in "$@"; do
      local in=DataBase
      case $pair in MessageSrv.* | Defaults.* | Lukija.*) in=${pair%%.*} pair=${pair#*.} ;; esac
      if [ "$in" = "$section" ]; then printf '%s\r\n' "$pair" >>"$file"; fi
    done
  done
}

# system_logged_in NAME: the message server has logged in the client NAME.
system_logged_in() { grep -q "($1) logged in" "$system_work/msgserver.log"; }

# system_enrol RUNTIME FINGER LOG: places FINGER four times on the enrolment control of the
# workstation whose runtime folder is RUNTIME (started with --demo-enrol) and waits until
# its stderr LOG says the enrolment was saved.
system_enrol() {
  local runtime=$1 finger=$2 log=$3 i placed out=$system_work/place.txt
  for i in 1 2 3 4; do
    placed=0
    for _ in $(seq 50); do
      if "$reader" place "$finger" --to enrol --runtime-dir "$runtime" --timeout 10 \
        >"$out" 2>&1; then
        placed=1
        break
      fi
      sleep 0.2
    done
    [ "$placed" = 1 ] || system_fail "placement $i of \"$finger\" was not taken: $(cat "$out")"
  done
  wait_for 20 grep -q "the enrolment was saved" "$log" ||
    system_fail "the enrolment of \"$finger\" was not saved"
}

# system_place_until_reply RUNTIME FINGER PID: places FINGER on the capture control until
# the card point PID has its reply (at most ten placements); 1 when it never came.
system_place_until_reply() {
  local runtime=$1 finger=$2 pid=$3
  for _ in $(seq 10); do
    sleep 1
    running "$pid" || return 0
    "$reader" place "$finger" --to capture --runtime-dir "$runtime" --timeout 10 \
      >"$system_work/place.txt" 2>&1 || true
    wait_for 3 ended "$pid" && return 0
  done
  wait_for 30 ended "$pid"
}


# The libfprint road: a workstation with [Lukija] Laite=LIBFPRINT, started with
# FP_VIRTUAL_IMAGE=SOCKET (libfprint's virtual image device listens there) and
# --reader-trace (stderr LOG gets a line each time the device waits for a finger).
system_waits=0  # waits of the device used up by system_feed
system_waits_more() {
  [ "$(grep -c "reader: waiting for a finger" "$1")" -gt "$system_waits" ]
}

# system_feed LOG SOCKET FINGER PLACEMENT: once the device waits for a finger (again),
# sends impression PLACEMENT of FINGER to it. system_feed LOG SOCKET --retry CODE sends a
# retry result instead.
system_feed() {
  local log=$1 socket=$2 what=("$3" "$4") png=$system_work/finger.png
  if [ "$3" != --retry ]; then
    "$reader" render "$3" --placement "$4" --out "$png" >/dev/null ||
      system_fail "vantera-reader could not render \"$3\""
    what=("$png")
  fi
  wait_for 30 system_waits_more "$log" || system_fail "the reader did not wait for a finger"
  system_waits=$(grep -c "reader: waiting for a finger" "$log")
  python3 "$system_scripts/../tests/system/virtual_image_feed.py" "$socket" "${what[@]}" ||
    system_fail "the virtual image device took nothing"
}

# system_feed_enrol LOG SOCKET FINGER: four impressions of FINGER to a workstation started
# with --demo-enrol; waits until LOG says the enrolment was saved.
system_feed_enrol() {
  local i
  for i in 1 2 3 4; do system_feed "$1" "$2" "$3" "$i"; done
  wait_for 20 grep -q "the enrolment was saved" "$1" ||
    system_fail "the enrolment of \"$3\" was not saved"
}

# system_feed_until_reply LOG SOCKET FINGER PID: impressions of FINGER (5 on) until the
# card point PID has its reply (at most ten); 1 when it never came.
system_feed_until_reply() {
  local placement
  for placement in $(seq 5 14); do
    running "$4" || return 0
    system_feed "$1" "$2" "$3" "$placement"
    wait_for 3 ended "$4" && return 0
  done
  wait_for 30 ended "$4"
}
