#!/usr/bin/env bash
# Developer entry point. Usage: ./dev.sh test | demo | bench [records] [image-KiB] | build | deps | format |
#                               fuzz [seconds] | fuzzsmoke | vmtest | package
set -euo pipefail
cd "$(dirname "$0")"
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

PACKAGES=(cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev libxml2-dev
          mingw-w64 wine wine64 clang-format python3 ccache)
# The fuzz preset only: clang with its libFuzzer and sanitizer runtimes.
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# The Ansible collection's test (ansible/tests/run.sh): ansible-core and what ansible-test sanity's
# offline tests import, all from Debian (no Python package index); the SSH server, sudo and ps its
# roll-out over SSH uses (the test starts its own sshd on 127.0.0.1).
ANSIBLE_PACKAGES=(ansible-core python3-voluptuous python3-yaml python3-jinja2 python3-packaging pylint
                  python3-pycodestyle yamllint openssh-server sudo procps)

deps() {
  local wanted=("$@") missing=()
  [ ${#wanted[@]} -eq 0 ] && wanted=("${PACKAGES[@]}")
  for p in "${wanted[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
}

# The VM test only: QEMU, without its desktop recommendations. vm/vmtest.sh downloads the
# guest's packages itself and needs apt's package lists for that.
vm_deps() {
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  apt-cache show linux-image-amd64 >/dev/null 2>&1 || $sudo apt-get update -q
  dpkg -s qemu-system-x86 >/dev/null 2>&1 && return 0
  echo "== installing: qemu-system-x86"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends qemu-system-x86
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

# Every fuzz target for the given seconds, one at a time, each on its committed seeds
# (fuzz/corpus/<target>) and a working corpus of its own in build-fuzz/corpus/<target>. A
# finding stops with the target's artifact in build-fuzz/artifacts/<target>/. Further arguments
# go to every target (the smoke in ./dev.sh test fixes the seed, so that a run can be repeated).
fuzz_all() {
  local seconds=$1 failed=0
  shift
  local options=("$@")
  deps "${PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
  build_preset fuzz
  for bin in build-fuzz/bin/fuzz_*; do
    local target=${bin##*/fuzz_}
    mkdir -p "build-fuzz/corpus/$target" "build-fuzz/artifacts/$target"
    echo "== fuzz $target: ${seconds} s"
    if ! "$bin" "${options[@]}" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=4096 -print_final_stats=1 \
        -artifact_prefix="$PWD/build-fuzz/artifacts/$target/" \
        "$PWD/build-fuzz/corpus/$target" "$PWD/fuzz/corpus/$target" >"build-fuzz/artifacts/$target.log" 2>&1; then
      tail -n 60 "build-fuzz/artifacts/$target.log"
      failed=1
    fi
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units)' "build-fuzz/artifacts/$target.log" || true
  done
  [ $failed -eq 0 ] || { echo "== fuzz: findings above" >&2; return 1; }
  echo "== fuzz: no findings"
}

# The release archives in dist/ from the native and win builds as they stand (cpack installs,
# strips and packs what the presets built; see cmake/packaging.cmake), then their test.
package_and_check() {
  echo "== package: dist/"
  mkdir -p dist
  cpack --config build/CPackConfig.cmake >build/cpack.log || { cat build/cpack.log; return 1; }
  cpack --config build-win/CPackConfig.cmake >build-win/cpack.log || { cat build-win/cpack.log; return 1; }
  local version
  version=$(sed -n 's/^#define BMC_RELEASE_VERSION "\(.*\)"$/\1/p' build/generated/bmc_versions.h)
  ls -l dist/bmc-online-update-"$version"-*.{tar.gz,zip}
  echo "== package: test"
  tests/package/package_test.sh dist
}

case "${1:-}" in
  deps) deps ;;
  build) deps; build_preset native ;;
  test)
    deps
    test_preset native
    echo "== ansible"
    deps "${ANSIBLE_PACKAGES[@]}"
    ansible/tests/run.sh build
    test_preset asan
    echo "== win: build"
    build_preset win
    wine_prefix
    echo "== win: test (Wine)"
    ctest --preset win -j "$JOBS"
    package_and_check
    echo "== fuzz: smoke"
    fuzz_all 10 -seed=1
    echo "== vmtest"
    vm_deps
    vm/vmtest.sh build
    echo "== all tests passed"
    ;;
  demo) deps; build_preset native; exec examples/demo.sh build ;;
  bench)
    deps
    build_preset native
    (cd build && ./bin/sdr_program_bench "${2:-300}" && ./bin/fw_flash_bench "${3:-2048}")
    ;;
  format) git ls-files '*.cpp' '*.h' | xargs clang-format -i ;;
  fuzz) fuzz_all "${2:-60}" ;;
  fuzzsmoke) fuzz_all 15 ;;
  vmtest) deps; vm_deps; build_preset native; vm/vmtest.sh build ;;
  ansible) deps; deps "${ANSIBLE_PACKAGES[@]}"; build_preset native; ansible/tests/run.sh build ;;
  package)
    deps
    build_preset native
    build_preset win
    [ -d build-win/wineprefix ] || wine_prefix
    package_and_check
    ;;
  *) echo "usage: ./dev.sh test | demo | bench [records] [image-KiB] | build | deps | format | fuzz [seconds] | fuzzsmoke | vmtest | package | ansible" >&2; exit 2 ;;
esac
