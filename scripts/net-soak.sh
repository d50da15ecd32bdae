#!/usr/bin/env bash
# Many headless clients against one race server on loopback for a while.
# The clients run in --lite mode by default (the session in full, no
# physics: a machine of few cores cannot simulate 40 worlds of 40 bikes in
# real time); --full makes them ride. Every --sample seconds (default 10) it
# prints the server's CPU and resident memory (from /proc), its datagrams
# per second (its own "stats" lines) and the clients' CPU. Checks that every
# client heard every other rider, that none was dropped or fell silent,
# that no states datagram came cut ("State packet too small"), that the
# server logged no error and that its resident memory at the end is at most
# --max-growth percent (default 10) above the first sample's.
#
#   scripts/net-soak.sh [--clients N] [--minutes M | --hours H] [--sample S]
#                       [--max-growth PCT] [--track T] [--full]
#
# The last line is "net_soak ok=yes|no clients=N minutes=M server_cpu=..%
# server_rss_kb_start=.. end=.. max=.. growth_kb=.. datagrams_per_s=..
# client_cpu=..%"; the exit status is 0 only when every check passed. Keeps
# its logs under $NET_SOAK_KEEP when set.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/net-common.sh
clients=40
minutes=10
sample=10
max_growth=10
track=rabbithill
lite=(--lite)
number() { [[ $2 =~ ^[0-9]+(\.[0-9]+)?$ ]] || { echo "net-soak: $1 expects a number, got '$2'" >&2; exit 2; }; }
while [ $# -gt 0 ]; do
    case $1 in
    --clients) clients=$2; shift 2 ;;
    --minutes) number "$1" "$2"; minutes=$2; shift 2 ;;
    --hours) number "$1" "$2"; minutes=$(awk -v h="$2" 'BEGIN { print h * 60 }'); shift 2 ;;
    --sample) sample=$2; shift 2 ;;
    --max-growth) number "$1" "$2"; max_growth=$2; shift 2 ;;
    --track) track=$2; shift 2 ;;
    --full) lite=(); shift ;;
    -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "net-soak: unknown option '$1'" >&2; exit 2 ;;
    esac
done
[[ $clients =~ ^[0-9]+$ ]] && [ "$clients" -ge 2 ] && [ "$clients" -le 190 ] ||
    { echo "net-soak: --clients expects 2 to 190, got '$clients'" >&2; exit 2; }
[[ $sample =~ ^[0-9]+$ ]] && [ "$sample" -ge 1 ] || { echo "net-soak: --sample expects whole seconds" >&2; exit 2; }
soak_s=$(awk -v m="$minutes" 'BEGIN { printf "%d", m * 60 + 0.5 }')
[ "$soak_s" -ge 1 ] || { echo "net-soak: the soak must last a second at least" >&2; exit 2; }
net_setup net-soak "${NET_SOAK_KEEP:-}"
hz=$(getconf CLK_TCK)

# Everybody joins during a countdown long enough for all the track loads,
# so that all ride in the one race (a later joiner would watch it).
join_s=$((30 + clients * 3))
net_start_server --tracks "$track" --laps 1000 --countdown "$join_s" --stats "$sample" --upload-dir ""

# Every client stays for the joining time and the soak, then leaves.
stay=$((join_s + soak_s + 20))
client_pids=()
names=()
for i in $(seq 1 "$clients"); do
    net_client "S$i" --timeout 30 --max-seconds "$stay" "${lite[@]}"
    client_pids+=("$client_pid")
    names+=("S$i")
    sleep 0.2
done
echo "net_soak: $clients clients joining (${join_s} s of countdown), then $minutes minutes"

# The soak proper starts once the gate has dropped.
net_wait_for_start $((join_s + 30)) || echo "net_soak: the race never started"
grep '^start race=' "$work/server.log"

