#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quenlow on the embedded demo instance.
source "$(dirname "$0")/scripts/common.sh"
install_missing
configure_and_build
exec "$BUILD_DIR/app/quenlow"
