#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (windows offscreen);
# then runs the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, with a short bounded run of each fuzz target.
# QUENLOW_SANITIZERS=0 skips the second stage.
source "$(dirname "$0")/scripts/common.sh"
install_missing
configure_and_build
(cd "$BUILD_DIR" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)" --timeout 300)

if [ "${QUENLOW_SANITIZERS:-1}" != 0 ]; then
  echo "== Sanitizer build: AddressSanitizer, UndefinedBehaviorSanitizer, fuzz targets =="
  configure_and_build_sanitized
  sanitizer_environment
  cd "$SANITIZE_DIR"
  QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)" --timeout 600
fi
