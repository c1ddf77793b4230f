#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: native, native under AddressSanitizer +
# UBSan, the threaded tests under ThreadSanitizer, and the Windows builds (64-bit and 32-bit) under
# Wine; the 32-bit ones only where the kernel runs 32-bit programs, said loudly where it does not.
# Exits non-zero when anything failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh || { echo "setup failed"; exit 1; }
# The Windows tests make windows (the host's main window of the plug-in tests, timers, views): Wine
# makes them only with a display, so without one the whole run goes under a virtual one.
if [ -z "${DISPLAY:-}" ] && [ -z "${TALV_UNDER_XVFB:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
  TALV_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$root/scripts/test_all.sh" "$@"
fi
source scripts/wine_env.sh

failed=()
step() {  # step NAME COMMAND...: runs one step and remembers a failure
  local name=$1; shift
  echo "=== $name"
  if ! "$@"; then failed+=("$name"); echo "=== $name FAILED"; fi
}
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
run_ctest() {  # run_ctest BUILD [ctest args]
  local dir=$1; shift
  (cd "build/$dir" && ctest --output-on-failure --timeout 300 -j "${TALV_JOBS:-$(nproc)}" "$@")
}
run_wine_ctest() {  # run_wine_ctest BUILD: run_ctest, then the test programs Wine failed to start
  local rc=0
  run_ctest "$1" || rc=1
  wine_notes
  return "$rc"
}

step "build native" bash scripts/build.sh native
step "test native" run_ctest native
step "build asan" bash scripts/build.sh asan
step "test asan+ubsan" run_ctest asan
step "build tsan" bash scripts/build.sh tsan
step "test tsan" run_ctest tsan

# The Windows builds are deliverables: both are built wherever the cross compilers are.
step "build win64" bash scripts/build.sh win64
step "build win32" bash scripts/build.sh win32
step "package" env TALV_PACKAGE_NO_BUILD=1 bash scripts/package.sh
if [ "$WINE_OK" = 1 ]; then
  wine_prefix 64
  wine_warm_audio 64 build/win64/bin/talv_audio_tests.exe
  step "test win64 under wine" run_wine_ctest win64
  if [ "$WINE32_OK" = 1 ]; then
    wine_prefix 32
    wine_warm_audio 32 build/win32/bin/talv_audio_tests.exe
    step "test win32 under wine" run_wine_ctest win32
  else
    echo "=================================================================================="
    echo "=== win32 tests NOT RUN: $WINE32_WHY"
    echo "=================================================================================="
  fi
  step "test the package under wine" bash scripts/test_package.sh
elif [ "${CI:-}" = true ]; then
  failed+=("wine missing")
  echo "=== Wine is missing: the Windows builds cannot be tested"
else
  echo "=== Wine is not installed: the Windows builds were not tested (scripts/setup.sh installs it)"
fi

if ((${#failed[@]})); then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all test runs passed"
