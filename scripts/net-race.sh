#!/usr/bin/env bash
# Real races through real processes on loopback: kessrig-server and N
# headless clients (kessrig-sim client, the auto pilot riding), each in a
# home of its own. Checks that every client finished, that every client was
# told of every other rider, that the classification is the same on every
# client and in the server's result, and that the ruts agree: every client's
# terrain hash, taken once the last ruts are in after the result, is the
# same.
#
#   scripts/net-race.sh [--clients N] [--laps L] [--track T] [--fake-loss P]
#                       [--fake-lag MS] [--late-joiner]
#
# --fake-loss and --fake-lag apply to every client's reception. With
# --late-joiner one more client joins after the gate drop: it rides the
# warm-up of that race, then rides and finishes the next one (alone, once
# the others have left).
#
# The last line is "net_race ok=yes|no clients=N ..."; the exit status is 0
# only when every check passed. Needs the build (kessrig-server, kessrig-sim
# and the game data with the track's racing lines in build/bin, or
# $KESSRIG_BUILD_DIR/bin). Keeps its logs under $NET_RACE_KEEP when set.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/net-common.sh
clients=3
laps=3
track=rabbithill
loss=0
lag=0
late=0
while [ $# -gt 0 ]; do
    case $1 in
    --clients) clients=$2; shift 2 ;;
    --laps) laps=$2; shift 2 ;;
    --track) track=$2; shift 2 ;;
    --fake-loss) loss=$2; shift 2 ;;
    --fake-lag) lag=$2; shift 2 ;;
    --late-joiner) late=1; shift ;;
    -h|--help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "net-race: unknown option '$1'" >&2; exit 2 ;;
    esac
done
net_setup net-race "${NET_RACE_KEEP:-}"
ls "$bin/$track"/lines_* >/dev/null 2>&1 ||
    { echo "net-race: no racing lines for $track (build the kessrig_lines target)" >&2; exit 2; }
began=$(date +%s)

# The server picks a free port itself; its first line names it. A long
# pause after each result lets every client take its terrain hash before
# the next race reloads the track.
net_start_server --tracks "$track" --laps "$laps" --countdown 20 --result-pause 30 --finish-wait 120 --stats 10 \
    --upload-dir ""

fake=()
[ "$loss" != 0 ] && fake+=(--fake-loss "$loss")
[ "$lag" != 0 ] && fake+=(--fake-lag "$lag")
max=$((600 + laps * 300))
client() {  # name, then extra options
    net_client "$@" --timeout 60 --max-seconds "$max" "${fake[@]}"
}
names=()
for i in $(seq 1 "$clients"); do
    names+=("R$i")
    client "R$i" --laps "$laps"
done
client_pids=("${pids[@]:1}")
if [ "$late" = 1 ]; then
    # Well after the gate drop.
    for _ in $(seq 1 600); do
        grep -q '^start race=' "$work/server.log" && break
        sleep 0.5
    done
    sleep 15
    client Late
    client_pids+=("$client_pid")
fi
for p in "${client_pids[@]}"; do wait "$p"; done
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null

# ---- checks -------------------------------------------------------------------
field() { sed -n "s/.*\\b$2=\\([^ ]*\\).*/\\1/p" "$1" | tail -n 1; }
own_slot() { sed -n 's/^race id=[0-9]* slot=\([0-9]*\) .*/\1/p' "$1" | tail -n 1; }
server_order=$(sed -n 's/^result race=[0-9]* .* order=\([^ ]*\).*/\1/p' "$work/server.log")
first_order=$(echo "$server_order" | head -n 1)
echo "server results: $(echo "$server_order" | tr '\n' ' ')"
net_common_checks

slots=()
for n in "${names[@]}"; do
    slots+=("$(sed -n 's/^race id=[0-9]* slot=\([0-9]*\) .*/\1/p' "$work/$n.out" | tail -n 1)")
