#!/usr/bin/env bash
# Builds the threaded parts with ThreadSanitizer and runs them: worlds side
# by side on threads (the world tests) and one world's tick on several
# threads (kessrig-sim bench and race with --threads), and the mixer with
# its audio thread changing voices under it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build_dir=${KESSRIG_BUILD_DIR:-build-tsan}
jobs=${KESSRIG_JOBS:-$(nproc 2>/dev/null || echo 2)}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESSRIG_WERROR=ON -DKESSRIG_TSAN=ON \
  -DKESSRIG_GAME=OFF -DKESSRIG_BENCH=OFF -DKESSRIG_TESTS=ON
cmake --build "$build_dir" -j"$jobs" --target race_world_test audio_test kessrig-sim kessrig_data
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export XDG_DATA_HOME=$home
"$build_dir"/tests/race_world_test
"$build_dir"/tests/audio_test --gtest_filter='*race*'
"$build_dir"/bin/kessrig-sim bench --bikes 10 --ticks 600 --threads 3 --hash
"$build_dir"/bin/kessrig-sim race --scripted 6 --laps 1 --threads 2 --erode 50 --date 1000 | tail -1
echo "tsan: no data races found"
