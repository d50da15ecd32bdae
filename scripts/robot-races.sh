#!/usr/bin/env bash
# Robots on the default track, end to end, in a home of their own: test
# riders ride the track in learn mode (their laps become the racing lines
# of the novice file), then robot races run on those lines. Prints per race
# the finishers, crashes per robot-lap, recoveries, pushes, lifts and restarts, the
# best and mean lap and the mean lap's speed, and the simulated and wall
# seconds.
#
#   scripts/robot-races.sh [TRACK] [TEST_RIDERS] [CRUISE_MPH]
#
# Needs the build (kessrig-sim and the default data in build/bin, or
# $KESSRIG_BUILD_DIR/bin).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${KESSRIG_BUILD_DIR:-build}/bin
track=${1:-rabbithill}
riders=${2:-6}
cruise=${3:-30}
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
sim() { XDG_DATA_HOME="$home" KZ_HOME="$bin" "$bin/kessrig-sim" "$@"; }

# The lap's length from the track's centre line (the loop's points).
lap_ft=$(awk 'NR == 2 { step = $2; loop = $4; count = $8 } END { printf "%.0f", step * (count - loop) }' \
    "$bin/$track/centreline")
echo "track=$track lap_ft=$lap_ft test_riders=$riders cruise_mph=$cruise"

# Lines: the riders from the middle of the gate, three laps (the first
# lap's sections are recorded once a race).
sim race --track "$track" --scripted "$riders" --cruise "$cruise" --laps 3 --seed 1 --date 1 --learn >/dev/null

race() {
    local robots=$1 laps=$2 seed=$3
    sim race --track "$track" --robots "$robots" --laps "$laps" --seed "$seed" --date 1 --max-seconds 3000 |
        awk -v robots="$robots" -v laps="$laps" -v lap_ft="$lap_ft" '
            /^robot / {
                for (i = 2; i <= NF; i++) { split($i, kv, "="); f[kv[1]] = kv[2] }
                if (f["finished"] == "yes") finished++
                crashes += f["crashes"]; recoveries += f["recoveries"]; pushes += f["pushes"]; lifts += f["lifts"]; restarts += f["restarts"]
                robot_laps += f["laps"]
                if (f["best_lap"] > 0 && (best == 0 || f["best_lap"] < best)) best = f["best_lap"]
                if (f["mean_lap"] > 0) { mean += f["mean_lap"]; means++ }
            }
            /^finished=/ { split($3, s, "="); split($4, w, "="); sim_s = s[2]; wall_s = w[2] }
            END {
                m = means ? mean / means : 0
                printf "robots=%d laps=%d finished=%d crashes_per_robot_lap=%.3f recoveries=%d pushes=%d lifts=%d restarts=%d " \
                       "best_lap=%.2f mean_lap=%.2f mean_mph=%.1f sim_seconds=%s wall_seconds=%s\n",
                       robots, laps, finished, robot_laps ? crashes / robot_laps : 0, recoveries, pushes, lifts, restarts,
                       best, m, m ? lap_ft / m / 1.4666666666666666 : 0, sim_s, wall_s
            }'
}

race 1 2 11
race 20 3 5
race 40 5 7
