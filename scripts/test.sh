#!/usr/bin/env bash
# Installs what is needed, builds with warnings as errors and runs the whole
# test suite. The tests that need a display run in a virtual X server.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export KESSRIG_BUILD_DIR=${KESSRIG_BUILD_DIR:-build-test}
scripts/build.sh -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESSRIG_WERROR=ON -DKESSRIG_TESTS=ON
cd "$KESSRIG_BUILD_DIR"
jobs=${KESSRIG_JOBS:-$(nproc 2>/dev/null || echo 2)}
exec xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j"$jobs" "$@"
