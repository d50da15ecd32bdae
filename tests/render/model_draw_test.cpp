// Models drawn on a real driver: which parts each pass draws (counted in
// the render statistics), self-lit parts and the lighting they leave
// behind, skinning by the processor and by the programs, the angular-map
// coordinates of the environment pass, and display lists. Pictures are
// read back and checked pixel by pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "files/datafs.h"
#include "gl_test_context.h"
#include "model_test_util.h"
#include "render/model.h"
#include "render/picture.h"
#include "render/shaders.h"
#include "render/texture.h"

using namespace qmtest;

namespace {

const vec3 origin = {0, 0, 0};
const vec3 front = {0, 0, 5};  // an eye in front of the xy plane

struct model_draw_test : gl_test {
    test::data_dirs_fixture dirs;
    std::vector<GLuint> textures;

    void TearDown() override
    {
        if (window) {
            model_purge(true);
            use_program(program_none);
            shaders_free();
            for (GLuint id : textures)
                glDeleteTextures(1, &id);
        }
        g_gl_caps.shaders_on = false;
        g_model_settings = model_settings();
        gl_test::TearDown();
    }

    model* get(const std::string& name, const std::string& text)
    {
        test::write_file(dirs.game + "/" + name, text);
        free_file_index();
        return model_get(("@" + name).c_str());
    }

    // Orthographic view of -1..1 in x and y straight down -z, nothing lit
    // or textured, drawing white on black.
    void set_scene()
    {
        glViewport(0, 0, width, height);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_LIGHTING);
        glDisable(GL_TEXTURE_2D);
        glDisable(GL_CULL_FACE);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(-1, 1, -1, 1, -10, 10);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glColor4f(1, 1, 1, 1);
        glFogf(GL_FOG_DENSITY, 0);  // the programs always fog
    }

    std::vector<int> colour_at(float x, float y)
    {
        const int px = int((x + 1) / 2 * width), py = int((y + 1) / 2 * height);
        std::vector<unsigned char> p = read_pixels(px, py, 1, 1);
        return {p[0], p[1], p[2]};
    }
    bool covered(float x, float y)
    {
        const std::vector<int> c = colour_at(x, y);
        return c[0] + c[1] + c[2] > 150;
    }
    std::vector<unsigned char> picture() { return read_pixels(0, 0, width, height); }

    // A single-level RGBA texture on unit 0, texturing on, modulated.
    void bind_texture(const std::vector<unsigned char>& rgba, int size)
    {
        std::vector<unsigned char> chain(mip_chain_bytes(size, size, 4));
        std::copy(rgba.begin(), rgba.end(), chain.begin());
        const GLuint id = texture_create(chain.data(), size, size, 4, texture_single_level);
        ASSERT_NE(id, 0u);
        textures.push_back(id);
        glBindTexture(GL_TEXTURE_2D, id);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        glEnable(GL_TEXTURE_2D);
    }
};

void expect_colour(const std::vector<int>& got, int r, int g, int b, int tolerance = 2)
{
    EXPECT_NEAR(got[0], r, tolerance) << got[0] << " " << got[1] << " " << got[2];
    EXPECT_NEAR(got[1], g, tolerance) << got[0] << " " << got[1] << " " << got[2];
    EXPECT_NEAR(got[2], b, tolerance) << got[0] << " " << got[1] << " " << got[2];
}

// Two bars along x, the left one (x -0.5..0) on bone 0, the right one
// (0..0.5) on bone 1, each 0.1 high.
std::string two_bone_bars()
{
    part p;
    for (int bar = 0; bar < 2; bar++) {
        const float x0 = bar == 0 ? -0.5f : 0, x1 = x0 + 0.5f;
        const std::vector<float> w = bar == 0 ? std::vector<float>{1, 0} : std::vector<float>{0, 1};
        const int first = (int)p.vertices.size();
        p.vertices.push_back({x0, -0.05f, 0, 0, 0, 1, 0, 0, w});
        p.vertices.push_back({x1, -0.05f, 0, 0, 0, 1, 1, 0, w});
        p.vertices.push_back({x1, 0.05f, 0, 0, 0, 1, 1, 1, w});
        p.vertices.push_back({x0, 0.05f, 0, 0, 0, 1, 0, 1, w});
        for (int k : {0, 1, 2, 0, 2, 3})
            p.triangles.push_back(first + k);
    }
    return file({p}, 2);
}

// Bone 0 stays; bone 1 turns a quarter about z (x goes to y) about the
// pivot c and moves by t.
struct two_bones {
    float centres[6] = {0, 0, 0, 0, 0, 0};
    float translations[6] = {0, 0, 0, 0, 0, 0};
    float rotations[18] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, -1, 0, 0, 0, 0, 1};
    model_bones bones()
    {
        model_bones b;
        b.count = 2;
        b.centres = centres;
        b.translations = translations;
        b.rotations = rotations;
        return b;
    }
};

}  // namespace

