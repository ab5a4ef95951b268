#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the full build,
# then the Qt-free parts again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
perchwell_install_missing "${PERCHWELL_BUILD_PACKAGES[@]}" "${PERCHWELL_TEST_PACKAGES[@]}"

jobs=$(nproc)
status=0
for preset in default asan; do
  echo "=== ${preset}: configure and build"
  cmake --preset "$preset" -DPERCHWELL_BUILD_TESTS=ON >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== ${preset}: test"
  ctest --preset "$preset" -j "$jobs" || status=1
done
exit $status