clients_ticks() {
    local sum=0 p
    for p in "${client_pids[@]}"; do sum=$((sum + $(cpu_ticks "$p"))); done
    echo "$sum"
}
start_time=$(date +%s.%N)
start_server=$(cpu_ticks "$server")
start_clients=$(clients_ticks)
rss_start=
rss_max=0
end_at=$(($(date +%s) + soak_s))
last_time=$start_time
last_server=$start_server
last_clients=$start_clients
while [ "$(date +%s)" -lt "$end_at" ]; do
    left=$((end_at - $(date +%s)))
    sleep $((left < sample ? (left > 0 ? left : 1) : sample))
    now=$(date +%s.%N)
    srv=$(cpu_ticks "$server")
    cli=$(clients_ticks)
    rss=$(rss_kb "$server")
    [ "$rss" -gt "$rss_max" ] && rss_max=$rss
    # The memory of the settled session, one sample in, is what the end
    # is measured against.
    [ -n "$rss_start" ] || rss_start=$rss
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
[ -n "$rss_start" ] || rss_start=$rss_end
server_alive=yes
kill -0 "$server" 2>/dev/null || server_alive=no
dropped_before_end=$(grep -c '^leave ' "$work/server.log")

for p in "${client_pids[@]}"; do wait "$p"; done
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null

# ---- checks -------------------------------------------------------------------
[ "$server_alive" = yes ] || fail "the server was gone before the end of the soak: $(tail -n 3 "$work/server.log" | tr '\n' ' ')"
others=$((clients - 1))
short=0
worst_stalls=0
worst_lag=0
for n in "${names[@]}"; do
    out=$work/$n.out
    heard=$(sed -n 's/^heard=\([0-9]*\) of=\([0-9]*\) lasted=\([a-z]*\)/\1 \2 \3/p' "$out")
    set -- $heard
    if [ "${1:-0}" != "$others" ] || [ "${2:-0}" != "$others" ] || [ "${3:-no}" != yes ]; then
        short=$((short + 1))
        fail "client $n heard=${1:-?} of=${2:-?} (want $others) lasted=${3:-?}: $(tail -n 2 "$work/$n.err" | tr '\n' ' ')"
    fi
    st=$(sed -n 's/^realtime stalls=\([0-9]*\) worst_lag_ms=\([0-9]*\)/\1 \2/p' "$out")
    set -- $st
    [ "${1:-0}" -gt "$worst_stalls" ] && worst_stalls=$1
    [ "${2:-0}" -gt "$worst_lag" ] && worst_lag=$2
done
[ "$dropped_before_end" = 0 ] || fail "the server dropped $dropped_before_end players during the soak: $(grep '^leave ' "$work/server.log" | head -n 3 | tr '\n' ' ')"
net_common_checks
growth=$((rss_end - rss_start))
awk -v g="$growth" -v b="$rss_start" -v pct="$max_growth" 'BEGIN { exit !(b > 0 && g > b * pct / 100) }' &&
    fail "the server's resident memory grew by $growth kB over $rss_start kB (more than $max_growth%)"
joined=$(grep -c '^join ' "$work/server.log")
[ "$joined" = "$clients" ] || fail "$joined of $clients clients joined (each once)"

awk -v t="$end_time" -v t0="$start_time" -v s="$end_server" -v s0="$start_server" -v c="$end_clients" \
    -v c0="$start_clients" -v hz="$hz" -v n="$clients" -v m="$minutes" -v ok="$ok" -v r0="$rss_start" \
    -v r1="$rss_end" -v rmax="$rss_max" -v server_log="$work/server.log" -v stalls="$worst_stalls" \
    -v lag="$worst_lag" -v mode="${lite[*]:-full}" -v growth="$growth" 'BEGIN {
        span = t - t0
        # Datagrams per second over the soak, from the stats lines inside it.
        while ((getline line < server_log) > 0) {
            if (line !~ /^stats /) continue
            split(line, w, " ")
            for (i in w) { split(w[i], kv, "="); if (kv[1] == "in_per_s") a = kv[2]; if (kv[1] == "out_per_s") b = kv[2]; if (kv[1] == "peers") p = kv[2] }
            if (p == n) { sum += a + b; count++ }
        }
        printf "net_soak ok=%s clients=%d minutes=%g wall_s=%.0f mode=%s server_cpu=%.1f%% server_rss_kb_start=%d end=%d max=%d growth_kb=%d datagrams_per_s=%.0f client_cpu=%.2f%% clients_cpu=%.0f%% worst_client_stalls=%d worst_client_lag_ms=%d\n",
            ok, n, m, span, mode, 100 * (s - s0) / hz / span, r0, r1, rmax, growth, count ? sum / count : 0,
            100 * (c - c0) / hz / span / n, 100 * (c - c0) / hz / span, stalls, lag
    }'
[ "$ok" = yes ]
