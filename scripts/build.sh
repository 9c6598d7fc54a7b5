#!/usr/bin/env bash
# Installs what is missing, configures and builds into build/ (or $SKM_BUILD_DIR).
# Extra arguments go to cmake's configure step (e.g. -DSKM_ASAN=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD_DIR=${SKM_BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=${SKM_BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
