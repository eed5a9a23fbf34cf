#!/usr/bin/env bash
# Builds and runs every test: the Linux build with AddressSanitizer and
# UndefinedBehaviorSanitizer, the x86_64 Windows build under Wine, and the
# i686 Windows product (its tests only when a 32-bit Wine is installed);
# between them every parser's fuzz target runs for a short while.
# Installs the Debian packages it needs first. Any failure fails the run.
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD
jobs=${VEUPD_JOBS:-2}

mapfile -t packages < <(grep -v '^#' .ci/packages.txt)
.ci/install-packages.sh "${packages[@]}"

step() { printf '\n=== %s ===\n' "$*"; }

step "Linux: Debug with sanitizers"
cmake --preset ci
cmake --build --preset ci -j "$jobs"
ctest --preset ci -j "$jobs"

step "Linux: fuzz every parser for a short while"
fuzz/run.sh "${VEUPD_FUZZ_SECONDS:-20}"

# Wine runs in a fresh prefix inside the build folder, made before the build
# (the build itself runs tools under Wine), with a virtual X display for the
# tests that open windows.
use_fresh_wine_prefix() {
  export WINEPREFIX="$1/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  rm -rf "$WINEPREFIX"
  mkdir -p "$1"
  xvfb-run -a bash -c '"$1" wineboot -i >/dev/null 2>&1 && /usr/lib/wine/wineserver -w' wineboot "$2"
}

run_wine_tests() {
  xvfb-run -a bash -c '
    status=0
    ctest --preset "$1" || status=$?
    /usr/lib/wine/wineserver -k || true
    exit $status' run_wine_tests "$1"
}

step "Windows x86_64: build and test under Wine"
use_fresh_wine_prefix "$root/build/mingw64" /usr/lib/wine/wine64
cmake --preset mingw64
cmake --build --preset mingw64 -j "$jobs"
run_wine_tests mingw64

step "Windows i686: the product"
# A 32-bit Wine is tried for but never required: without it the product is
# still built, and one line says why its tests did not run.
wine32_status=$(.ci/install-wine32.sh) && wine32_status=
if [ -x /usr/lib/wine/wine ]; then
  use_fresh_wine_prefix "$root/build/mingw32" /usr/lib/wine/wine
  cmake --preset mingw32 -DBUILD_TESTING=ON
  cmake --build --preset mingw32 -j "$jobs"
  run_wine_tests mingw32
else
  # The product, and the test library whose exports use both 32-bit calling
  # conventions, so that at least its build is checked.
  cmake --preset mingw32 -DBUILD_TESTING=ON
  cmake --build --preset mingw32 -j "$jobs" --target veupd veupd-tool dodudav test_dll
  echo "i686 tests skipped (product and 32-bit test DLL built, not run): no 32-bit Wine (/usr/lib/wine/wine): ${wine32_status:-not installed}"
fi

step "All tests passed"
