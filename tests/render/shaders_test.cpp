// The program table on a real driver: every program compiles and links,
// one refused program leaves none, binds are filtered, and the programs
// draw what their computations say (pixels read back and checked).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "gl_test_context.h"
#include "render/picture.h"
#include "render/shaders.h"
#include "render/texture.h"

namespace {

struct shaders_test : gl_test {
    void SetUp() override
    {
        gl_test::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_TRUE(g_gl_caps.has_vertex_shader && g_gl_caps.has_fragment_shader);
    }
    void TearDown() override
    {
        for (int i = 1; i < program_count; i++)
            shaders_replace_source_for_tests(i, nullptr, nullptr);
        if (window) {
            shaders_free();
            for (unsigned id : textures)
                glDeleteTextures(1, &id);
        }
        reset_program_switches();
        gl_test::TearDown();
    }

    std::vector<GLuint> textures;

    // A single-level texture of one colour on unit 0.
    void bind_colour_texture(unsigned char r, unsigned char g, unsigned char b)
    {
        const unsigned char pixels[4 * 4] = {r, g, b, 255, r, g, b, 255, r, g, b, 255, r, g, b, 255};
        std::vector<unsigned char> chain(mip_chain_bytes(2, 2, 4));
        std::copy(pixels, pixels + 16, chain.begin());
        build_mip_levels(chain.data(), 2, 2, 4, false);
        GLuint id = texture_create(chain.data(), 2, 2, 4, texture_single_level);
        ASSERT_NE(id, 0u);
        textures.push_back(id);
        glBindTexture(GL_TEXTURE_2D, id);
        glEnable(GL_TEXTURE_2D);
    }

    // Orthographic view straight down -z; the scene is lit by one
    // directional light (0, 0.6, 0.8) set with the identity model view.
    void set_scene()
    {
        glViewport(0, 0, width, height);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glDisable(GL_DEPTH_TEST);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(-1, 1, -1, 1, 0.5, 10);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        const float position[4] = {0, 0.6f, 0.8f, 0};
        const float diffuse[4] = {1, 0.5f, 0.25f, 1};
        const float ambient[4] = {0.5f, 0.5f, 0.5f, 1};
        const float specular[4] = {1, 1, 1, 1};
        const float model_ambient[4] = {0.1f, 0.1f, 0.1f, 1};
        glLightfv(GL_LIGHT0, GL_POSITION, position);
        glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
        glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
        glLightfv(GL_LIGHT0, GL_SPECULAR, specular);
        glLightModelfv(GL_LIGHT_MODEL_AMBIENT, model_ambient);
        const float m_ambient[4] = {0.2f, 0.2f, 0.2f, 1};
        const float m_diffuse[4] = {0.5f, 0.5f, 0.5f, 1};
        const float m_specular[4] = {0.5f, 0.5f, 0.5f, 1};
        glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, m_ambient);
        glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, m_diffuse);
        glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, m_specular);
        glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 2);
        glFogf(GL_FOG_DENSITY, 0);
        glColor4f(1, 1, 1, 1);
    }

    // A square of half-size r around (x, y) at depth z = -1 facing the
    // viewer, every vertex weighted fully to bone 0.
    void draw_square(float x, float y, float r)
    {
        glBegin(GL_QUADS);
        const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        for (const auto& c : corners) {
            glNormal3f(0, 0, 1);
            g_gl.MultiTexCoord2fARB(GL_TEXTURE0_ARB, (c[0] + 1) / 2, (c[1] + 1) / 2);
            g_gl.MultiTexCoord3fARB(GL_TEXTURE1_ARB, 1, 0, 0);
            g_gl.MultiTexCoord4fARB(GL_TEXTURE2_ARB, 1, 0, 0, 0);
            g_gl.MultiTexCoord4fARB(GL_TEXTURE3_ARB, 0, 0, 0, 0);
            glVertex3f(x + c[0] * r, y + c[1] * r, -1);
        }
        glEnd();
    }

    // The colour at a point of the orthographic view (-1..1 both ways).
    std::vector<int> colour_at(float x, float y)
    {
        int px = int((x + 1) / 2 * width), py = int((y + 1) / 2 * height);
        std::vector<unsigned char> p = read_pixels(px, py, 1, 1);
        return {p[0], p[1], p[2]};
    }
};