TEST_F(model_draw_test, the_lit_pass_stops_at_the_shiny_part_which_only_the_env_pass_draws)
{
    set_scene();
    part lit = square(-0.5f, 0, 0.25f, 24);
    part shiny = square(0.5f, 0, 0.25f, -1);
    shiny.vertices.push_back({0.9f, 0.9f, 0});  // counted, though no triangle uses it
    shiny.specular[0] = 1;
    shiny.specular[1] = 0.5f;
    shiny.specular[2] = 0;
    shiny.reflectivity = 0.5f;
    model* m = get("two.qm", file({lit, shiny}));
    ASSERT_NE(m, nullptr);

    model_statistics_reset();
    model_draw_lit(m, front, origin, nullptr, nullptr);
    EXPECT_EQ(g_model_statistics.vertices, 4);
    EXPECT_EQ(g_model_statistics.triangles, 2);
    expect_colour(colour_at(-0.5f, 0), 255, 255, 255);
    expect_colour(colour_at(0.5f, 0), 0, 0, 0);

    glClear(GL_COLOR_BUFFER_BIT);
    model_statistics_reset();
    model_draw_env(m, front, origin, nullptr, nullptr);
    EXPECT_EQ(g_model_statistics.vertices, 5);
    EXPECT_EQ(g_model_statistics.triangles, 2);
    expect_colour(colour_at(-0.5f, 0), 0, 0, 0);
    // Coloured reflectivity x specular.
    expect_colour(colour_at(0.5f, 0), 128, 64, 0);

    // A model without shiny parts has nothing for the environment pass.
    model* plain = get("plain.qm", file({lit}));
    ASSERT_NE(plain, nullptr);
    model_statistics_reset();
    model_draw_env(plain, front, origin, nullptr, nullptr);
    EXPECT_EQ(g_model_statistics.vertices, 0);
}

TEST_F(model_draw_test, the_level_drawn_follows_the_distance_from_the_eye)
{
    set_scene();
    part coarse;
    coarse.vertices = {{-0.5f, -0.5f, 0}, {0.5f, -0.5f, 0}, {0, 0.5f, 0}};
    coarse.triangles = {0, 1, 2};
    test::write_file(dirs.game + "/gate_lod3.qm", file({coarse}));
    model* m = get("gate.qm", file({square(0, 0, 0.5f)}));
    ASSERT_NE(m, nullptr);
    ASSERT_NE(m->next_lod, nullptr);
    model_statistics_reset();
    model_draw_lit(m, {0, 0, 7.9f}, origin, nullptr, nullptr);
    EXPECT_EQ(g_model_statistics.vertices, 4);
    EXPECT_TRUE(covered(0.4f, 0.4f));
    model_statistics_reset();
    glClear(GL_COLOR_BUFFER_BIT);
    // The distance is measured to the model's position.
    model_draw_lit(m, {0, 0, 7.9f}, {0, 0, -0.2f}, nullptr, nullptr);
    EXPECT_EQ(g_model_statistics.vertices, 3);
    EXPECT_FALSE(covered(0.4f, 0.4f));
    EXPECT_TRUE(covered(0, -0.3f));
}

