// A track's "edinfo" (the editor's gradients) over arbitrary bytes, read as
// the editor reads it when it opens a track. Every gradient must have
// finite ends, its points in increasing distance with finite values and a
// segment type for each; the profile and both shapes must answer anywhere
// along and across it.
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "editor/editor.h"
#include "fuzz_accept.h"
#include "fuzz_dirs.h"
#include "track/heightfield.h"
#include "track/track.h"

namespace {

struct state {
    std::string file;
    track t;
    heightfield hf;
    state()
    {
        file = fuzz_data_dirs("edinfo", "fz") + "/edinfo";
        snprintf(t.dir, sizeof t.dir, "fz");
        if (!heightfield_create(&hf, 3, 2.0f, nullptr))
            abort();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static state st;
    FILE* f = fopen(st.file.c_str(), "wb");
    if (!f)
        return 0;
    fwrite(data, 1, size, f);
    fclose(f);
    editor_state e;
    e.t = &st.t;
    e.hf = &st.hf;
    editor_read_info(&e);
    if (e.gradients.empty())
        return 0;
    fuzz_accept();
    if (e.current_gradient != (int)e.gradients.size() - 1)
        __builtin_trap();
    for (const gradient& g : e.gradients) {
        if (!std::isfinite(g.x0) || !std::isfinite(g.z0) || !std::isfinite(g.x1) || !std::isfinite(g.z1))
            __builtin_trap();
        if (g.points.size() != g.segment_types.size())
            __builtin_trap();
        for (size_t i = 0; i < g.points.size(); i++) {
            if (!std::isfinite(g.points[i].distance) || !std::isfinite(g.points[i].height))
                __builtin_trap();
            if (i > 0 && g.points[i - 1].distance > g.points[i].distance)
                __builtin_trap();
        }
        for (float s : {-1.0f, 0.0f, 0.5f, 3.0f, 1e6f})
            (void)gradient_profile(g, s);
        for (float x : {g.x0, g.x1, 0.5f * (g.x0 + g.x1)})
            for (float z : {g.z0, g.z1, 7.0f}) {
                (void)gradient_linear(g, x, z);
                (void)gradient_radial(g, x, z);
            }
    }
    return 0;
}
