#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quenlow on the embedded demo instance.
#
#   ./run.sh                     Quenlow on the demo instance
#   ./run.sh --workload [RATE]   the same, with simulated users keeping the
#                                instance busy (RATE changes per second,
#                                default 20) until Quenlow ends
source "$(dirname "$0")/scripts/common.sh"
install_missing
configure_and_build
if [ "${1:-}" != "--workload" ]; then
  exec "$BUILD_DIR/app/quenlow"
fi
rate="${2:-20}"
"$BUILD_DIR/ocisim/quenlow-demo-admin" workload -r "$rate" > /dev/null &
workload=$!
stop_workload() {
  kill -TERM "$workload" 2> /dev/null
  wait "$workload" 2> /dev/null
}
trap stop_workload EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
status=0
"$BUILD_DIR/app/quenlow" || status=$?
exit "$status"
