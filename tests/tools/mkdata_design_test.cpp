// The circuit description of the data generator: the default track's
// centre line, features, start gate and profiles are those of a rideable
// motocross circuit; the queries invert each other; bad plans are refused;
// the ground synthesis is deterministic and lays the ribbon at its design
// heights.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "track_design.h"
#include "track_ground.h"

namespace {

using namespace mkdata;

const double pi = 3.14159265358979323846;
double deg(double rad) { return rad * 180 / pi; }

const track_design& design() { return rabbithill_design(); }

TEST(CircuitDesign, LapIsAClosedEvenlySampledCurve)
{
    const track_design& d = design();
    EXPECT_GE(d.length, 3300);
    EXPECT_LE(d.length, 6600);
    ASSERT_GT(d.stations.size(), 1000u);
    EXPECT_NEAR(d.station_step * d.stations.size(), d.length, 1e-6);
    for (size_t k = 0; k < d.stations.size(); k++) {
        const track_station& a = d.stations[k];
        const track_station& b = d.stations[(k + 1) % d.stations.size()];
        EXPECT_NEAR(a.s, k * d.station_step, 1e-6);
        ASSERT_NEAR(std::hypot(a.tx, a.tz), 1, 1e-9);
        // Consecutive stations (the last and the first too) are one step
        // apart along the tangent: no gap, no kink.
        double dx = b.x - a.x, dz = b.z - a.z;
        ASSERT_NEAR(std::hypot(dx, dz), d.station_step, 0.01 * d.station_step) << "at s = " << a.s;
        ASSERT_GT((dx * a.tx + dz * a.tz) / std::hypot(dx, dz), std::cos(2.0 * pi / 180)) << "at s = " << a.s;
        // No turn tighter than 30 ft.
        ASSERT_LT(std::fabs(a.curvature), 1 / 30.0) << "at s = " << a.s;
    }
}

TEST(CircuitDesign, RibbonWidthsAndTheStartChute)
{
    const track_design& d = design();
    double straight_end = 0;
    for (const track_feature& f : d.features)
        if (f.kind == feature_kind::start_straight)
            straight_end = f.s_end;
    ASSERT_GT(straight_end, 250);
    for (const track_station& st : d.stations) {
        // The straight widens toward the chute from a little before the
        // finish line.
        if (st.s > straight_end && st.s < d.length - 60) {
            ASSERT_GE(st.width, 20) << "at s = " << st.s;
            ASSERT_LE(st.width, 30.01) << "at s = " << st.s;
        }
    }
    // The chute meets the loop at its width and holds 40 pieces side by side.
    EXPECT_NEAR(design_chute_width(d, 0), d.stations[0].width, 1e-9);
    EXPECT_EQ(d.chute.gate_pieces, 40);
    EXPECT_GE(d.chute.piece_spacing, 3.0);
    EXPECT_GE(design_chute_width(d, -d.chute.gate_distance), d.chute.gate_pieces * d.chute.piece_spacing + 8);
}

TEST(CircuitDesign, FeaturesOfAMotocrossCircuit)
{
    const track_design& d = design();
    int count[7] = {};
    double prev = -1;
    for (const track_feature& f : d.features) {
        count[(int)f.kind]++;
        EXPECT_GE(f.s_begin, prev);
        prev = f.s_begin;
        switch (f.kind) {
        case feature_kind::tabletop:
        case feature_kind::double_jump:
            EXPECT_GE(f.height, 4) << f.s_begin;
            EXPECT_LE(f.height, 10) << f.s_begin;
            EXPECT_GE(f.face_deg, 20) << f.s_begin;
            EXPECT_LE(f.face_deg, 35) << f.s_begin;
            EXPECT_LT(f.landing_deg, f.face_deg) << f.s_begin;
            EXPECT_GT(f.landing_length, f.takeoff_length) << f.s_begin;
            EXPECT_NEAR(f.s_lip, f.s_begin + f.takeoff_length, 1e-9);
            EXPECT_NEAR(f.s_landing, f.s_lip + f.top_length, 1e-9);
            if (f.kind == feature_kind::double_jump) {
                EXPECT_GE(f.top_length, 30) << f.s_begin;
                EXPECT_LE(f.top_length, 70) << f.s_begin;
            }
            break;
        case feature_kind::whoops:
            EXPECT_GE(f.height, 1);
            EXPECT_LE(f.height, 2);
            EXPECT_GE(f.bump_spacing, 12);
            EXPECT_LE(f.bump_spacing, 20);
            EXPECT_GE(f.bump_count, 5);
            break;
        case feature_kind::berm:
        case feature_kind::first_turn:
            EXPECT_GT(f.height, 1) << f.s_begin;
            EXPECT_LE(f.face_deg, 30.5) << f.s_begin;
            EXPECT_GE(f.face_deg, 10) << f.s_begin;
            EXPECT_NE(f.direction, 0);
            break;
        default:
            break;
        }
    }
    EXPECT_EQ(count[(int)feature_kind::start_straight], 1);
    EXPECT_EQ(count[(int)feature_kind::first_turn], 1);
    EXPECT_GE(count[(int)feature_kind::berm], 4);
    EXPECT_GE(count[(int)feature_kind::tabletop], 2);
    EXPECT_GE(count[(int)feature_kind::double_jump], 2);
    EXPECT_GE(count[(int)feature_kind::whoops], 1);
    // The start straight runs from the finish line into the first turn.
    ASSERT_EQ(d.features[0].kind, feature_kind::start_straight);
    EXPECT_EQ(d.features[0].s_begin, 0);
    EXPECT_EQ(d.features[1].kind, feature_kind::first_turn);
    EXPECT_NEAR(d.features[1].s_begin, d.features[0].s_end, 1e-9);
}

TEST(CircuitDesign, ProfilesAreRideable)
{
    const track_design& d = design();
    const double step = 0.25;
    double prev = design_height(d, -step, 0);
    double steepest = 0;
    for (double s = 0; s < d.length; s += step) {
        double h = design_height(d, s, 0);
        steepest = std::max(steepest, std::fabs(h - prev) / step);
        prev = h;
        // Across the ribbon: at most a 30 degree bank.
        track_station st = design_station_at(d, s);
        double half = st.width / 2, last = station_height(st, -half);
        for (double l = -half + 0.5; l <= half + 1e-9; l += 0.5) {
            double hl = station_height(st, l);
            ASSERT_LE(std::fabs(hl - last) / 0.5, std::tan(30.5 * pi / 180)) << "s = " << s << " lateral " << l;
            last = hl;
        }
    }
    EXPECT_LE(deg(std::atan(steepest)), 35.5);
    for (const track_feature& f : d.features) {
        // Heights and slopes of the profile relative to the grade it sits on.
        auto rise = [&](double s) { return design_height(d, s, 0) - design_station_at(d, s).grade; };
        auto slope = [&](double s) { return deg(std::atan((rise(s + 0.25) - rise(s - 0.25)) / 0.5)); };
        if (f.kind == feature_kind::tabletop || f.kind == feature_kind::double_jump) {
            // The face kicks at its angle right up to the lip, which stands
            // at the jump's height; the landing is no steeper than designed.
            EXPECT_NEAR(slope(f.s_lip - 1.5), f.face_deg, 3) << "lip at " << f.s_lip;
            EXPECT_NEAR(rise(f.s_lip), f.height, 0.4) << "lip at " << f.s_lip;
            double landing_steepest = 0;
            for (double s = f.s_landing; s < f.s_end; s += 0.5)
                landing_steepest = std::max(landing_steepest, -slope(s));
            EXPECT_LE(landing_steepest, f.landing_deg + 1) << "landing at " << f.s_landing;
            double middle = (f.s_lip + f.s_landing) / 2;
            double want = f.kind == feature_kind::tabletop ? f.height : 0;  // deck or gap
            EXPECT_NEAR(rise(middle), want, 0.01) << "middle of the jump at " << middle;
        } else if (f.kind == feature_kind::whoops) {
            double top = 0;
            for (double s = f.s_begin; s < f.s_end; s += 0.5)
                top = std::max(top, rise(s));
            EXPECT_NEAR(top, f.height, 0.1);
            EXPECT_NEAR(rise(f.s_begin + f.bump_spacing), 0, 0.1);
        } else if (f.kind == feature_kind::berm || f.kind == feature_kind::first_turn) {
            // The outside of the turn is the high side.
            track_station st = design_station_at(d, (f.s_begin + f.s_end) / 2);
            double outside = -f.direction * st.width / 2;
            EXPECT_GT(station_height(st, outside), station_height(st, -outside) + 1) << "turn at " << f.s_begin;
        }
    }
}

TEST(CircuitDesign, PassesOfTheTrackKeepApart)
{
    const track_design& d = design();
    size_t n = d.stations.size();
    for (size_t i = 0; i < n; i += 4) {
        for (size_t j = i + 4; j < n; j += 4) {
            const track_station& a = d.stations[i];
            const track_station& b = d.stations[j];
            double ds = std::min(b.s - a.s, d.length - (b.s - a.s));
            if (ds < 250)
                continue;
            double apart = std::hypot(a.x - b.x, a.z - b.z);
            // Each ribbon with its shoulder, and room between them.
            ASSERT_GT(apart, (a.width + b.width) / 2 + 2 * d.shoulder + 10) << "s = " << a.s << " and " << b.s;
        }
    }
}

TEST(CircuitDesign, StartGateSpansTheChuteClearOfTheLap)
{
    const track_design& d = design();
    const track_station& s0 = d.stations[0];
    for (int i = 0; i < d.chute.gate_pieces; i++) {
        gate_piece p = design_gate_piece(d, i);
        // The bike behind the piece faces down the chute.
        EXPECT_NEAR(-std::sin(p.angle), s0.tx, 1e-9);
        EXPECT_NEAR(-std::cos(p.angle), s0.tz, 1e-9);
        if (i > 0) {
            gate_piece q = design_gate_piece(d, i - 1);
            EXPECT_NEAR(std::hypot(p.x - q.x, p.z - q.z), d.chute.piece_spacing, 1e-9);
            // Piece 0 is on the rider's left.
            EXPECT_GT(-(p.x - q.x) * s0.tz + (p.z - q.z) * s0.tx, 0);
        }
        // Four rows of bikes (10 ft apart) stand on the chute's dirt, and
        // the lap passes well in front of them.
        for (int row = 0; row < 4; row++) {
            double x = p.x + std::sin(p.angle) * (row + 0.0625) * 10, z = p.z + std::cos(p.angle) * (row + 0.0625) * 10;
            design_place place = design_nearest(d, x, z);
            ASSERT_EQ(place.station, -1) << "piece " << i << " row " << row;
            EXPECT_LT(std::fabs(place.lateral), design_chute_width(d, place.s) / 2 - 2);
            EXPECT_GT(place.s, -d.chute.length + 2);
            double lap = 1e9;
            for (const track_station& st : d.stations)
                lap = std::min(lap, std::hypot(st.x - x, st.z - z));
            EXPECT_GT(lap, 25) << "piece " << i << " row " << row;
        }
    }
}

TEST(CircuitDesign, NearestInvertsPlacementAndQueriesWrap)
{
    const track_design& d = design();
    for (size_t k = 3; k < d.stations.size(); k += 97) {
        const track_station& st = d.stations[k];
        if (st.s < 200 || st.s > d.length - 300)
            continue;  // the chute overlaps the loop there
        for (double lateral : {-st.width / 2 + 0.5, -3.0, 0.0, 4.5, st.width / 2 - 0.5}) {
            double x = st.x - st.tz * lateral, z = st.z + st.tx * lateral;
            design_place p = design_nearest(d, x, z);
            ASSERT_GE(p.station, 0);
            EXPECT_NEAR(p.s, st.s, 0.6) << "station " << k << " lateral " << lateral;
            EXPECT_NEAR(p.lateral, lateral, 0.05) << "station " << k;
            EXPECT_NEAR(p.distance, std::fabs(lateral), 0.05);
        }
    }
    double x, z;
    design_chute_point(d, -20, &x, &z);
    design_place p = design_nearest(d, x - d.stations[0].tz * 30, z + d.stations[0].tx * 30);
    EXPECT_EQ(p.station, -1);
    EXPECT_NEAR(p.s, -20, 1e-6);
    EXPECT_NEAR(p.lateral, 30, 1e-6);

    EXPECT_NEAR(design_wrap(d, d.length + 12.5), 12.5, 1e-9);
    EXPECT_NEAR(design_wrap(d, -12.5), d.length - 12.5, 1e-9);
    EXPECT_EQ(design_wrap(d, d.length), 0);
    track_station a = design_station_at(d, 100.25), b = design_station_at(d, 100.25 + d.length);
    EXPECT_DOUBLE_EQ(a.x, b.x);
    EXPECT_DOUBLE_EQ(a.z, b.z);
    // Between two stations the position moves along the line.
    track_station c = design_station_at(d, 100.5);
    EXPECT_NEAR(std::hypot(c.x - a.x, c.z - a.z), 0.25, 0.01);
    EXPECT_NEAR(design_height(d, 100.25, 0), a.grade + a.offset + (a.bank > 0 ? station_height(a, 0) - a.grade - a.offset : 0),
                1e-9);
}

TEST(CircuitDesign, CheckpointsCoverTheLapOffTheJumps)
{
    const track_design& d = design();
    std::vector<double> at = design_checkpoint_stations(d, 250);
    ASSERT_GE(at.size(), 10u);
    EXPECT_EQ(at.back(), 0);  // the finish line closes the lap
    double prev = 0;
    for (size_t i = 0; i + 1 < at.size(); i++) {
        EXPECT_GT(at[i], prev);
        EXPECT_LE(at[i] - prev, 1.5 * 250) << "checkpoint " << i;
        prev = at[i];
        for (const track_feature& f : d.features)
            if (f.kind == feature_kind::tabletop || f.kind == feature_kind::double_jump ||
                f.kind == feature_kind::whoops) {
                EXPECT_FALSE(at[i] > f.s_begin && at[i] < f.s_end) << "checkpoint at " << at[i];
            }
    }
    EXPECT_LE(d.length - prev, 1.5 * 250);
    design_checkpoint c = design_checkpoint_at(d, at[3], 6);
    track_station st = design_station_at(d, at[3]);
    EXPECT_DOUBLE_EQ(c.x, st.x);
    EXPECT_DOUBLE_EQ(c.dz, st.tz);
    EXPECT_DOUBLE_EQ(c.radius, st.width / 2 + 6);
}

// A plain oval with two long straights, for the refusals.
circuit_plan oval()
{
    circuit_plan p;
    p.dir = "oval";
    p.display_name = "Oval";
    p.points = {400, 700, 700, 700, 900, 700, 1000, 600, 900, 500, 700, 500, 400, 500, 300, 600};
    p.first_turn_point = 3;
    p.chute = {100, 60, 10, 3.5, 50};
    p.land.base = 10;
    return p;
}

TEST(CircuitDesign, BuildRefusesUnusablePlans)
{
    track_design d;
    std::string why;
    ASSERT_TRUE(build_design(oval(), &d, &why)) << why;
    EXPECT_EQ(d.features.front().kind, feature_kind::start_straight);

    circuit_plan few = oval();
    few.points.resize(6);
    EXPECT_FALSE(build_design(few, &d, &why));
    EXPECT_FALSE(why.empty());

    circuit_plan overlap = oval();
    overlap.jumps = {{{1, 0}, feature_kind::tabletop, 5, 25, 30, 14}, {{1, 40}, feature_kind::tabletop, 5, 25, 30, 14}};
    why.clear();
    EXPECT_FALSE(build_design(overlap, &d, &why));
    EXPECT_FALSE(why.empty());

    circuit_plan in_turn = oval();
    in_turn.jumps = {{{3, -10}, feature_kind::tabletop, 5, 25, 30, 14}};
    why.clear();
    EXPECT_FALSE(build_design(in_turn, &d, &why));
    EXPECT_NE(why.find("turn"), std::string::npos) << why;

    circuit_plan short_gap = oval();
    short_gap.jumps = {{{1, 0}, feature_kind::double_jump, 8, 30, 15, 14}};
    why.clear();
    EXPECT_FALSE(build_design(short_gap, &d, &why));
    EXPECT_FALSE(why.empty());

    circuit_plan no_first = oval();
    no_first.first_turn_point = 1;  // on a straight
    why.clear();
    EXPECT_FALSE(build_design(no_first, &d, &why));
    EXPECT_FALSE(why.empty());

    circuit_plan fine = oval();
    fine.jumps = {{{1, 0}, feature_kind::tabletop, 5, 25, 30, 14}};
    ASSERT_TRUE(build_design(fine, &d, &why)) << why;
}

TEST(GroundSynthesis, DeterministicAndOnTheDesign)
{
    const track_design& d = design();
    track_ground a, b;
    synthesize_ground(d, &a);
    synthesize_ground(d, &b);
    ASSERT_EQ(a.heights, b.heights);
    ASSERT_EQ(a.corners, b.corners);
    EXPECT_EQ(a.sample_count, (1 << (d.grid_log2 + 1)) + 1);
    EXPECT_LE(a.file_h0, a.height_min);
    EXPECT_GE(a.file_h1, a.height_max);
    // Samples under the ribbon lie at the design height (to the 16-bit
    // step), and the land rolls more away from the track than beside it.
    double step = (a.file_h1 - a.file_h0) / 65535;
    int on = 0;
    for (size_t k = 0; k < d.stations.size(); k += 7) {
        const track_station& st = d.stations[k];
        int col = (int)std::lround(st.x / d.spacing), row = (int)std::lround(st.z / d.spacing);
        double x = col * d.spacing, z = row * d.spacing;
        design_place p = design_nearest(d, x, z);
        if (p.station < 0 || std::fabs(p.lateral) > design_station_at(d, p.s).width / 2)
            continue;
        ASSERT_NEAR(a.heights[(size_t)row * a.sample_count + col], design_height(d, p.s, p.lateral), step + 0.02)
            << "at (" << x << ", " << z << ")";
        on++;
    }
    EXPECT_GT(on, 1000);
    const tile_set& tiles = standard_tiles();
    std::vector<uint8_t> m1 = build_tilemap(a, tiles, d.seed), m2 = build_tilemap(b, tiles, d.seed);
    EXPECT_EQ(m1, m2);
    EXPECT_EQ(m1.size(), (size_t)a.cells * a.cells);
}

TEST(GroundTiles, TransitionLookupByCorners)
{
    const tile_set& tiles = standard_tiles();
    ASSERT_GE(tiles.surfaces.size(), (size_t)ground_kinds);
    for (int k = 0; k < ground_kinds; k++) {
        EXPECT_EQ(tiles.find(k, -1, 0), k);
        EXPECT_EQ(tiles.find(k, k, 6), k);
    }
    int t = tiles.find(ground_dirt, ground_grass, 5);
    ASSERT_GE(t, 0);
    EXPECT_EQ(tiles.surfaces[t].picture, "dirt-grass-0101.png");
    // The same corners named the other way round.
    EXPECT_EQ(tiles.find(ground_grass, ground_dirt, 10), t);
    // All four corners of the secondary: the plain secondary tile.
    EXPECT_EQ(tiles.find(ground_dirt, ground_grass, 15), (int)ground_grass);
    // No loam and sand together.
    EXPECT_EQ(tiles.find(ground_loam, ground_sand, 3), -1);
}

}  // namespace
