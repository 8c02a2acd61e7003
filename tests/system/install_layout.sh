#!/usr/bin/env bash
# cmake --install into a private prefix: the five programs, a systemd unit for each server
# that starts the program under that prefix (and passes systemd's own check where it is
# available), the desktop entry, and the example settings file, which the installed
# workstation reads as documented.
#   install_layout.sh BUILD_DIR
set -euo pipefail
build_dir=$(cd "${1:?usage: install_layout.sh BUILD_DIR}" && pwd)
prefix=$(mktemp -d /tmp/vantera-install-XXXXXX)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "install_layout: $*" >&2; exit 1; }

cmake --install "$build_dir" --prefix "$prefix" >"$prefix.log" 2>&1 ||
  { cat "$prefix.log" >&2; rm -f "$prefix.log"; fail "cmake --install failed"; }
rm -f "$prefix.log"

for program in vantera kantadb-server vantera-msgserver vantera-cardpoint vantera-reader; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is not installed"
done
for unit in kantadb-server vantera-msgserver; do
  file=$prefix/lib/systemd/system/$unit.service
  [ -f "$file" ] || fail "the unit $unit.service is not installed"
  grep -q "^ExecStart=$prefix/bin/$unit " "$file" || fail "$unit.service does not start $prefix/bin/$unit"
  grep -q "^EnvironmentFile=-/etc/default/$unit$" "$file" || fail "$unit.service has no settings file"
  if command -v systemd-analyze >/dev/null; then
    systemd-analyze verify "$file" >"$prefix/verify.txt" 2>&1 ||
      fail "$unit.service: $(cat "$prefix/verify.txt")"
  fi
done
grep -q "^Exec=vantera$" "$prefix/share/applications/vantera.desktop" ||
  fail "the desktop entry does not start vantera"

# The example settings file, copied beside the installed workstation as an administrator
# would.
example=$prefix/share/doc/vantera/Tarvola.ini.example
[ -f "$example" ] || fail "the example Tarvola.ini is not installed"
cp "$example" "$prefix/bin/Tarvola.ini"
QT_QPA_PLATFORM=offscreen "$prefix/bin/vantera" --print-settings >"$prefix/settings.txt" ||
  fail "vantera cannot read the example settings file"
grep -qxF "SettingsFile = $prefix/bin/Tarvola.ini" "$prefix/settings.txt" ||
  fail "vantera did not read Tarvola.ini beside the program"
for expected in "DataBase.Alias = Tarvola" "DataBase.Engine = 1" "DataBase.Port = 16000" \
  "DataBase.CompressLimit = 512" "MessageSrv.ServerAddress = 127.0.0.1" \
  "MessageSrv.ServerPort = 40201" "ClientName = Vantera01" "MessageSrv.PingTime = 180" \
  "MessageSrv.MessageMaxAge = 1800" "Lukija.Laite = SIMULOITU"; do
  grep -qxF "$expected" "$prefix/settings.txt" ||
    fail "the example gives no \"$expected\": $(cat "$prefix/settings.txt")"
done
# Every key is explained by a comment line just above it.
awk '/^[A-Za-z]+=/ && prev !~ /^;/ { print; bad = 1 } { prev = $0 } END { exit bad }' \
  "$example" >"$prefix/bare.txt" || fail "keys without a comment: $(cat "$prefix/bare.txt")"
echo "installed into a private prefix and checked"