void expect_colour(const std::vector<int>& got, int r, int g, int b, int tolerance = 2)
{
    ASSERT_EQ(got.size(), 3u);
    EXPECT_NEAR(got[0], r, tolerance) << got[0] << " " << got[1] << " " << got[2];
    EXPECT_NEAR(got[1], g, tolerance) << got[0] << " " << got[1] << " " << got[2];
    EXPECT_NEAR(got[2], b, tolerance) << got[0] << " " << got[1] << " " << got[2];
}

}  // namespace

TEST_F(shaders_test, every_program_compiles_and_links_on_the_driver)
{
    ASSERT_TRUE(shaders_init()) << log_text();
    for (int i = 1; i < program_count; i++) {
        EXPECT_NE(program_handle(i), 0u) << shader_program_name(i);
        EXPECT_EQ(std::string(shader_vertex_source(i)).rfind("#define MAX_BONE 10\n", 0), 0u);
        EXPECT_EQ(std::string(shader_fragment_source(i)).rfind("#define MAX_BONE 10\n", 0), 0u);
    }
    EXPECT_EQ(program_handle(0), 0u);
    EXPECT_EQ(program_handle(8), 0u);
    EXPECT_STREQ(shader_program_name(7), "terrain");
    // The samplers point at their units: colour 0, normals 1, specular 2.
    GLint unit = -1;
    g_gl.GetUniformivARB(program_handle(program_norm_spec_lit),
                         g_gl.GetUniformLocationARB(program_handle(program_norm_spec_lit), "smap"), &unit);
    EXPECT_EQ(unit, 2);
    g_gl.GetUniformivARB(program_handle(program_terrain_normals),
                         g_gl.GetUniformLocationARB(program_handle(program_terrain_normals), "base"), &unit);
    EXPECT_EQ(unit, 1);
    EXPECT_EQ(current_program(), 0);
}

TEST_F(shaders_test, one_refused_program_leaves_none_and_logs_why)
{
    // The last program's fragment stage fails: the six built before it go too.
    shaders_replace_source_for_tests(program_terrain, nullptr, "#define MAX_BONE 10\nvoid main() { oops }\n");
    EXPECT_FALSE(shaders_init());
    for (int i = 1; i < program_count; i++)
        EXPECT_EQ(program_handle(i), 0u) << shader_program_name(i);
    // A link failure counts too: a vertex stage that never writes what the
    // fragment stage reads is refused by the linker.
    shaders_replace_source_for_tests(program_terrain, nullptr, nullptr);
    shaders_replace_source_for_tests(program_env, "#define MAX_BONE 10\nvoid main() { gl_Position = ftransform(); }\n",
                                     "#define MAX_BONE 10\nvarying vec3 missing;\nvoid main() { gl_FragColor = vec4(missing, 1.0); }\n");
    EXPECT_FALSE(shaders_init());
    EXPECT_EQ(program_handle(program_lit), 0u);

    // Restored, everything builds again.
    shaders_replace_source_for_tests(program_env, nullptr, nullptr);
    EXPECT_TRUE(shaders_init());
    EXPECT_NE(program_handle(program_terrain), 0u);
    const std::string log = log_text();
    EXPECT_NE(log.find("fragment shader status for terrain:\n"), std::string::npos) << log;
    EXPECT_NE(log.find("link status for env:\n"), std::string::npos) << log;
}

TEST_F(shaders_test, binds_are_filtered_and_counted)
{
    ASSERT_TRUE(shaders_init());
    reset_program_switches();
    use_program(program_lit);
    use_program(program_lit);
    EXPECT_EQ(program_switches(), 1);
    EXPECT_EQ(current_program(), program_lit);
    GLint bound = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &bound);
    EXPECT_EQ(unsigned(bound), program_handle(program_lit));
    use_program(8);
    use_program(-1);
    EXPECT_EQ(current_program(), program_lit);
    use_program(program_none);
    EXPECT_EQ(program_switches(), 2);
    glGetIntegerv(GL_CURRENT_PROGRAM, &bound);
    EXPECT_EQ(bound, 0);
}

