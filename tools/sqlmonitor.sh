#!/usr/bin/env bash
# Installs what is missing, builds, and starts the SQL monitor.
source "$(dirname "$0")/../scripts/common.sh"
install_missing
configure_and_build
exec "$BUILD_DIR/tools/sqlmonitor/quenlow-sqlmonitor" "$@"
