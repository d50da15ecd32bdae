#!/usr/bin/env bash
# Builds the threaded parts with ThreadSanitizer and runs them: worlds side
# by side on threads (the world tests) and one world's tick on several
# threads (kessrig-sim bench and race with --threads), and the mixer with
# its audio thread changing voices under it. Then the race server: its
# tests (the server in-process against loopback clients, uploads included),
# and a short real session of kessrig-server with two light clients
# (kessrig-sim client --lite) over loopback.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build_dir=${KESSRIG_BUILD_DIR:-build-tsan}
jobs=${KESSRIG_JOBS:-$(nproc 2>/dev/null || echo 2)}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESSRIG_WERROR=ON -DKESSRIG_TSAN=ON \
  -DKESSRIG_GAME=OFF -DKESSRIG_BENCH=OFF -DKESSRIG_TESTS=ON
cmake --build "$build_dir" -j"$jobs" --target race_world_test audio_test kessrig-sim kessrig_data \
  kessrig-server server_test
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export XDG_DATA_HOME=$home
"$build_dir"/tests/race_world_test
"$build_dir"/tests/audio_test --gtest_filter='*race*'
"$build_dir"/bin/kessrig-sim bench --bikes 10 --ticks 600 --threads 3 --hash
"$build_dir"/bin/kessrig-sim race --scripted 6 --laps 1 --threads 2 --erode 50 --date 1000 | tail -1

"$build_dir"/tests/server_test
bin=$(cd "$build_dir/bin" && pwd)
session=$home/session
mkdir -p "$session"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$home"' EXIT
"$bin/kessrig-server" --port 0 --data "$bin" --tracks rabbithill --countdown 8 --stats 5 \
  --upload-dir "$session/uploads" >"$session/server.log" 2>&1 &
server=$!
pids+=("$server")
port=
for _ in $(seq 1 100); do
  port=$(sed -n 's/^listening port=\([0-9]*\).*/\1/p' "$session/server.log")
  [ -n "$port" ] && break
  sleep 0.2
done
[ -n "$port" ] || { cat "$session/server.log" >&2; echo "tsan: the server did not listen" >&2; exit 1; }
clients=()
for name in A B; do
  mkdir -p "$session/$name"
  XDG_DATA_HOME="$session/$name" KZ_HOME="$bin" "$bin/kessrig-sim" client --connect "127.0.0.1:$port" \
    --name "$name" --lite --timeout 30 --max-seconds 20 >"$session/$name.out" 2>&1 &
  clients+=("$!")
  pids+=("$!")
done
status=0
for p in "${clients[@]}"; do wait "$p" || status=1; done
kill -TERM "$server"
wait "$server" || status=1
if grep -l 'ThreadSanitizer' "$session"/*.log "$session"/*.out; then
  cat "$session"/*.log "$session"/*.out >&2
  exit 1
fi
[ "$status" = 0 ] || { tail -n 5 "$session"/*.log "$session"/*.out >&2; echo "tsan: the session failed" >&2; exit 1; }
joins=$(grep -c 'join slot=' "$session/server.log" || true)
[ "$joins" -ge 2 ] && grep -q '^start race=.* riders=2' "$session/server.log" && grep -q 'lasted=yes' "$session/A.out" &&
  grep -q 'lasted=yes' "$session/B.out" ||
  { tail -n 5 "$session"/*.log "$session"/*.out >&2; echo "tsan: the session did not run a race" >&2; exit 1; }
echo "tsan: server session joins=$joins $(grep -h 'heard=' "$session/A.out" "$session/B.out" | tr '\n' ' ')"
echo "tsan: no data races found"
