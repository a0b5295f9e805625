#!/usr/bin/env bash
# Developer entry point. Usage: ./dev.sh test | demo | bench [records] [image-KiB] | build | deps | format
set -euo pipefail
cd "$(dirname "$0")"
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

PACKAGES=(cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev libxml2-dev
          mingw-w64 wine wine64 clang-format python3)

deps() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
}

build_preset() {
  local preset=$1
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$JOBS"
}

test_preset() {
  local preset=$1
  echo "== $preset: build"
  build_preset "$preset"
  echo "== $preset: test"
  ctest --preset "$preset" -j "$JOBS"
}

wine_prefix() {
  # A fresh prefix for every run, created once before the tests start in parallel.
  rm -rf build-win/wineprefix
  WINEPREFIX="$PWD/build-win/wineprefix" WINEDEBUG=-all wineboot -i >/dev/null 2>&1 || true
}

case "${1:-}" in
  deps) deps ;;
  build) deps; build_preset native ;;
  test)
    deps
    test_preset native
    test_preset asan
    echo "== win: build"
    build_preset win
    wine_prefix
    echo "== win: test (Wine)"
    ctest --preset win -j "$JOBS"
    echo "== all tests passed"
    ;;
  demo) deps; build_preset native; exec examples/demo.sh build ;;
  bench)
    deps
    build_preset native
    (cd build && ./bin/sdr_program_bench "${2:-300}" && ./bin/fw_flash_bench "${3:-2048}")
    ;;
  format) git ls-files '*.cpp' '*.h' | xargs clang-format -i ;;
  *) echo "usage: ./dev.sh test | demo | bench [records] [image-KiB] | build | deps | format" >&2; exit 2 ;;
esac
