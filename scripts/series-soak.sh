#!/usr/bin/env bash
# A long points series raced headless: kessrig-sim series with 40 robots
# for HOURS simulated hours (default 10) in an empty home directory, then a
# second run with the same seed: a shorter one (the first few events, whose
# standings hash must match the long run's after as many events) or, with
# --full-rerun, the whole run again (the standings file and the final hash
# must match).
#
#   scripts/series-soak.sh [HOURS] [--robots N] [--seed S] [--threads N]
#                          [--rerun-events E] [--full-rerun] [--max-growth PCT]
#
# Fails (exit status 1) when a bike's state stops being finite, when the
# resident memory at the end exceeds the most it held over the first pass
# through the series (every track loaded once) by more than PCT percent
# (default 10; the first event stands in for a run shorter than a pass), or
# when the two runs disagree. The last line is "series_soak ok=yes|no
# sim_hours=.. wall_s=.. events=.. nan=none|yes rss_kb_start=.. first_event=..
# first_pass=.. end=.. peak=.. growth_kb=.. standings_hash=.. rerun=..".
# Keeps its files under $SERIES_SOAK_KEEP when set.
set -uo pipefail
cd "$(dirname "$0")/.."
bin=$(cd "${KESSRIG_BUILD_DIR:-build}/bin" && pwd)
hours=10
robots=40
seed=1
threads=1
rerun_events=2
full=0
max_growth=10
while [ $# -gt 0 ]; do
    case $1 in
    --robots) robots=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --threads) threads=$2; shift 2 ;;
    --rerun-events) rerun_events=$2; shift 2 ;;
    --full-rerun) full=1; shift ;;
    --max-growth) max_growth=$2; shift 2 ;;
    -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "series-soak: unknown option '$1'" >&2; exit 2 ;;
    *) hours=$1; shift ;;
    esac
done
[[ $hours =~ ^[0-9]+(\.[0-9]+)?$ ]] || { echo "series-soak: HOURS must be a number, got '$hours'" >&2; exit 2; }
[[ $max_growth =~ ^[0-9]+(\.[0-9]+)?$ ]] || { echo "series-soak: --max-growth must be a number" >&2; exit 2; }
[[ $rerun_events =~ ^[0-9]+$ ]] || { echo "series-soak: --rerun-events must be a count" >&2; exit 2; }
[ -x "$bin/kessrig-sim" ] || { echo "series-soak: $bin/kessrig-sim is missing (build it first)" >&2; exit 2; }
ls "$bin"/*/lines_* >/dev/null 2>&1 ||
    { echo "series-soak: no racing lines in $bin (build the kessrig_lines target)" >&2; exit 2; }

work=$(mktemp -d /tmp/series-soak.XXXXXX)
cleanup() {
    if [ -n "${SERIES_SOAK_KEEP:-}" ]; then
        mkdir -p "$SERIES_SOAK_KEEP" && tar -C "$work" --exclude=./bin -cf - . | tar -C "$SERIES_SOAK_KEEP" -xf -
    fi
    rm -rf "$work"
}
trap cleanup EXIT
# Both runs use a copy of the runner and its game data taken now: a build
# during the hour-long run rides the default tracks' racing lines again,
# and the re-run would race other lines than the long run did.
echo "series_soak: copying $bin"
cp -a "$bin" "$work/bin" || { echo "series-soak: can't copy $bin" >&2; exit 2; }
bin=$work/bin

# run NAME ARGS...: one series in a home of its own that starts empty.
run() {
    local name=$1
    shift
    mkdir -p "$work/$name"
    XDG_DATA_HOME="$work/$name" KZ_HOME="$bin" VORN_LOGFILE="$work/$name.log" "$bin/kessrig-sim" series \
        --robots "$robots" --seed "$seed" --threads "$threads" "$@" >"$work/$name.out" 2>"$work/$name.err"
}
field() { sed -n "s/.*\\b$2=\\([^ ]*\\).*/\\1/p" "$1" | tail -n 1; }

