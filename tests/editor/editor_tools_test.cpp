// The editor's object and tile tools on the default track, loaded headless
// from the build's game data: billboard copies and rows, the robots'
// switch points, transition tiles, statue interpolation, decal groups and
// deletion, and a frozen ground that none of the tools may change.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/messages.h"
#include "editor/editor.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "test_support.h"
#include "track/surface.h"
#include "track/track.h"

namespace {

// The default track loaded from the build's data and the editor begun on
// it, with a view where the pick radius is 1 ft (pointer within 0.5 ft) and
// the brush radius 0.5 ft.
struct edited_track : ::testing::Test {
    test::data_dirs_fixture dirs;
    std::unique_ptr<track> t{new track()};
    editor_state* ed = nullptr;

    void SetUp() override
    {
        const std::string data = test::build_data_dir();
        for (const char* name : {"zzzz.saf", "rabbithill"})
            ASSERT_EQ(symlink((data + "/" + name).c_str(), (dirs.game + "/" + name).c_str()), 0) << name;
        free_file_index();
        clear_messages();
        track_list_build(0);
        ASSERT_TRUE(track_load(t.get(), "rabbithill", track_load_flags()));
        heightfield& hf = t->heightfield;
        ed = editor_begin(t.get());
        ASSERT_NE(ed, nullptr);
        editor_state& e = *ed;
        e.widget_value[18] = std::log2(hf.extent / 24.0f);  // zoom: the window shows 24 ft
        e.widget_value[21] = 16;                           // Radius: 16 of 768 pixels, 0.5 ft
        e.widget_value[22] = 1;                            // billboard Spacing
        e.widget_value[35] = 0.75f;                        // decal Spacing
        e.widget_value[36] = 2;                            // Orientation "Flow"
        e.widget_value[38] = 2;                            // Level "Over Current"
        e.pointer.width = 1024;
        e.pointer.height = 768;
        hf.changed_marker = 0;
    }

    void TearDown() override
    {
        editor_end(ed);
        track_unload(t.get());
        track_list_free();
        free_file_index();
        clear_messages();
    }

    void click(int mode, float x, float z)
    {
        ed->mode = mode;
        ed->press = editor_press_map;
        ed->hold_ticks = 0;
        editor_tools_press(ed, x, z);
        editor_tools_release(ed);
        ed->press = editor_press_none;
    }

    std::string readout()
    {
        char text[128];
        editor_tools_readout(ed, text, sizeof text);
        return text;
    }

    const sprite& billboard_sprite(int i) const
    {
        return t->objects.sprites.items[t->objects.billboards.items[i].sprite_index];
    }

