#!/usr/bin/env bash
# Installs, builds and runs every test (CTest; widget tests on Qt's offscreen platform).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh "$@"
BUILD_DIR=${SKM_BUILD_DIR:-build}
cd "$BUILD_DIR"
ctest --output-on-failure -j"$(nproc)" --timeout 300
