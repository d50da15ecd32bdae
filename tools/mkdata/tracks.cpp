// Track directories of the default data.
#include <cstdio>

#include "files/memory.h"
#include "robot/centre_line.h"
#include "track/surface.h"
#include "track_content.h"
#include "track_ground.h"
#include "track_path.h"

namespace mkdata {

namespace {

track_light rabbithill_light()
{
    // An afternoon sun from the south-west, high enough to light the
    // faces of the jumps, low enough to throw their shadows.
    track_light l = {{-0.55, 0.47, 0.69}, {1.0, 0.95, 0.84}, {0.42, 0.45, 0.52}};
    return l;
}

track_light stadium_light()
{
    // A high evening sun from the north-west over the stands: short
    // shadows on the floor, a bright sky. The arena's floor is small and
    // close to the camera, where per-pixel lighting shows its ruts best.
    track_light l = {{-0.35, 0.82, -0.45}, {1.0, 0.92, 0.80}, {0.48, 0.48, 0.55}};
    l.dynamic = true;
    // Its sun stands elsewhere than the default sky's, so it has a sky of
    // its own: warm haze over the stands.
    l.sky = evening_sky();
    l.own_sky = true;
    return l;
}

}  // namespace

const std::vector<generated_track>& generated_tracks()
{
    static std::vector<generated_track> tracks;
    if (tracks.empty()) {
        tracks.push_back({&rabbithill_design(), rabbithill_light()});
        tracks.push_back({&stadium_design(), stadium_light()});
    }
    return tracks;
}

namespace {

bool write_ground_files(output& out, const generated_track& t, const track_ground& g)
{
    const track_design& d = *t.design;
    std::string dir = d.dir + "/";
    const tile_set& tiles = standard_tiles();
    std::vector<uint8_t> map = build_tilemap(g, tiles, d.seed);
    return write_text(out, dir + "desc", d.display_name + "\n") && write_terrain(out, dir, g) &&
           write_lighting(out, dir, g, t.light) && write_tiles(out, dir, tiles) && write_file(out, dir + "tilemap", map);
}

// The ground, then everything placed on it.
bool write_track(output& out, const generated_track& t)
{
    track_ground g;
    synthesize_ground(*t.design, &g);
    if (!write_ground_files(out, t, g))
        return false;
    heightfield hf;
    if (!ground_heightfield(g, &hf)) {
        fprintf(stderr, "kessrig-mkdata: bad terrain grid for %s\n", t.design->dir.c_str());
        return false;
    }
    // The centre line a test rider follows, heights from the ground it rides.
    const rider_path centre = design_centre_path(*t.design, &hf, track_path_options());
    bool ok = write_track_content(out, *t.design, &hf) &&
              write_text(out, t.design->dir + "/centreline", centre_line_text(centre));
    heightfield_free(&hf);
    return ok;
}

}  // namespace

bool write_track_ground(output& out, const generated_track& t)
{
    track_ground g;
    synthesize_ground(*t.design, &g);
    return write_ground_files(out, t, g);
}

bool write_preview(const std::string& png_path, const std::string& data_dir, const std::string& track)
{
    const generated_track* t = nullptr;
    for (const generated_track& g : generated_tracks())
        if (track.empty() ? t == nullptr : g.design->dir == track)
            t = &g;
    if (!t) {
        fprintf(stderr, "kessrig-mkdata: no generated track '%s'\n", track.c_str());
        return false;
    }
    const track_design& d = *t->design;
    heightfield hf;
    bool ok;
    if (!data_dir.empty()) {
        // What the game would load from that data directory.
        std::string dir = data_dir + "/" + d.dir;
        ok = heightfield_load_ground(&hf, dir.c_str(), 0);
        if (!ok)
            fprintf(stderr, "kessrig-mkdata: can't load the ground of %s\n", dir.c_str());
        else
            ok = write_ground_preview(png_path, d, hf.shading_map, hf.sample_count, hf.tilemap, standard_tiles());
    } else {
        // Straight from the generator, without writing the track.
        track_ground g;
        synthesize_ground(d, &g);
        std::vector<uint8_t> map = build_tilemap(g, standard_tiles(), d.seed);
        ok = ground_heightfield(g, &hf);
        if (ok) {
            bake_lighting(&hf, t->light);
            ok = write_ground_preview(png_path, d, hf.shading_map, hf.sample_count, map.data(), standard_tiles());
        }
    }
    heightfield_free(&hf);
    return ok;
}

bool generate_tracks(output& out)
{
    for (const generated_track& t : generated_tracks())
        if (!write_track(out, t))
            return false;
    return true;
}

}  // namespace mkdata
