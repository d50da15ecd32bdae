#!/usr/bin/env bash
# Configures and builds into build/ (or $KESSRIG_BUILD_DIR); extra arguments
# go to cmake's configure step. The build also writes the default game data.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${KESSRIG_BUILD_DIR:-build}
jobs=${KESSRIG_JOBS:-$(nproc 2>/dev/null || echo 2)}
cmake -S . -B "$build_dir" "$@"
cmake --build "$build_dir" -j"$jobs"