done
all_slots=$(printf '%s\n' "${slots[@]}" | sort -n | paste -sd,)
hashes=()
for n in "${names[@]}"; do
    out=$work/$n.out
    fin=$(field "$out" finished)
    riders=$(sed -n 's/^race id=.* riders=\([^ ]*\)/\1/p' "$out" | tail -n 1 | tr ',' '\n' | sort -n | paste -sd,)
    ranking=$(field "$out" ranking)
    hash=$(field "$out" terrain_hash)
    settled=$(field "$out" settled)
    echo "client $n slot=$(own_slot "$out") finished=$fin laps=$(field "$out" laps) riders=$riders" \
        "ranking=$ranking results=$(field "$out" results) terrain=$hash settled=$settled dug=$(field "$out" dug_samples)" \
        "stalls=$(field "$out" stalls) worst_lag_ms=$(field "$out" worst_lag_ms)"
    [ "$fin" = yes ] || fail "$n did not finish: $(tail -n 3 "$work/$n.err" | tr '\n' ' ')"
    # The late joiner's rider is in the lineup of the race it watched, not
    # in the others' (they started before it came).
    [ "$riders" = "$all_slots" ] || fail "$n was told of riders $riders, not $all_slots"
    [ "$ranking" = "$first_order" ] || fail "$n ranks $ranking, the server $first_order"
    [ "$(field "$out" results)" = final ] || fail "$n never saw the final results"
    [ "$settled" = yes ] || fail "$n: its terrain did not settle"
    dug=$(field "$out" dug_samples)
    [ "${dug:-0}" -gt 0 ] || fail "$n: no ruts were dug (is the server's erosion off?)"
    hashes+=("$hash")
done
distinct=$(printf '%s\n' "${hashes[@]}" | sort -u | wc -l)
[ "$distinct" = 1 ] || fail "the terrains differ: ${hashes[*]}"
[ -n "${hashes[0]:-}" ] || fail "no terrain hash"

late_fig=
if [ "$late" = 1 ]; then
    out=$work/Late.out
    lines=$(grep '^race id=' "$out")
    echo "client Late:"
    echo "$lines" | sed 's/^/  /'
    warm=$(echo "$lines" | grep -c 'race_slot=160 ')
    rode=$(echo "$lines" | grep -vc 'race_slot=160 ')
    watched=$(echo "$lines" | grep 'race_slot=160 ' | tail -n 1 | sed 's/.*riders=//' | tr ',' '\n' | sort -n | paste -sd,)
    late_slot=$(own_slot "$out")
    want=$(printf '%s\n' "${slots[@]}" "$late_slot" | sort -n | paste -sd,)
    [ "$warm" -ge 1 ] || fail "the late joiner never rode a warm-up"
    [ "$rode" -ge 1 ] || fail "the late joiner never got a place at a gate"
    [ "$watched" = "$want" ] || fail "the late joiner was told of riders $watched in the warm-up, not $want"
    [ "$(field "$out" finished)" = yes ] || fail "the late joiner did not finish: $(tail -n 3 "$work/Late.err" | tr '\n' ' ')"
    last_order=$(echo "$server_order" | tail -n 1)
    [ "$(echo "$server_order" | wc -l)" -ge 2 ] || fail "the server classified no second race"
    [ "$(field "$out" ranking)" = "$last_order" ] || fail "the late joiner ranks $(field "$out" ranking), the server $last_order"
    [ "$(field "$out" settled)" = yes ] || fail "the late joiner's terrain did not settle"
    late_fig=" late_joiner=yes late_warmups=$warm late_ranking=$(field "$out" ranking)"
fi

winner=$(sed -n 's/^result race=[0-9]* .* | 1\. [^|]* time=\([0-9.]*\).*/\1/p' "$work/server.log" | head -n 1)
rates=$(sed -n 's/.*stats peers=[1-9][0-9]* in_per_s=\([0-9]*\) out_per_s=\([0-9]*\).*/\1 \2/p' "$work/server.log" |
    awk '{ i += $1; o += $2; n++ } END { if (n) printf "%.0f %.0f", i / n, o / n; else print "0 0" }')
echo "net_race ok=$ok clients=$clients laps=$laps track=$track fake_loss=$loss fake_lag_ms=$lag" \
    "order=$first_order winner_s=${winner:-?} terrain=${hashes[0]:-none} server_in_per_s=${rates% *}" \
    "server_out_per_s=${rates#* } wall_s=$(($(date +%s) - began))$late_fig"
[ "$ok" = yes ]
