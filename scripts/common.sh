# Shared by run.sh and test.sh: install what is missing, configure and build.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${QUENLOW_BUILD_DIR:-$ROOT/build}"

# The last line is for the installation's tests: the validators of menu entries
# and AppStream metainfo, and what makes and checks the Debian package
# (dpkg-shlibdeps from dpkg-dev, file, lintian).
PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev libgl-dev libsqlite3-dev libsodium-dev
          libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev fonts-wine
          desktop-file-utils appstream dpkg-dev file lintian)

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

configure_and_build() {
  if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  fi
  cmake --build "$BUILD_DIR" -j "$(nproc)"
}

# The second build of the test command: everything compiled by clang with
# AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz targets.
SANITIZE_DIR="${QUENLOW_SANITIZE_DIR:-$ROOT/build-asan}"

configure_and_build_sanitized() {
  if [ ! -f "$SANITIZE_DIR/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$SANITIZE_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DQUENLOW_SANITIZE=ON -DQUENLOW_FUZZ=ON
  fi
  cmake --build "$SANITIZE_DIR" -j "$(nproc)"
}

# Any sanitizer finding ends the process with a failure, leaks included.
sanitizer_environment() {
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1:strict_init_order=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  export LSAN_OPTIONS="suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0"
}
