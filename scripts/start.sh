#!/usr/bin/env bash
# Installs what is missing, builds Zevrin and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEV_BUILD_TESTS=OFF -DZEV_BUILD_BENCH=OFF >/dev/null
cmake --build build/release --target zevrin zevrin-cli
exec build/release/src/app/zevrin "$@"
