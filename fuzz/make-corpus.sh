#!/usr/bin/env bash
# Fills one seed folder per fuzz target from a build's generated game data.
#
#   fuzz/make-corpus.sh BUILD_DIR OUT_DIR
#
# BUILD_DIR is a configured build whose data step has run (BUILD_DIR/bin
# holds zzzz.saf and the track folders) and which has built
# BUILD_DIR/fuzz/kessrig_fuzz_seeds; OUT_DIR is replaced. The hand-written
# seeds under fuzz/corpus are copied in as well, so OUT_DIR/TARGET is the
# whole corpus of TARGET. Seeds taken from the data are kept small: the
# replay tests run them all, and libFuzzer sizes its inputs by the largest.
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 BUILD_DIR OUT_DIR" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
out=$2
here=$(cd "$(dirname "$0")" && pwd)
data=$build/bin

if [ ! -f "$data/zzzz.saf" ]; then
    echo "make-corpus.sh: no game data in $data (build the kessrig_data target)" >&2
    exit 1
fi
seeds=$build/fuzz/kessrig_fuzz_seeds
if [ ! -x "$seeds" ]; then
    echo "make-corpus.sh: $seeds is missing (build the kessrig_fuzz_seeds target)" >&2
    exit 1
fi

rm -rf "$out"
mkdir -p "$out"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# A seed: TARGET NAME [PREFIX_BYTE_IN_OCTAL] < bytes
seed() {
    mkdir -p "$out/$1"
    if [ $# -ge 3 ]; then
        { printf "\\$3"; cat; } > "$out/$1/$2"
    else
        cat > "$out/$1/$2"
    fi
}

# Archive members and seeds made by the project's writers.
XDG_DATA_HOME=$scratch/xdg KZ_HOME=$data "$seeds" "$out" > /dev/null

for track in rabbithill stadium; do
    dir=$data/$track
    [ -d "$dir" ] || continue
    # The reader is chosen by the first byte where a harness serves several.
    seed track_tileinfo "$track.tileinfo" 000 < "$dir/tileinfo"
    seed track_objects "$track.billboards" 000 < "$dir/billboards"
    seed track_objects "$track.statues" 001 < "$dir/statues"
    seed track_objects "$track.flaggers" 002 < "$dir/flaggers"
    seed track_objects "$track.decals" 003 < "$dir/decals"
    seed track_lighting "$track.lighting" 000 < "$dir/lighting"
    seed track_lighting "$track.cameras" 001 < "$dir/cameras"
    seed race_gates "$track.timing_gates" < "$dir/timing_gates"
    seed robot_centre_line "$track.centreline" < "$dir/centreline"
    seed track_desc "$track.desc" < "$dir/desc"
    # The tile map on the largest grid the harness makes (first byte 7:
    # 256 x 256 cells), with the track's surfaces (second byte).
    surfaces=$(grep -c '^addtile' "$dir/tileinfo" || true)
    [ "$surfaces" -gt 0 ] || surfaces=1
    { printf "\\007\\$(printf %03o $((surfaces - 1)))"; head -c 65536 "$dir/tilemap"; } > "$scratch/tilemap"
    seed track_tilemap "$track.tilemap" < "$scratch/tilemap"
    for f in "$dir"/*.shp; do seed bike_shape "$track.$(basename "$f")" < "$f"; done
    for f in "$dir"/*.qm; do seed render_qm "$track.$(basename "$f")" < "$f"; done
    for f in "$dir"/*-alt1.ppm; do seed picture_pnm "$track.$(basename "$f")" < "$f"; done
    # The two smallest animations.
    for f in $(ls -S "$dir"/*.seq | tail -n 2); do seed render_seq "$track.$(basename "$f")" < "$f"; done
    # The racing lines where the build rode them: the first four sections
    # with at most two lines each, as a table of four sections.
    for skill in novice expert; do
        lines=$dir/lines_$skill
        [ -f "$lines" ] || continue
        awk 'NR == 1 { print "ct03 4"; rows = 0; state = "count"; next }
             state == "count" { if (rows == 4) exit; left = $1; keep = $1 < 2 ? $1 : 2; print keep;
                                 rows++; i = 0; state = left > 0 ? "head" : "count"; next }
             state == "head" { points = $1; if (i < 2) print; state = points > 0 ? "point" : "next"
                               if (state == "next") { i++; state = i < left ? "head" : "count" } next }
             state == "point" { if (i < 2) print; if (--points == 0) { i++; state = i < left ? "head" : "count" } }' \
            "$lines" | seed robot_lines "$track.lines_$skill"
    done
done

# A race recorded by the runner: a version-6 demo with states, commands and
# dug ground.
# The race is cut short of its finish, which the runner reports in its exit
# status; the recording is what counts.
XDG_DATA_HOME=$scratch/xdg KZ_HOME=$data "$build/bin/kessrig-sim" race --scripted 2 --max-seconds 24 \
    --erode 100 --record "$scratch/race.kzdemo" > "$scratch/race.log" 2>&1 || true
if [ ! -s "$scratch/race.kzdemo" ]; then
    cat "$scratch/race.log" >&2
    echo "make-corpus.sh: kessrig-sim recorded no demo" >&2
    exit 1
fi
seed race_demo race6.kzdemo < "$scratch/race.kzdemo"

# The hand-written seeds.
for dir in "$here"/corpus/*/; do
    target=$(basename "$dir")
    mkdir -p "$out/$target"
    cp "$dir"* "$out/$target/"
done

touch "$out/.complete"
echo "make-corpus.sh: $(find "$out" -type f ! -name .complete | wc -l) seeds for $(ls "$out" | wc -l) targets in $out"
