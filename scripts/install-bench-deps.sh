#!/usr/bin/env bash
# Extra Debian 12 packages for the benchmarks (bench/) and fuzzers (fuzz/), which CI does
# not build: Google Benchmark, stb_image and mpv as peers, clang with libFuzzer.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends libbenchmark-dev libstb-dev mpv clang libclang-rt-14-dev
