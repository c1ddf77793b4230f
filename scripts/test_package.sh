#!/usr/bin/env bash
# test_package.sh: unpacks dist/wfx_talvoran.zip into a fresh folder and runs the package tests of the
# Windows test hosts (64-bit, and 32-bit where this machine runs 32-bit programs) under Wine against it.
# Expects scripts/wine_env.sh sourced or sources it; exits non-zero when a test failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
[ -f dist/wfx_talvoran.zip ] || { echo "test_package.sh: dist/wfx_talvoran.zip is missing" >&2; exit 1; }
[ "${WINE_OK:-}" = 1 ] || source scripts/wine_env.sh
[ "$WINE_OK" = 1 ] || { echo "test_package.sh: Wine is missing" >&2; exit 1; }
rc=0
for bits in 64 32; do
  if [ "$bits" = 32 ] && [ "$WINE32_OK" != 1 ]; then
    echo "32-bit package test NOT RUN: $WINE32_WHY"
    continue
  fi
  unpacked=$(mktemp -d)
  unzip -q dist/wfx_talvoran.zip -d "$unpacked"
  wine_prefix "$bits"
  TALV_PACKAGE_DIR="Z:${unpacked//\//\\}" wine_run "$bits" "build/win$bits/bin/talv_host_tests.exe" \
    --gtest_also_run_disabled_tests --gtest_filter='Package.*' </dev/null || rc=1
  rm -rf "$unpacked"
done
exit $rc
