#!/usr/bin/env bash
# Builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs the
# tests in that build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export KESSRIG_BUILD_DIR=${KESSRIG_BUILD_DIR:-build-asan}
scripts/build.sh -DCMAKE_BUILD_TYPE=Debug -DKESSRIG_WERROR=ON -DKESSRIG_SANITIZE=ON -DKESSRIG_BENCH=OFF
# Leaks inside the system's display and GL libraries are not ours.
export LSAN_OPTIONS=suppressions=$PWD/tests/platform/lsan.supp
cd "$KESSRIG_BUILD_DIR"
jobs=${KESSRIG_JOBS:-$(nproc 2>/dev/null || echo 2)}
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j"$jobs" -LE gl "$@"
# The GL drivers are loaded and unloaded at run time, so leaks they leave
# behind cannot even be attributed; the GL tests run without leak checking.
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
  exec xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j"$jobs" -L gl "$@"
