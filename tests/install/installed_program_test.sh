#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR under a prefix with blanks, checks
# what was installed, and starts the installed Quenlow as a user would, with a
# home and a data folder of its own: it must log on to the demo instance as
# SYSTEM/MANAGER with no setup step, keep the instance in the user's data
# folder and write nothing into the installed tree; a data folder that cannot
# be made and a damaged instance file must end in an error window that says so,
# with the file left as it was.
#
# Arguments: the build folder, the driver library (driver.cpp), the list of
# installed files.
set -euo pipefail
build=$1 driver=$2 expected=$3

work=$(mktemp -d)
monitor=
cleanup() {
  [ -n "$monitor" ] && kill "$monitor" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

prefix="/opt/Quenlow Demo"
root="$work/dest$prefix"
DESTDIR="$work/dest" cmake --install "$build" --prefix "$prefix" >"$work/install.log" \
  || { cat "$work/install.log"; fail "cmake --install"; }

# Every file of the list, and nothing else: no data folder, nothing of the build.
(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort) >"$work/installed"
sort "$expected" | diff -u - "$work/installed" || fail "installed files differ from the list"
(cd "$work/dest" && find . ! -type d) | grep -vF "./${prefix#/}/" && fail "files installed outside the prefix"
# Where the list puts the stand-in's Oracle home and the monitor's client library.
client=$(grep '/lib/libclntsh\.so$' "$expected")
home=$root/${client%/lib/libclntsh.so}
smclient=$root/$(grep '/libquenlow_smclient\.so$' "$expected")
[ ! -e "$home/oradata" ] || fail "the installed Oracle home has an oradata folder"

# The menu entries and the metainfo are what the desktop's validators accept.
for entry in "$root"/share/applications/*.desktop; do
  desktop-file-validate "$entry" || fail "desktop-file-validate $entry"
done
appstreamcli validate --no-net "$root"/share/metainfo/org.example.quenlow.metainfo.xml >"$work/appstream.log" \
  || { cat "$work/appstream.log"; fail "appstreamcli validate"; }

# The whole installed tree, to see that running it wrote nothing into it.
tree_state() { find "$root" -printf '%P %y %s %m %T@\n' | sort; }
tree_state >"$work/tree.before"

# Runs the installed program with the driver as its user; its lines to $work/$1.log.
run_quenlow() {
  local log=$work/$1.log data=$2
  set +e
  env -u OCISIM_ORADATA -u LD_LIBRARY_PATH -u TNS_ADMIN -u ORACLE_SID -u OCISIM_DEMO_SESSIONS \
    HOME="$work/home" XDG_DATA_HOME="$data" QT_QPA_PLATFORM=offscreen \
    timeout 150 env LD_PRELOAD="$driver" "$root/bin/quenlow" >"$log" 2>"$work/$1.stderr"
  status=$?
  set -e
  sed 's/^/    /' "$log"
  # In a sanitizer build, a finding fails the run whatever the program answered.
  ! grep -q 'Sanitizer' "$work/$1.stderr" || { cat "$work/$1.stderr"; fail "a sanitizer finding in $1"; }
}
mkdir -p "$work/home"

echo "== first start: logs on to a new demo instance in the user's data folder"
run_quenlow first "$work/data"
[ "$status" -eq 0 ] || { cat "$work/first.stderr"; fail "quenlow ended with status $status"; }
grep -q '^driver: login$' "$work/first.log" || fail "no login dialog"
grep -Fxq 'driver: login icon: 16 22 24 32 48 64 128 256' "$work/first.log" \
  || fail "the login dialog lacks the program's icon"
grep -Eq '^driver: main window: Quenlow___ Oracle8i .* \| Total sessions: [0-9]+$' "$work/first.log" \
  || fail "no main window with the session list"
! grep -Eq '^driver: (error window|message box|gave up)' "$work/first.log" || fail "an error was shown"
oradata="$work/data/quenlow/oradata"
[ -f "$oradata/DEMO.dbf" ] || fail "no instance in the data folder"
[ "$(stat -c %a "$oradata")" = 700 ] || fail "the data folder is not the user's alone"
[ "$(stat -c %a "$oradata/DEMO.dbf")" = 600 ] || fail "the instance file is not the user's alone"

echo "== the demo admin tool finds the same instance"
admin() {
  env -u OCISIM_ORADATA -u LD_LIBRARY_PATH -u TNS_ADMIN -u ORACLE_SID HOME="$work/home" XDG_DATA_HOME="$work/data" \
    "$root/bin/quenlow-demo-admin" "$@"
}
[ "$(admin file)" = "$oradata/DEMO.dbf" ] || fail "quenlow-demo-admin file: $(admin file)"
admin count | grep -Eq '^[0-9]+$' || fail "quenlow-demo-admin count"

echo "== the SQL monitor registers the client library of the installation"
env QT_QPA_PLATFORM=offscreen QUENLOW_SQLMONITOR_SHM="quenlow-install-test-$$" \
  QUENLOW_SQLMONITOR_REGISTRY="$work/classes" HOME="$work/home" XDG_DATA_HOME="$work/data" \
  "$root/bin/quenlow-sqlmonitor" >"$work/monitor.log" 2>&1 &
monitor=$!
for _ in $(seq 100); do
  [ -s "$work/classes/{CB9879E2-4395-11D0-9FFC-00A0248E4B9A}" ] && break
  sleep 0.1
done
kill "$monitor" 2>/dev/null || true
wait "$monitor" 2>/dev/null || true
monitor=
[ "$(head -n 1 "$work/classes/{CB9879E2-4395-11D0-9FFC-00A0248E4B9A}" 2>/dev/null)" = \
  "$smclient" ] || { cat "$work/monitor.log"; fail "the monitor registered no installed library"; }

echo "== a data folder that cannot be made: an error window that names it"
printf 'not a folder\n' >"$work/plain-file"
run_quenlow unwritable "$work/plain-file"
grep -Fxq "driver: error window: ORACLE not available / Cannot create the data folder $work/plain-file/quenlow/oradata: Not a directory" \
  "$work/unwritable.log" || fail "no error window naming the data folder"
grep -q '^driver: login cancelled$' "$work/unwritable.log" || fail "the login dialog did not stay"
! grep -q '^driver: main window' "$work/unwritable.log" || fail "logged on without an instance"
[ "$(cat "$work/plain-file")" = "not a folder" ] || fail "the file in the way was changed"

echo "== a damaged instance file: an error window, and the file as it was"
mkdir -p "$work/damaged/quenlow/oradata"
chmod 700 "$work/damaged/quenlow/oradata"
printf 'not an instance %04d\n' $(seq 500) >"$work/damaged/quenlow/oradata/DEMO.dbf"
chmod 600 "$work/damaged/quenlow/oradata/DEMO.dbf"
cp "$work/damaged/quenlow/oradata/DEMO.dbf" "$work/damaged.copy"
run_quenlow damaged "$work/damaged"
grep -Fxq "driver: error window: ORACLE not available / The data file $work/damaged/quenlow/oradata/DEMO.dbf is damaged or is not an instance's data file; it is left as it is" \
  "$work/damaged.log" || fail "no error window naming the damaged file"
cmp -s "$work/damaged/quenlow/oradata/DEMO.dbf" "$work/damaged.copy" || fail "the damaged file was changed"

echo "== nothing was written into the installed tree"
tree_state | diff -u "$work/tree.before" - || fail "the installed tree changed"
echo "install test passed"
