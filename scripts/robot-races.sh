#!/usr/bin/env bash
# Robots on the default tracks' generated racing lines, in a home of their
# own so a developer's learnt lines never take part: for every track and
# skill, races of 20 robots over 3 laps on a few seeds, one line per race
# and one summary line per track and skill (finishers, crashes per
# robot-lap, restarts, best and mean lap, the mean lap's speed), then the
# 40-robot, 5-lap race on rabbithill with its simulated and wall seconds.
# A race whose results file differs when it is run again with the same
# seed is reported and makes the script fail.
#
#   scripts/robot-races.sh [SEEDS] [TRACKS] [SKILLS]
#
# SEEDS, TRACKS and SKILLS are space-separated lists (defaults "1 2",
# "stadium rabbithill", "novice amateur expert"). Needs the build
# (kessrig-sim and the default data in build/bin, or $KESSRIG_BUILD_DIR/bin).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${KESSRIG_BUILD_DIR:-build}/bin
seeds=${1:-1 2}
tracks=${2:-stadium rabbithill}
skills=${3:-novice amateur expert}
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
sim() { XDG_DATA_HOME="$home" KZ_HOME="$bin" "$bin/kessrig-sim" "$@"; }
status=0

# The lap's length from the track's centre line (the loop's points).
lap_ft() {
    awk 'NR == 2 { step = $2; loop = $4; count = $8 } END { printf "%.0f", step * (count - loop) }' "$bin/$1/centreline"
}

# One race's figures from kessrig-sim's output on standard input.
summarise() {
    awk -v lap_ft="$1" '
        /^robot / {
            for (i = 2; i <= NF; i++) { split($i, kv, "="); f[kv[1]] = kv[2] }
            robots++
            if (f["finished"] == "yes") finished++
            crashes += f["crashes"]; restarts += f["restarts"]; robot_laps += f["laps"]
            if (f["best_lap"] > 0 && (best == 0 || f["best_lap"] < best)) best = f["best_lap"]
            if (f["mean_lap"] > 0) { mean += f["mean_lap"]; means++ }
        }
        /^finished=/ { split($3, s, "="); split($4, w, "="); sim_s = s[2]; wall_s = w[2] }
        END {
            m = means ? mean / means : 0
            printf "finished=%d/%d crashes_per_robot_lap=%.3f restarts=%d best_lap=%.1f mean_lap=%.1f mph=%.1f " \
                   "sim_seconds=%s wall_seconds=%s\n", finished, robots, robot_laps ? crashes / robot_laps : 0,
                   restarts, best, m, m ? lap_ft / m / 1.4666666666666666 : 0, sim_s, wall_s
        }'
}

for track in $tracks; do
    ft=$(lap_ft "$track")
    for skill in $skills; do
        rows=""
        for seed in $seeds; do
            race=(race --track "$track" --robots 20 --laps 3 --skill "$skill" --seed "$seed" --date 1
                --max-seconds 3000)
            sim "${race[@]}" >"$home/out"
            row=$(summarise "$ft" <"$home/out")
            echo "$track $skill seed=$seed $row"
            rows+="$row"$'\n'
            # The same seed again: the results file must be the same bytes.
            if [ "$seed" = "${seeds%% *}" ]; then
                results=$(sed -n 's/^results=//p' "$home/out")
                first=$(md5sum <"$results")
                sim "${race[@]}" >/dev/null
                if [ "$first" != "$(md5sum <"$results")" ]; then
                    echo "$track $skill seed=$seed: the results file differs when the race is run again"
                    status=1
                fi
            fi
        done
        printf '%s' "$rows" | awk -v track="$track" -v skill="$skill" '
            {
                for (i = 1; i <= NF; i++) { split($i, kv, "="); f[kv[1]] = kv[2] }
                split(f["finished"], fin, "/"); finished += fin[1]; robots += fin[2]; races++
                cr += f["crashes_per_robot_lap"]; if (f["crashes_per_robot_lap"] > worst) worst = f["crashes_per_robot_lap"]
                if (f["restarts"] > restarts) restarts = f["restarts"]
                if (best == 0 || f["best_lap"] < best) best = f["best_lap"]
                mean += f["mean_lap"]; mph += f["mph"]
            }
            END {
                printf "TABLE %s %s races=%d finished=%d/%d crashes_per_robot_lap=%.3f (worst %.3f) " \
                       "most_restarts_in_a_race=%d best_lap=%.1f mean_lap=%.1f mph=%.1f\n", track, skill, races,
                       finished, robots, cr / races, worst, restarts, best, mean / races, mph / races
            }'
    done
done

echo "rabbithill novice 40 robots 5 laps seed=7 $(sim race --track rabbithill --robots 40 --laps 5 --seed 7 --date 1 \
    --max-seconds 6000 | summarise "$(lap_ft rabbithill)")"
exit $status