echo "series_soak: $robots robots, $hours simulated hours, seed $seed"
began=$(date +%s.%N)
# Events as they come, for whoever watches.
mkdir -p "$work/long" && : >"$work/long.out"
run long --hours "$hours" &
pid=$!
tail -n +1 -f --pid="$pid" "$work/long.out" 2>/dev/null | grep --line-buffered -E '^(event|rss)=?' &
wait "$pid"
status=$?
sleep 0.2
ended=$(date +%s.%N)

ok=yes
fail() { ok=no; echo "FAIL: $*"; }
out=$work/long.out
nan=none
if grep -q 'non-finite' "$work/long.err"; then
    nan=yes
    fail "$(grep 'non-finite' "$work/long.err" | head -n 1)"
elif [ "$status" != 0 ]; then
    fail "kessrig-sim series exited with $status: $(tail -n 3 "$work/long.err" | tr '\n' ' ')"
fi
done_line=$(grep '^series_done ' "$out")
[ -n "$done_line" ] || fail "no series_done line"
events=$(grep -c '^event=' "$out")
per_pass=$(sed -n 's/^series=.* events=\([0-9]*\) .*/\1/p' "$out")
# RSS: after the first event, the most over the first pass, at the end.
read -r rss_start first_event first_pass rss_end <<<"$(awk -v pass="${per_pass:-1}" '
    /^rss event=/ {
        split($2, e, "="); split($4, r, "=")
        if (e[2] == 0) start = r[2]
        if (e[2] == 1) first = r[2]
        if (e[2] >= 1 && e[2] <= pass && r[2] > most) most = r[2]
        last = r[2]
    }
    END { printf "%d %d %d %d\n", start, first, most ? most : first, last }' "$out")"
peak=$(field "$out" peak_kb)
growth=$((rss_end - first_pass))
awk -v g="$growth" -v b="$first_pass" -v pct="$max_growth" 'BEGIN { exit !(b > 0 && g > b * pct / 100) }' &&
    fail "resident memory grew by $growth kB over the $first_pass kB of the first pass (more than $max_growth%)"
hash=$(field "$out" standings_hash)
sim_hours=$(field "$out" sim_hours)

# The same seed again.
rerun=none
if [ "$status" = 0 ] && [ "$full" = 1 ]; then
    run again --hours "$hours"
    again_hash=$(field "$work/again.out" standings_hash)
    rerun="full:$again_hash"
    [ "$again_hash" = "$hash" ] || fail "the re-run's standings hash is $again_hash, the first run's $hash"
    name=$(sed -n 's/^series=.* standings=\(.*\)$/\1/p' "$out" | xargs -r basename)
    cmp -s "$work/long/Kessrig/$name" "$work/again/Kessrig/$name" || fail "the standings files differ"
elif [ "$status" = 0 ] && [ "$rerun_events" -gt 0 ]; then
    n=$rerun_events
    [ "$n" -gt "$events" ] && n=$events
    run again --events "$n"
    want=$(grep '^event=' "$out" | sed -n "${n}p" | sed -n 's/.*standings_hash=\([0-9a-f]*\).*/\1/p')
    got=$(field "$work/again.out" standings_hash)
    rerun="events:$n:$got"
    [ -n "$got" ] && [ "$got" = "$want" ] ||
        fail "after $n events the re-run's standings hash is ${got:-none}, the long run's ${want:-none}"
fi

wall=$(awk -v a="$began" -v b="$ended" 'BEGIN { printf "%.0f", b - a }')
echo "series_soak ok=$ok robots=$robots seed=$seed sim_hours=${sim_hours:-0} wall_s=$wall events=$events nan=$nan" \
    "rss_kb_start=${rss_start:-0} first_event=${first_event:-0} first_pass=${first_pass:-0} end=${rss_end:-0}" \
    "peak=${peak:-0} growth_kb=$growth standings_hash=${hash:-none} rerun=$rerun"
[ "$ok" = yes ]
