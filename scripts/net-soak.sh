#!/usr/bin/env bash
# Many headless clients against one race server on loopback for a while.
# The clients run in --lite mode by default (the session in full, no
# physics: a machine of few cores cannot simulate 40 worlds of 40 bikes in
# real time); --full makes them ride. Every ~10 s it prints the server's CPU
# and resident memory (from /proc), its datagrams per second (its own
# "stats" lines) and the clients' CPU. Checks that every client heard every
# other rider, that none was dropped or fell silent, that no states datagram
# came cut ("State packet too small") and that the server logged no error.
#
#   scripts/net-soak.sh [--clients N] [--minutes M] [--track T] [--full]
#
# The last line is "net_soak ok=yes|no clients=N minutes=M server_cpu=..%
# server_rss_kb_start=.. end=.. datagrams_per_s=.. client_cpu=..%"; the exit
# status is 0 only when every check passed. Keeps its logs under
# $NET_SOAK_KEEP when set.
set -uo pipefail
cd "$(dirname "$0")/.."
bin=$(cd "${KESSRIG_BUILD_DIR:-build}/bin" && pwd)
clients=40
minutes=10
track=rabbithill
lite=(--lite)
while [ $# -gt 0 ]; do
    case $1 in
    --clients) clients=$2; shift 2 ;;
    --minutes) minutes=$2; shift 2 ;;
    --track) track=$2; shift 2 ;;
    --full) lite=(); shift ;;
    -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "net-soak: unknown option '$1'" >&2; exit 2 ;;
    esac
done
for exe in kessrig-server kessrig-sim; do
    [ -x "$bin/$exe" ] || { echo "net-soak: $bin/$exe is missing (build it first)" >&2; exit 2; }
done
work=$(mktemp -d /tmp/net-soak.XXXXXX)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    if [ -n "${NET_SOAK_KEEP:-}" ]; then
        mkdir -p "$NET_SOAK_KEEP" && cp -r "$work"/. "$NET_SOAK_KEEP"/
    fi
    rm -rf "$work"
}
trap cleanup EXIT
hz=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }

# Everybody joins during a countdown long enough for all the track loads,
# so that all ride in the one race (a later joiner would watch it).
join_s=$((30 + clients * 3))
"$bin/kessrig-server" --port 0 --data "$bin" --tracks "$track" --laps 1000 --countdown "$join_s" \
    --stats 10 --upload-dir "" >"$work/server.log" 2>&1 &
server=$!
pids+=("$server")
port=
for _ in $(seq 1 100); do
    port=$(sed -n 's/^listening port=\([0-9]*\).*/\1/p' "$work/server.log")
    [ -n "$port" ] && break
    sleep 0.2
done
[ -n "$port" ] || { cat "$work/server.log" >&2; echo "net_soak ok=no clients=$clients why=server_did_not_listen"; exit 1; }

# Every client stays for the joining time and the soak, then leaves.
stay=$((join_s + minutes * 60 + 20))
client_pids=()
for i in $(seq 1 "$clients"); do
    mkdir -p "$work/c$i"
    XDG_DATA_HOME="$work/c$i" KZ_HOME="$bin" VORN_LOGFILE="$work/c$i.log" "$bin/kessrig-sim" client \
        --connect "127.0.0.1:$port" --name "S$i" --timeout 30 --max-seconds "$stay" "${lite[@]}" \
        >"$work/c$i.out" 2>"$work/c$i.err" &
    pids+=("$!")
    client_pids+=("$!")
    sleep 0.2
done
echo "net_soak: $clients clients joining (${join_s} s of countdown), then $minutes minutes"

# The soak proper starts once the gate has dropped.
for _ in $(seq 1 $((join_s * 2 + 60))); do
    grep -q '^start race=' "$work/server.log" && break
    sleep 0.5
done
grep '^start race=' "$work/server.log" || echo "net_soak: the race never started"