    // A point with no billboard within `clear` feet of it (searching east of
    // billboard 0).
    void empty_ground(float clear, float* x, float* z) const
    {
        const sprite& s0 = billboard_sprite(0);
        for (float d = 20.0f;; d += 7.0f) {
            bool free = true;
            for (int i = 0; i < t->objects.billboards.count && free; i++) {
                const sprite& s = billboard_sprite(i);
                free = std::hypot(s.x - (s0.x + d), s.z - s0.z) > clear;
            }
            if (free) {
                *x = s0.x + d;
                *z = s0.z;
                return;
            }
        }
    }
};

TEST_F(edited_track, ABillboardCopyIsPlantedAtAnEmptyClickAndASecondClickThereSelectsIt)
{
    const int before = t->objects.billboards.count;
    const int sprites = t->objects.sprites.count;
    ASSERT_GT(before, 1);
    float x, z;
    empty_ground(10.0f, &x, &z);
    click(editor_billboards, x, z);
    ASSERT_EQ(t->objects.billboards.count, before + 1);
    EXPECT_EQ(t->objects.sprites.count, sprites + 1);
    const sprite& original = billboard_sprite(0);
    const sprite& copy = billboard_sprite(before);
    EXPECT_EQ(copy.x, x);
    EXPECT_EQ(copy.z, z);
    EXPECT_EQ(copy.size, original.size);
    EXPECT_EQ(copy.aspect, original.aspect);
    EXPECT_EQ(copy.y_offset, original.y_offset);
    EXPECT_FLOAT_EQ(copy.y, heightfield_height_at(&t->heightfield, x, z) + original.y_offset);
    EXPECT_STREQ(t->objects.billboards.items[before].texture_name, t->objects.billboards.items[0].texture_name);
    EXPECT_EQ(t->heightfield.changed_marker, 7);
    EXPECT_EQ(readout(), t->objects.billboards.items[0].texture_name);

    // The second click at the same place picks the copy.
    click(editor_billboards, x + 0.2f, z);
    EXPECT_EQ(t->objects.billboards.count, before + 1);
    EXPECT_EQ(ed->selected_billboard, before);

    // "Height" lifts the selected one; "x" removes it again, and the
    // billboards after it keep their own sprites.
    ed->widget_value[23] = 3.5f;
    editor_tools_widget(ed, 23);
    EXPECT_FLOAT_EQ(billboard_sprite(before).y, heightfield_height_at(&t->heightfield, x, z) + 3.5f);
    EXPECT_TRUE(editor_tools_key(ed, 'x', x, z));
    EXPECT_EQ(t->objects.billboards.count, before);
    EXPECT_EQ(t->objects.sprites.count, sprites);
    for (int i = 0; i < before; i++)
        EXPECT_LT(t->objects.billboards.items[i].sprite_index, sprites);
    EXPECT_EQ(readout(), "[none]");
}

TEST_F(edited_track, DraggingWithSpacingOnePlantsCopiesOneWidthApartNeverOnTopOfAnother)
{
    const int before = t->objects.billboards.count;
    const sprite s0 = billboard_sprite(0);
    const float width = s0.size * s0.aspect;
    float x, z;
    empty_ground(3.0f * width, &x, &z);
    ed->mode = editor_billboards;
    ed->press = editor_press_map;
    editor_tools_press(ed, s0.x, s0.z);  // select billboard 0
    editor_tools_release(ed);
    editor_tools_press(ed, x, z);
    const float step = 0.05f;
    // Along +x, then back over the row and on past billboard 0: where
    // billboards stand nothing is planted.
    for (float d = step; d < 6.0f * width; d += step)
        editor_tools_drag(ed, x + d, z);
    for (float d = 6.0f * width; d > s0.x - x - 2.0f * width; d -= step)
        editor_tools_drag(ed, x + d, z + 0.01f);
    editor_tools_release(ed);

    const int planted = t->objects.billboards.count - before;
    EXPECT_GE(planted, 6);
    for (int i = before; i < t->objects.billboards.count; i++) {
        const sprite& s = billboard_sprite(i);
        for (int j = 0; j < t->objects.billboards.count; j++) {
            if (j == i)
                continue;
            const sprite& o = billboard_sprite(j);
            EXPECT_GE(std::hypot(s.x - o.x, s.z - o.z), width - 1e-3f) << i << " " << j;
        }
        // Each copy of the outward row one width (plus less than a step)
        // past the one before.
        if (i > before && s.x > x) {
            const float gap = s.x - billboard_sprite(i - 1).x;
            if (gap > 0.0f) {
                EXPECT_GE(gap, width - 1e-3f);
                EXPECT_LT(gap, width + step + 1e-3f);
            }
        }
    }
}

TEST_F(edited_track, ClearingThenSettingASwitchPointRestoresTheLapSequences)
{
    track_timing& g = t->timing_gates;
    const track_timing saved = g;
    const int gate = 5;
    const timing_gate& c = g.checkpoints[gate];
    click(editor_timing_gate, c.position.x + 0.3f, c.position.z);
    ASSERT_EQ(ed->selected_gate, gate);
    EXPECT_EQ(ed->drag, 0);  // released
    EXPECT_EQ(readout(), "Switch Point: Yes");

    editor_tools_widget(ed, 31);
    EXPECT_EQ(readout(), "Switch Point: No");
    EXPECT_EQ(g.first_real, saved.first_real - 1);
    EXPECT_EQ(g.normal_real, saved.normal_real - 1);
    EXPECT_EQ(timing_section_count(&g), timing_section_count(&saved) - 2);
    EXPECT_EQ(t->heightfield.changed_marker, 7);
    EXPECT_TRUE(editor_sections_changed(ed));  // the lines file no longer fits

    editor_tools_widget(ed, 30);
    EXPECT_EQ(readout(), "Switch Point: Yes");
    EXPECT_EQ(memcmp(g.first_lap, saved.first_lap, sizeof g.first_lap), 0);
    EXPECT_EQ(memcmp(g.normal_lap, saved.normal_lap, sizeof g.normal_lap), 0);
    EXPECT_EQ(g.first_real, saved.first_real);
    EXPECT_EQ(g.normal_real, saved.normal_real);
    EXPECT_FALSE(editor_sections_changed(ed));
    EXPECT_FALSE(editor_gates_moved(ed));

    // A lap keeps one section boundary: clearing every gate stops at the
    // last one of each lap.
    for (int k = 0; k < g.checkpoint_count; k++) {
        ed->selected_gate = k;
        editor_tools_widget(ed, 31);
    }
    EXPECT_EQ(g.first_real, 1);
    EXPECT_EQ(g.normal_real, 1);
    EXPECT_STREQ(ed->status, "A lap needs a switch point!");

    // The press picks by the arrow's tip (turning) and by the back half of
    // the circle; the front half picks nothing.
    const float len = std::hypot(c.direction.x, c.direction.z);
    const float ux = c.direction.x / len, uz = c.direction.z / len;
    ed->mode = editor_timing_gate;
    editor_tools_press(ed, c.position.x + ux * c.radius, c.position.z + uz * c.radius);
    EXPECT_EQ(ed->selected_gate, gate);
    EXPECT_EQ(ed->drag, 2);
    editor_tools_drag(ed, c.position.x + 20.0f, c.position.z);
    EXPECT_FLOAT_EQ(g.checkpoints[gate].radius, 20.0f);
    EXPECT_EQ(g.checkpoints[gate].direction.z, 0.0f);
    EXPECT_TRUE(editor_gates_moved(ed));
}

TEST_F(edited_track, PaintingGrassIntoDirtGivesTheNeighboursTransitionTilesPointingAtIt)
{
    heightfield& hf = t->heightfield;
    const int cells = 1 << hf.grid_log2;
    const int grass = 0, dirt = 1;
    ASSERT_EQ(tile_code_primary(hf.surfaces[grass].tile_code), grass);
    ASSERT_EQ(tile_code_primary(hf.surfaces[dirt].tile_code), dirt);
    EXPECT_EQ(ed->tile_max, 3.0f);  // grass, dirt, loam, sand before the alternatives
    auto plain_dirt = [&](int cx, int cz) {
        const int code = hf.surfaces[hf.tilemap[cz * cells + cx]].tile_code;
        return tile_code_primary(code) == dirt && tile_code_secondary(code) == dirt;
    };
    int fx = -1, fz = -1;
    for (int cz = 2; cz < cells - 2 && fx < 0; cz++)
        for (int cx = 2; cx < cells - 2 && fx < 0; cx++) {
            bool all = true;
            for (int dz = -1; dz <= 1; dz++)
                for (int dx = -1; dx <= 1; dx++)
                    all = all && plain_dirt(cx + dx, cz + dz);
            if (all) {
                fx = cx;
                fz = cz;
            }
        }
    ASSERT_GE(fx, 0) << "no dirt patch";
    const std::vector<uint8_t> before(hf.tilemap, hf.tilemap + cells * cells);

    ed->mode = editor_tilemap;
    ed->widget_value[32] = grass;
    ed->press = editor_press_map;
    ed->hold_ticks = 0;
    ed->anchor_x = ed->anchor_z = -1;
    const float x = (float)(2 * fx + 1) * hf.spacing, z = (float)(2 * fz + 1) * hf.spacing;
    for (int tick = 0; tick < 40; tick++) {
        editor_tools_tick(ed, x, z, true);
        ed->hold_ticks++;
    }
    editor_tools_release(ed);

    EXPECT_EQ(hf.surfaces[hf.tilemap[fz * cells + fx]].tile_code, hf.surfaces[grass].tile_code);
    EXPECT_EQ(hf.changed_marker, 7);
    // Corner bits 8 top left, 4 top right, 2 bottom left, 1 bottom right:
    // the grass corners of each neighbour face the painted cell.
    const struct {
        int dx, dz, mask;
    } expected[8] = {{-1, -1, 1}, {0, -1, 3}, {1, -1, 2}, {-1, 0, 5}, {1, 0, 10}, {-1, 1, 4}, {0, 1, 12}, {1, 1, 8}};
    for (const auto& n : expected) {
        const int code = hf.surfaces[hf.tilemap[(fz + n.dz) * cells + fx + n.dx]].tile_code;
        EXPECT_EQ(tile_code_primary(code), dirt) << n.dx << "," << n.dz;
        EXPECT_EQ(tile_code_secondary(code), grass) << n.dx << "," << n.dz;
        EXPECT_EQ(tile_code_mask(code), n.mask) << n.dx << "," << n.dz;
    }
    int changed = 0;
    for (int k = 0; k < cells * cells; k++)
        changed += hf.tilemap[k] != before[(size_t)k];
    EXPECT_EQ(changed, 9);
    EXPECT_EQ(ed->anchor_x, -1.0f);
}

TEST_F(edited_track, StatuesInterpolateOntoTheLineAndRefuseADifferentModel)
{
    statue_list& list = t->objects.statues;
    const int last = list.count - 1;
    ASSERT_GE(last, t->fixed_statues);
    const statue s = list.items[last];
    click(editor_statues, s.x, s.z);
    ASSERT_EQ(ed->selected_statue, last);
    // Three copies ("d") at the pointer, the last one 40 ft away.
    for (int k = 1; k <= 3; k++)
        EXPECT_TRUE(editor_tools_key(ed, 'd', s.x + 5.0f * (float)k, s.z + (k == 3 ? 30.0f : 3.0f)));
    ASSERT_EQ(list.count, last + 4);
    EXPECT_STREQ(list.items[last + 1].model_name, s.model_name);
    EXPECT_EQ(list.items[last + 1].angle, s.angle);

    EXPECT_TRUE(editor_tools_key(ed, 'i', 0, 0));
    const statue& end = list.items[last + 3];
    for (int k = 1; k <= 2; k++) {
        const statue& m = list.items[last + k];
        EXPECT_NEAR(m.x, s.x + (end.x - s.x) * (float)k / 3.0f, 1e-3f);
        EXPECT_NEAR(m.z, s.z + (end.z - s.z) * (float)k / 3.0f, 1e-3f);
        EXPECT_FLOAT_EQ(m.y, heightfield_height_at(&t->heightfield, m.x, m.z) + m.y_offset);
    }

    // A statue of another model after them: nothing moves.
    int other = -1;
    for (int i = 0; i < list.count && other < 0; i++)
        if (!list.items[i].model_name || strcmp(list.items[i].model_name, s.model_name) != 0)
            other = i;
    ASSERT_GE(other, 0);
    ed->selected_statue = other;
    editor_tools_key(ed, 'd', s.x + 50.0f, s.z);
    const float moved_x = list.items[last + 1].x;
    list.items[last + 1].x += 7.0f;
    ed->selected_statue = last;
    editor_tools_key(ed, 'i', 0, 0);
    EXPECT_STREQ(ed->status, "Bad match for interpolate!");
    EXPECT_EQ(list.items[last + 1].x, moved_x + 7.0f);

    // Deleting removes copies but never the track's own statues.
    const int count = list.count;
    const statue& fixed = list.items[0];
    editor_tools_key(ed, 'x', fixed.x, fixed.z);
    EXPECT_EQ(list.count, count);
    editor_tools_key(ed, 'x', list.items[last + 2].x, list.items[last + 2].z);
    EXPECT_EQ(list.count, count - 1);
}

TEST_F(edited_track, SnappingAStatueOnTheGradientStartKeepsItThereAcrossTheAxis)
{
    statue_list& list = t->objects.statues;
    const int i = list.count - 1;
    gradient g;
    g.x0 = list.items[i].x;
    g.z0 = list.items[i].z;
    g.x1 = g.x0 + 30.0f;
    g.z1 = g.z0;
    g.points = {{0, 0}, {30, 0}};
    g.segment_types = {0, 0};
    ed->gradients.push_back(g);
    ed->current_gradient = 0;
    ed->selected_statue = i;
    editor_tools_widget(ed, 34);
    EXPECT_EQ(list.items[i].x, g.x0);
    EXPECT_EQ(list.items[i].z, g.z0);
    EXPECT_FLOAT_EQ(list.items[i].angle, std::atan2(-0.0f, 1.0f));

    // Off the start, nearer the axis than any point's distance: onto the
    // axis, facing back toward the start.
    list.items[i].x = g.x0 + 12.0f;
    list.items[i].z = g.z0 + 2.0f;
    editor_tools_widget(ed, 34);
    EXPECT_FLOAT_EQ(list.items[i].x, g.x0 + 12.0f);
    EXPECT_FLOAT_EQ(list.items[i].z, g.z0);
    EXPECT_FLOAT_EQ(list.items[i].angle, std::atan2(-12.0f, -0.0f));
}

// Decals of pictures "a" and "b" at 10 ft intervals along x, from x0.
struct decal_track : edited_track {
    float x0 = 700, z0 = 700;
    void SetUp() override
    {
        edited_track::SetUp();
        if (t->heightfield.decals)
            while (t->heightfield.decals->count > 0)
                decal_remove(&t->heightfield, 0);
    }
    void add(const char* picture, float x, float z, float angle = 0)
    {
        decal d;
        d.texture = picture[0] == 'a' ? 1 : 2;
        d.x = x;
        d.z = z;
        d.angle = angle;
        d.size = 4;
        d.aspect = 1;
        d.texture_name = mem_strdup(picture);
        decal_insert(&t->heightfield, t->heightfield.decals ? t->heightfield.decals->count : 0, &d);
    }
    const decal& at(int i) const { return t->heightfield.decals->items[i]; }
    int count() const { return t->heightfield.decals->count; }
};

TEST_F(decal_track, GroupedDecalsFollowCopiesAndScalingThereAndBack)
{
    add("a", x0, z0);
    add("a", x0 + 3, z0);
    add("b", x0, z0 + 3);
    ed->mode = editor_decals;
    ed->current_decal = 0;
    EXPECT_TRUE(editor_tools_key(ed, 'm', x0 + 3, z0));
    EXPECT_TRUE(editor_tools_key(ed, 'm', x0, z0 + 3));
    ASSERT_EQ(ed->decal_group, (std::vector<int>{1, 2}));
    EXPECT_TRUE(editor_tools_key(ed, 'm', x0, z0 + 3));  // and out again
    EXPECT_TRUE(editor_tools_key(ed, 'm', x0, z0 + 3));

    EXPECT_TRUE(editor_tools_key(ed, '{', 0, 0));
    EXPECT_FLOAT_EQ(at(1).x, x0 + 3 * 0.9375f);
    EXPECT_TRUE(editor_tools_key(ed, '}', 0, 0));
    EXPECT_NEAR(at(1).x, x0 + 3, 1e-4f);
    EXPECT_NEAR(at(2).z, z0 + 3, 1e-4f);

    // "d" with "Copy" orientation, "Over Current": the copy of the current
    // decal goes after the run of "a" that starts at it, each member's copy
    // after its own, indices shifting as they go in.
    ed->widget_value[36] = 0;
    EXPECT_TRUE(editor_tools_key(ed, 'd', x0 - 10, z0));
    ASSERT_EQ(count(), 6);
    const decal& cur = at(ed->current_decal);
    EXPECT_NEAR(cur.x, x0 - 4 * 0.75f, 1e-4f);
    EXPECT_EQ(cur.z, z0);
    EXPECT_STREQ(cur.texture_name, "a");
    ASSERT_EQ(ed->decal_group.size(), 2u);
    for (int k = 0; k < 2; k++) {
        const decal& copy = at(ed->decal_group[(size_t)k]);
        const float dx = k == 0 ? 3.0f : 0.0f, dz = k == 0 ? 0.0f : 3.0f;
        EXPECT_NEAR(copy.x - cur.x, dx, 1e-4f) << k;
        EXPECT_NEAR(copy.z - cur.z, dz, 1e-4f) << k;
        EXPECT_STREQ(copy.texture_name, k == 0 ? "a" : "b");
    }
    // List: a a a' a'' b b' (each copy after the run of its picture that
    // starts at its original).
    EXPECT_EQ(ed->current_decal, 2);
    EXPECT_EQ(ed->decal_group, (std::vector<int>{3, 5}));
    EXPECT_EQ(t->heightfield.changed_marker, 7);
}

TEST_F(decal_track, DeletingTheCurrentDecalMakesTheLastOfItsPictureCurrent)
{
    add("a", x0, z0);
    add("b", x0 + 10, z0);
    add("a", x0 + 20, z0);
    add("b", x0 + 30, z0);
    add("b", x0 + 40, z0);
    ed->mode = editor_decals;
    ed->current_decal = 2;
    ed->decal_group = {3, 4};
    // A decal below the current one: the current and the group move down.
    EXPECT_TRUE(editor_tools_key(ed, 'x', x0 + 10, z0));
    EXPECT_EQ(count(), 4);
    EXPECT_EQ(ed->current_decal, 1);
    EXPECT_EQ(ed->decal_group, (std::vector<int>{2, 3}));
    // The current one: the group empties and the last "a" left is current.
    EXPECT_TRUE(editor_tools_key(ed, 127, x0 + 20, z0));
    EXPECT_EQ(count(), 3);
    EXPECT_EQ(ed->current_decal, 0);
    EXPECT_TRUE(ed->decal_group.empty());
    // The last "a": none left.
    EXPECT_TRUE(editor_tools_key(ed, 'x', x0, z0));
    EXPECT_EQ(ed->current_decal, -1);
    // "Hide different" with a "b" current: an "a" cannot be picked.
    add("a", x0 + 50, z0);
    ed->current_decal = 0;
    ed->widget_value[37] = 1;
    const int before = count();
    editor_tools_key(ed, 'x', x0 + 50, z0);
    EXPECT_EQ(count(), before);
}

TEST_F(edited_track, NothingMovesOrIsPaintedWhileTheGroundIsFrozen)
{
    heightfield& hf = t->heightfield;
    hf.frozen = 1;
    const int cells = 1 << hf.grid_log2;
    const std::vector<uint8_t> tiles(hf.tilemap, hf.tilemap + cells * cells);
    const track_timing gates = t->timing_gates;
    const statue s = t->objects.statues.items[t->objects.statues.count - 1];
    const int statues = t->objects.statues.count;

    const timing_gate& c = gates.checkpoints[3];
    ed->mode = editor_timing_gate;
    editor_tools_press(ed, c.position.x, c.position.z);
    ASSERT_EQ(ed->drag, 1);
    editor_tools_drag(ed, c.position.x + 30, c.position.z);
    ed->mode = editor_statues;
    editor_tools_press(ed, s.x, s.z);
    ASSERT_EQ(ed->drag, 1);
    editor_tools_drag(ed, s.x + 30, s.z);
    editor_tools_key(ed, 'd', s.x + 40, s.z);
    editor_tools_key(ed, 'x', s.x, s.z);
    editor_tools_key(ed, 'i', s.x, s.z);
    editor_tools_widget(ed, 34);
    ed->mode = editor_tilemap;
    ed->press = editor_press_map;
    ed->hold_ticks = 0;
    ed->widget_value[32] = 3;
    ed->widget_value[21] = 768;  // a brush of 24 ft
    for (int tick = 0; tick < 70; tick++) {
        editor_tools_tick(ed, s.x + (float)tick, s.z, true);
        ed->hold_ticks++;
    }

    EXPECT_EQ(memcmp(t->timing_gates.checkpoints, gates.checkpoints, sizeof gates.checkpoints), 0);
    EXPECT_EQ(t->objects.statues.count, statues);
    const statue& now = t->objects.statues.items[statues - 1];
    EXPECT_EQ(now.x, s.x);
    EXPECT_EQ(now.z, s.z);
    EXPECT_EQ(std::vector<uint8_t>(hf.tilemap, hf.tilemap + cells * cells), tiles);
    EXPECT_EQ(hf.changed_marker, 0);
}

}  // namespace
