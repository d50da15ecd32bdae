// The centre line of a generated track as a scripted rider's path.
#include "track_path.h"

#include <algorithm>
#include <cmath>

#include "bike/bike.h"
#include "sim_world.h"
#include "track/heightfield.h"
#include "track_design.h"
#include "track_ground.h"

namespace {

float feature_limit(const mkdata::track_feature& f, const track_path_options& o)
{
    switch (f.kind) {
    case mkdata::feature_kind::tabletop:
        return o.tabletop_speed;
    case mkdata::feature_kind::double_jump:
        return o.double_speed;
    case mkdata::feature_kind::whoops:
        return o.whoops_speed;
    default:
        return 0.0f;
    }
}

}  // namespace

rider_path design_centre_path(const mkdata::track_design& d, const heightfield* ground, const track_path_options& o)
{
    rider_path path;
    const int count = std::max(3, (int)std::lround(d.length / o.step));
    const double step = d.length / count;
    path.step = (float)step;
    path.closed = true;

    auto height = [&](double s, double x, double z) {
        return ground ? heightfield_height_at(ground, (float)x, (float)z) : (float)mkdata::design_height(d, s, 0.0);
    };
    if (o.from_gate && d.chute.length > 0) {
        // From a little inside the chute's rear edge up to the start/finish
        // point, the same spacing as the loop.
        const int lead = (int)std::floor((d.chute.length - 5.0) / step);
        for (int k = lead; k >= 1; k--) {
            const double s = -k * step;
            rider_path_point q;
            double x, z;
            mkdata::design_chute_point(d, s, &x, &z);
            q.x = (float)x;
            q.z = (float)z;
            q.y = height(s, x, z);
            q.width = (float)mkdata::design_chute_width(d, s);
            path.points.push_back(q);
        }
    }
    path.loop_start = (int)path.points.size();
    for (int k = 0; k < count; k++) {
        const double s = k * step;
        const mkdata::track_station st = mkdata::design_station_at(d, s);
        rider_path_point q;
        q.x = (float)st.x;
        q.z = (float)st.z;
        q.y = height(s, st.x, st.z);
        q.width = (float)st.width;
        for (const mkdata::track_feature& f : d.features) {
            const float limit = feature_limit(f, o);
            if (limit <= 0.0f)
                continue;
            // A feature may span the start/finish point.
            const bool inside = (s >= f.s_begin && s <= f.s_end) || (s + d.length >= f.s_begin && s + d.length <= f.s_end);
            if (inside && (q.speed_limit <= 0.0f || limit < q.speed_limit))
                q.speed_limit = limit;
        }
        path.points.push_back(q);
    }
    return path;
}

bool track_centre_path(const char* track, const heightfield* ground, const track_path_options& o, rider_path* out,
                       std::string* why)
{
    if (!(o.step >= 0.25f && o.step <= 50.0f)) {
        *why = "path step must be 0.25 to 50 ft";
        return false;
    }
    for (const mkdata::generated_track& t : mkdata::generated_tracks())
        if (t.design->dir == track) {
            *out = design_centre_path(*t.design, ground, o);
            return true;
        }
    *why = std::string("no centre line for track '") + track + "' (only the generated tracks have one)";
    return false;
}

bool sim_follow_track(sim_world* w, const char* track, const scripted_rider_settings& settings, rider_path* path,
                      std::vector<scripted_rider>* riders, std::string* why)
{
    if (!track_centre_path(track, &w->ground, track_path_options(), path, why))
        return false;
    riders->assign(w->riders.size(), scripted_rider());
    for (size_t i = 0; i < w->riders.size(); i++) {
        scripted_rider& r = (*riders)[i];
        if (!scripted_rider_start(&r, path, settings, w->riders[i].b)) {
            *why = "the track's centre line is too short to follow";
            return false;
        }
        const vec3 at = bike_frame_position(w->riders[i].b);
        r.settings.lane_offset = rider_path_lateral(*path, r.index, at.x, at.z);
    }
    // Hooked only once all have started, so a failure leaves none.
    for (size_t i = 0; i < w->riders.size(); i++)
        w->riders[i].follow = &(*riders)[i];
    return true;
}
