// Putting a bike on its start spot. Kept apart from the assembly because it
// needs the ground contact of the bike.
#include <cmath>

#include "bike/bike.h"
#include "bike/contact.h"
#include "bike/physics.h"
#include "platform/log.h"

namespace {
// 1024 ft above the spot: no terrain reaches that far, so a bike still
// touching there has a broken spot (non-finite values) and stays put.
constexpr int k_max_raises = 4096;
}

float place_bike_at_start(bike* b, const heightfield* hf, float x, float z, float angle, float height)
{
    if (!std::isfinite(x) || !std::isfinite(z) || !std::isfinite(angle) || !std::isfinite(height)) {
        log_printf("start spot (%f, %f, %f, %f) is not usable; bike left at the origin\n", (double)x,
                   (double)z, (double)angle, (double)height);
        x = z = angle = height = 0;
    }
    for (int i = 0; i <= k_max_raises; i++) {
        reset_bike_pose(b);
        rotate_bike(b, 0, 1, 0, angle);
        translate_bike(b, x, height, z);
        if (!bike_touches_ground(b, hf))
            break;
        height += 0.25f;
    }
    // The probing created contacts (and possibly a crash); none may act.
    physics_clear_contacts(b->space);
    return height;
}