TEST_F(model_draw_test, self_lit_parts_glow_and_leave_the_lighting_as_it_was)
{
    set_scene();
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    const float direction[4] = {0, 0, 1, 0};
    const float light_diffuse[4] = {0.5f, 0.5f, 0.5f, 1};
    const float light_ambient[4] = {0.2f, 0.2f, 0.2f, 1};
    const float scene_ambient[4] = {0.1f, 0.1f, 0.1f, 1};
    const float white[4] = {1, 1, 1, 1};
    const float fading[4] = {1, 1, 1, 0.9f};
    glLightfv(GL_LIGHT0, GL_POSITION, direction);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, light_diffuse);
    glLightfv(GL_LIGHT0, GL_AMBIENT, light_ambient);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, scene_ambient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, white);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, fading);

    // Drawn in file order: the glowing part first, then a plain part that
    // would come out dark if the glow's lighting stayed.
    part glow = square(-0.5f, 0, 0.25f, -2);
    glow.specular[0] = 0;
    glow.specular[1] = 0.8f;
    glow.specular[2] = 0;
    part plain = square(0.5f, 0, 0.25f, 300);
    plain.specular[0] = plain.specular[1] = plain.specular[2] = 0;
    model* m = get("glow.qm", file({glow, plain}));
    ASSERT_NE(m, nullptr);
    model_draw_lit(m, front, origin, nullptr, nullptr);
    expect_colour(colour_at(-0.5f, 0), 0, 204, 0);
    expect_colour(colour_at(0.5f, 0), 204, 204, 204);

    float got[4];
    glGetFloatv(GL_LIGHT_MODEL_AMBIENT, got);
    EXPECT_FLOAT_EQ(got[0], 0.1f);
    glGetLightfv(GL_LIGHT0, GL_AMBIENT, got);
    EXPECT_FLOAT_EQ(got[1], 0.2f);
    glGetMaterialfv(GL_FRONT, GL_DIFFUSE, got);
    EXPECT_FLOAT_EQ(got[0], 1.0f);
    EXPECT_FLOAT_EQ(got[3], 0.9f);  // a fading bike's alpha survives
    // The plain part's material: its specular with reflectivity 1, and an
    // exponent within what GL takes.
    glGetMaterialfv(GL_FRONT, GL_SPECULAR, got);
    EXPECT_FLOAT_EQ(got[3], 1.0f);
    glGetMaterialfv(GL_FRONT, GL_SHININESS, got);
    EXPECT_FLOAT_EQ(got[0], 128.0f);
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(model_draw_test, processor_skinning_turns_the_second_bone_about_its_pivot)
{
    set_scene();
    model* m = get("bars.qm", two_bone_bars());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->parts->display_list, 0u);  // skinned every frame

    // Rest pose: both bars along x.
    model_draw_lit(m, front, origin, nullptr, nullptr);
    EXPECT_TRUE(covered(-0.25f, 0));
    EXPECT_TRUE(covered(0.25f, 0));
    EXPECT_FALSE(covered(0, 0.25f));

    // A quarter turn about the origin: the right bar stands up.
    two_bones b;
    model_bones bones = b.bones();
    glClear(GL_COLOR_BUFFER_BIT);
    model_draw_lit(m, front, origin, nullptr, &bones);
    EXPECT_TRUE(covered(-0.25f, 0));
    EXPECT_FALSE(covered(0.25f, 0));
    EXPECT_TRUE(covered(0, 0.25f));
    EXPECT_TRUE(covered(0, 0.45f));
    EXPECT_FALSE(covered(0, -0.25f));  // where a transposed rotation would put it
    const std::vector<unsigned char> turned = picture();

    // Immediate mode draws the same picture.
    g_model_settings.no_vertex_arrays = true;
    glClear(GL_COLOR_BUFFER_BIT);
    model_draw_lit(m, front, origin, nullptr, &bones);
    EXPECT_TRUE(picture() == turned);
    g_model_settings.no_vertex_arrays = false;

    // Turned about the bar's middle and moved back there: it stands
    // across its old place.
    b.centres[3] = 0.25f;
    b.translations[3] = 0.25f;
    bones = b.bones();
    glClear(GL_COLOR_BUFFER_BIT);
    model_draw_lit(m, front, origin, nullptr, &bones);
    EXPECT_TRUE(covered(0.25f, 0.2f));
    EXPECT_TRUE(covered(0.25f, -0.2f));
    EXPECT_FALSE(covered(0.45f, 0));
    EXPECT_FALSE(covered(0, 0.25f));

    // Bones that are not the part's own leave it in its rest pose.
    bones.count = 1;
    glClear(GL_COLOR_BUFFER_BIT);
    model_draw_lit(m, front, origin, nullptr, &bones);
    EXPECT_TRUE(covered(0.45f, 0));
    EXPECT_FALSE(covered(0.25f, 0.2f));
}

TEST_F(model_draw_test, programs_skin_the_same_pixels_as_the_processor)
{
    ASSERT_TRUE(shaders_init());
    set_scene();
    two_bones b;
    b.translations[3] = -0.1f;
    model_bones bones = b.bones();
    model* cpu = get("bars.qm", two_bone_bars());
    ASSERT_NE(cpu, nullptr);
    model_draw_lit(cpu, front, origin, nullptr, &bones);
    const std::vector<unsigned char> by_processor = picture();

    g_gl_caps.shaders_on = true;
    model* gpu = get("bars2.qm", two_bone_bars());
    ASSERT_NE(gpu, nullptr);
    EXPECT_NE(gpu->parts->display_list, 0u);  // the program skins: one list
    glClear(GL_COLOR_BUFFER_BIT);
    const float bright[4] = {1, 1, 1, 1};
    glLightfv(GL_LIGHT0, GL_AMBIENT, bright);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, bright);
    bind_texture(std::vector<unsigned char>(4 * 4, 255), 2);
    use_program(program_lit);
    model_draw_lit(gpu, front, origin, nullptr, &bones);
    use_program(program_none);
    const std::vector<unsigned char> by_program = picture();
    int differ = 0, lit = 0;
    for (size_t i = 0; i < by_program.size(); i += 3) {
        const bool a = by_processor[i] > 100, c = by_program[i] > 100;
        differ += a != c;
        lit += c;
    }
    EXPECT_GT(lit, 1000);
    // Edge pixels may round differently between the two paths.
    EXPECT_LT(differ, 40);
    EXPECT_TRUE(covered(-0.1f, 0.3f));
    EXPECT_FALSE(covered(0.3f, 0));
}

