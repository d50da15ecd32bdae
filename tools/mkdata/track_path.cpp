// The centre line of a generated track as a scripted rider's path.
#include "track_path.h"

#include <algorithm>
#include <cmath>

#include "track/heightfield.h"
#include "track_design.h"
#include "track_ground.h"

namespace mkdata {

namespace {

float feature_limit(const track_feature& f, const track_path_options& o)
{
    switch (f.kind) {
    case feature_kind::tabletop:
        return o.tabletop_speed;
    case feature_kind::double_jump:
        return o.double_speed;
    case feature_kind::whoops:
        return o.whoops_speed;
    default:
        return 0.0f;
    }
}

}  // namespace

rider_path design_centre_path(const track_design& d, const heightfield* ground, const track_path_options& o)
{
    rider_path path;
    const int count = std::max(3, (int)std::lround(d.length / o.step));
    const double step = d.length / count;
    path.step = (float)step;
    path.closed = true;

    auto height = [&](double s, double x, double z) {
        return ground ? heightfield_height_at(ground, (float)x, (float)z) : (float)design_height(d, s, 0.0);
    };
    if (o.from_gate && d.chute.length > 0) {
        // From a little inside the chute's rear edge up to the start/finish
        // point, the same spacing as the loop.
        const int lead = (int)std::floor((d.chute.length - 5.0) / step);
        for (int k = lead; k >= 1; k--) {
            const double s = -k * step;
            rider_path_point q;
            double x, z;
            design_chute_point(d, s, &x, &z);
            q.x = (float)x;
            q.z = (float)z;
            q.y = height(s, x, z);
            q.width = (float)design_chute_width(d, s);
            path.points.push_back(q);
        }
    }
    path.loop_start = (int)path.points.size();
    for (int k = 0; k < count; k++) {
        const double s = k * step;
        const track_station st = design_station_at(d, s);
        rider_path_point q;
        q.x = (float)st.x;
        q.z = (float)st.z;
        q.y = height(s, st.x, st.z);
        q.width = (float)st.width;
        for (const track_feature& f : d.features) {
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

}  // namespace mkdata
