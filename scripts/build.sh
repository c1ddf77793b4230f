#!/usr/bin/env bash
# build.sh KIND: configures and builds one kind into build/KIND.
#   native  Linux, release with debug info        asan   Linux, AddressSanitizer + UBSan
#   tsan    Linux, ThreadSanitizer                 win64  mingw-w64 x86-64      win32  mingw-w64 i686
#   bench   Linux, the benchmarks, built with the shipped programs' flags (optimisation included)
set -euo pipefail
kind=$1
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${TALV_JOBS:-$(nproc)}
args=(-S "$root" -B "$root/build/$kind" -DCMAKE_BUILD_TYPE=RelWithDebInfo)
case "$kind" in
  native) ;;
  asan)   args+=(-DTALV_SANITIZE=address,undefined) ;;
  tsan)   args+=(-DTALV_SANITIZE=thread) ;;
  bench)  args+=(-DTALV_BENCH=ON -DTALV_TESTS=OFF) ;;
  win64)  args+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake") ;;
  win32)  args+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake") ;;
  *) echo "build.sh: unknown kind $kind" >&2; exit 2 ;;
esac
cmake "${args[@]}" >/dev/null
# Progress lines are dropped; warnings and errors stay.
set +e
cmake --build "$root/build/$kind" -j "$jobs" 2>&1 | grep -vE '^\[ *[0-9]+%\] (Building|Linking|Built target)|^Consolidate compiler'
rc=${PIPESTATUS[0]}
exit "$rc"