TEST_F(model_draw_test, env_coordinates_point_the_reflected_view_into_the_angular_map)
{
    set_scene();
    // An angular map: red within 0.125 of the centre (straight up), green
    // out to 0.375 (around the horizon), blue beyond (down).
    const int size = 64;
    std::vector<unsigned char> map((size_t)size * size * 4);
    for (int y = 0; y < size; y++)
        for (int x = 0; x < size; x++) {
            const float r = std::hypot((x + 0.5f) / size - 0.5f, (y + 0.5f) / size - 0.5f);
            unsigned char* p = &map[((size_t)y * size + x) * 4];
            p[0] = r < 0.125f ? 255 : 0;
            p[1] = r >= 0.125f && r < 0.375f ? 255 : 0;
            p[2] = r >= 0.375f ? 255 : 0;
            p[3] = 255;
        }
    bind_texture(map, size);

    // A floor (normal +y) seen from above: the view comes back up.
    part floor_part;
    floor_part.shininess = -1;
    floor_part.specular[0] = floor_part.specular[1] = floor_part.specular[2] = 1;
    floor_part.reflectivity = 1;
    floor_part.vertices = {{-0.25f, 0, -0.25f, 0, 1, 0}, {0.25f, 0, -0.25f, 0, 1, 0},
                           {0.25f, 0, 0.25f, 0, 1, 0}, {-0.25f, 0, 0.25f, 0, 1, 0}};
    floor_part.triangles = {0, 1, 2, 0, 2, 3};
    model* floor_model = get("floor.qm", file({floor_part}));
    ASSERT_NE(floor_model, nullptr);
    glPushMatrix();
    glRotatef(90, 1, 0, 0);  // the floor faces the screen
    model_draw_env(floor_model, {0, 10, 0}, origin, nullptr, nullptr);
    glPopMatrix();
    expect_colour(colour_at(0, 0), 255, 0, 0);

    // A wall (normal +z) seen head-on: the view comes back level.
    part wall = square(0, 0, 0.25f, -1);
    wall.specular[0] = wall.specular[1] = wall.specular[2] = 1;
    wall.reflectivity = 0.5f;
    model* wall_model = get("wall.qm", file({wall}));
    ASSERT_NE(wall_model, nullptr);
    glClear(GL_COLOR_BUFFER_BIT);
    model_draw_env(wall_model, front, origin, nullptr, nullptr);
    expect_colour(colour_at(0, 0), 0, 128, 0);

    // The floor turned up to face the eye: the reflection is taken back
    // into the model's frame, where it points up again.
    const float turn_up[9] = {1, 0, 0, 0, 0, -1, 0, 1, 0};
    glClear(GL_COLOR_BUFFER_BIT);
    glPushMatrix();
    glRotatef(90, 1, 0, 0);
    model_draw_env(floor_model, front, origin, turn_up, nullptr);
    glPopMatrix();
    expect_colour(colour_at(0, 0), 255, 0, 0);

    // Seen from far off to the side and a little above, the view glances
    // off the floor toward the horizon.
    glClear(GL_COLOR_BUFFER_BIT);
    glPushMatrix();
    glRotatef(90, 1, 0, 0);
    model_draw_env(floor_model, {10, 0.5f, 0}, {0, 0, 0}, nullptr, nullptr);
    glPopMatrix();
    expect_colour(colour_at(0, 0), 0, 255, 0);
}

TEST_F(model_draw_test, display_lists_are_made_for_static_parts_and_deleted_with_the_model)
{
    set_scene();
    part rigid = square(-0.5f, 0, 0.25f, 24);
    part glow = square(0, 0, 0.1f, -2);
    part shiny = square(0.5f, 0, 0.25f, -1);
    model* m = get("lists.qm", file({rigid, glow, shiny}));
    ASSERT_NE(m, nullptr);
    const unsigned list = m->parts->display_list;
    EXPECT_NE(list, 0u);
    EXPECT_TRUE(glIsList(list));
    EXPECT_EQ(m->parts->next->display_list, 0u);
    EXPECT_EQ(m->parts->next->next->display_list, 0u);
    model_draw_lit(m, front, origin, nullptr, nullptr);
    EXPECT_TRUE(covered(-0.5f, 0));
    model_purge(true);
    EXPECT_FALSE(glIsList(list));
}
