#!/usr/bin/env bash
# Installs what is missing, builds Perchwell and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
perchwell_install_missing "${PERCHWELL_BUILD_PACKAGES[@]}"
cmake --preset default -DPERCHWELL_BUILD_TESTS=OFF >/dev/null
cmake --build --preset default
exec build/default/bin/perchwell "$@"