TEST_F(shaders_test, lit_draws_ambient_diffuse_texture_specular_and_fog)
{
    ASSERT_TRUE(shaders_init());
    set_scene();
    bind_colour_texture(255, 128, 255);
    use_program(program_lit);
    set_bones(0, nullptr, nullptr, nullptr);
    draw_square(0, 0, 0.5f);
    // ambient 0.2 x 0.5 + 0.1 x 0.2 = 0.12; diffuse 0.5 x (1, 0.5, 0.25) x
    // n.l 0.8; times the texture (1, 128/255, 1); plus the highlight 0.5 x
    // 0.8^2 (the view straight down -z reflects to +z).
    expect_colour(colour_at(0, 0), 214, 123, 138);
    EXPECT_EQ(colour_at(0.8f, 0.8f), (std::vector<int>{0, 0, 0}));

    // Fog of density 10 at depth 1/19 (orthographic w = 1) keeps
    // exp(-10/19) of the colour and adds the rest of the fog's blue.
    glClear(GL_COLOR_BUFFER_BIT);
    const float fog_colour[4] = {0, 0, 1, 1};
    glFogfv(GL_FOG_COLOR, fog_colour);
    glFogf(GL_FOG_DENSITY, 10);
    draw_square(0, 0, 0.5f);
    expect_colour(colour_at(0, 0), 127, 72, 186);
    use_program(program_none);
}

TEST_F(shaders_test, skinning_moves_vertices_about_their_bone)
{
    ASSERT_TRUE(shaders_init());
    set_scene();
    bind_colour_texture(255, 255, 255);
    use_program(program_lit);
    // Quarter turn about z (column by column: x goes to y), pivot at the
    // origin, then 0.2 to the left: the square at (0.5, 0) lands at (-0.2, 0.5).
    const float centre[3] = {0, 0, 0};
    const float translation[3] = {-0.2f, 0, 0};
    const float rotation[9] = {0, 1, 0, -1, 0, 0, 0, 0, 1};
    set_bones(1, centre, translation, rotation);
    draw_square(0.5f, 0, 0.1f);
    EXPECT_GT(colour_at(-0.2f, 0.5f)[0], 100);
    EXPECT_EQ(colour_at(0.5f, 0)[0], 0);
    EXPECT_EQ(colour_at(-0.2f, -0.5f)[0], 0);  // where a transposed rotation would put it

    // Without bones the same square is drawn where it stands.
    glClear(GL_COLOR_BUFFER_BIT);
    set_bones(0, nullptr, nullptr, nullptr);
    draw_square(0.5f, 0, 0.1f);
    EXPECT_GT(colour_at(0.5f, 0)[0], 100);
    EXPECT_EQ(colour_at(-0.2f, 0.5f)[0], 0);
    use_program(program_none);
}

TEST_F(shaders_test, environment_matrix_is_taken_row_by_row)
{
    ASSERT_TRUE(shaders_init());
    set_scene();
    // An angular map: blue on the left (s < 0.4), red on the right
    // (s > 0.6), green between.
    const int n = 64;
    std::vector<unsigned char> chain(mip_chain_bytes(n, n, 4));
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++) {
            unsigned char* p = &chain[(size_t(y) * n + x) * 4];
            float s = (x + 0.5f) / n;
            p[0] = s > 0.6f ? 255 : 0;
            p[1] = s >= 0.4f && s <= 0.6f ? 255 : 0;
            p[2] = s < 0.4f ? 255 : 0;
            p[3] = 255;
        }
    build_mip_levels(chain.data(), n, n, 4, false);
    GLuint id = texture_create(chain.data(), n, n, 4, texture_single_level);
    textures.push_back(id);
    glBindTexture(GL_TEXTURE_2D, id);

    // The square faces the viewer, so the view reflects to +z. Rows (0 0 1),
    // (0 1 0), (-1 0 0) turn +z into +x: a quarter of the way out to the
    // right. Taken column by column the same numbers would turn it to -x.
    const float turn[9] = {0, 0, 1, 0, 1, 0, -1, 0, 0};
    set_env_matrix(turn);
    EXPECT_EQ(current_program(), program_none);
    use_program(program_env);
    draw_square(0, 0, 0.5f);
    expect_colour(colour_at(0, 0), 255, 0, 0);

    // The identity leaves +z on the vertical midline of the map.
    const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    set_env_matrix(identity);
    use_program(program_env);
    draw_square(0, 0, 0.5f);
    expect_colour(colour_at(0, 0), 0, 255, 0);
    use_program(program_none);
}