clients_ticks() {
    local sum=0 p
    for p in "${client_pids[@]}"; do sum=$((sum + $(cpu_ticks "$p"))); done
    echo "$sum"
}
start_time=$(date +%s.%N)
start_server=$(cpu_ticks "$server")
start_clients=$(clients_ticks)
rss_start=$(rss_kb "$server")
rss_max=$rss_start
end_at=$(($(date +%s) + minutes * 60))
last_time=$start_time
last_server=$start_server
last_clients=$start_clients
while [ "$(date +%s)" -lt "$end_at" ]; do
    sleep 10
    now=$(date +%s.%N)
    srv=$(cpu_ticks "$server")
    cli=$(clients_ticks)
    rss=$(rss_kb "$server")
    [ "$rss" -gt "$rss_max" ] && rss_max=$rss
    rate=$(grep '^stats ' "$work/server.log" | tail -n 1 | sed -n 's/.*peers=\([0-9]*\) in_per_s=\([0-9]*\) out_per_s=\([0-9]*\).*/peers=\1 in_per_s=\2 out_per_s=\3/p')
    awk -v t="$now" -v t0="$start_time" -v lt="$last_time" -v s="$srv" -v ls="$last_server" -v c="$cli" \
        -v lc="$last_clients" -v hz="$hz" -v n="$clients" -v rss="$rss" -v rate="$rate" 'BEGIN {
            span = t - lt
            printf "t=%.0fs server_cpu=%.1f%% server_rss_kb=%d %s clients_cpu=%.0f%% per_client=%.2f%%\n",
                t - t0, 100 * (s - ls) / hz / span, rss, rate, 100 * (c - lc) / hz / span, 100 * (c - lc) / hz / span / n
        }'
    last_time=$now
    last_server=$srv
    last_clients=$cli
done
end_time=$(date +%s.%N)
end_server=$(cpu_ticks "$server")
end_clients=$(clients_ticks)
rss_end=$(rss_kb "$server")
dropped_before_end=$(grep -c '^leave ' "$work/server.log")

for p in "${client_pids[@]}"; do wait "$p"; done
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null

# ---- checks -------------------------------------------------------------------
ok=yes
fail() { ok=no; echo "FAIL: $*"; }
others=$((clients - 1))
short=0
worst_stalls=0
worst_lag=0
for i in $(seq 1 "$clients"); do
    out=$work/c$i.out
    heard=$(sed -n 's/^heard=\([0-9]*\) of=\([0-9]*\) lasted=\([a-z]*\)/\1 \2 \3/p' "$out")
    set -- $heard
    if [ "${1:-0}" != "$others" ] || [ "${2:-0}" != "$others" ] || [ "${3:-no}" != yes ]; then
        short=$((short + 1))
        fail "client $i heard=${1:-?} of=${2:-?} (want $others) lasted=${3:-?}: $(tail -n 2 "$work/c$i.err" | tr '\n' ' ')"
    fi
    st=$(sed -n 's/^realtime stalls=\([0-9]*\) worst_lag_ms=\([0-9]*\)/\1 \2/p' "$out")
    set -- $st
    [ "${1:-0}" -gt "$worst_stalls" ] && worst_stalls=$1
    [ "${2:-0}" -gt "$worst_lag" ] && worst_lag=$2
done
[ "$dropped_before_end" = 0 ] || fail "the server dropped $dropped_before_end players during the soak: $(grep '^leave ' "$work/server.log" | head -n 3 | tr '\n' ' ')"
grep -h 'State packet too small' "$work"/c*.log 2>/dev/null | head -n 3 && fail "a states datagram was cut"
grep -E 'error|can.t' "$work/server.log" && fail "the server logged an error"
joined=$(grep -c '^join ' "$work/server.log")
[ "$joined" = "$clients" ] || fail "$joined of $clients clients joined (each once)"

awk -v t="$end_time" -v t0="$start_time" -v s="$end_server" -v s0="$start_server" -v c="$end_clients" \
    -v c0="$start_clients" -v hz="$hz" -v n="$clients" -v m="$minutes" -v ok="$ok" -v r0="$rss_start" \
    -v r1="$rss_end" -v rmax="$rss_max" -v server_log="$work/server.log" -v stalls="$worst_stalls" \
    -v lag="$worst_lag" -v mode="${lite[*]:-full}" 'BEGIN {
        span = t - t0
        # Datagrams per second over the soak, from the stats lines inside it.
        while ((getline line < server_log) > 0) {
            if (line !~ /^stats /) continue
            split(line, w, " ")
            for (i in w) { split(w[i], kv, "="); if (kv[1] == "in_per_s") a = kv[2]; if (kv[1] == "out_per_s") b = kv[2]; if (kv[1] == "peers") p = kv[2] }
            if (p == n) { sum += a + b; count++ }
        }
        printf "net_soak ok=%s clients=%d minutes=%d mode=%s server_cpu=%.1f%% server_rss_kb_start=%d end=%d max=%d datagrams_per_s=%.0f client_cpu=%.2f%% clients_cpu=%.0f%% worst_client_stalls=%d worst_client_lag_ms=%d\n",
            ok, n, m, mode, 100 * (s - s0) / hz / span, r0, r1, rmax, count ? sum / count : 0,
            100 * (c - c0) / hz / span / n, 100 * (c - c0) / hz / span, stalls, lag
    }'
[ "$ok" = yes ]
