// Each class of bike with its rider, drawn from the default data the way the
// scene draws it: with the shader programs and with processor skinning, the
// two pictures must cover the same pixels in about the same colours. The
// pictures are kept in the build tree (pictures/bike-*.png) to look at.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "files/datafs.h"
#include "gl_test_context.h"
#include "render/camera.h"
#include "render/model.h"
#include "render/picture.h"
#include "render/render_services.h"
#include "render/scene.h"
#include "render/shaders.h"
#include "render/texture.h"

using namespace vecmath;

namespace {

struct frame {
    std::vector<unsigned char> rgb;
    int covered = 0;
    double mean[3] = {0, 0, 0};
    int min_x = 1 << 30, max_x = -1, min_y = 1 << 30, max_y = -1;
};

const unsigned char CLEAR[3] = {50, 153, 204};

struct bike_pictures : gl_test {
    test::temp_dir home;
    test::scoped_env xdg{"XDG_DATA_HOME", home.path.c_str()};
    test::scoped_env kz{"KZ_HOME", test::build_data_dir().c_str()};

    void SetUp() override
    {
        width = 480;
        height = 360;
        gl_test::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        build_file_index();
        render_install_texture_service();
        model_install_service();
    }
    void TearDown() override
    {
        if (window) {
            model_purge(true);
            textures_release(true);
            shaders_free();
        }
        free_file_index();
        test::physics_reset();
        gl_test::TearDown();
    }

    // The bike seen from its left side and a little above, in daylight.
    frame draw(const bike* b)
    {
        glClearColor(CLEAR[0] / 255.0f, CLEAR[1] / 255.0f, CLEAR[2] / 255.0f, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        set_projection(width, height, 40, 0.5f, 200);
        const vec3 centre = add(bike_frame_position(b), v3(0, 0.8f, 0));
        const vec3 eye = add(centre, v3(-13, 1.5f, 2.0f));
        float rotation[9];
        camera_look_at(eye, centre, rotation);
        load_camera_rotation(rotation);
        translate_to_eye(eye);
        const GLfloat sun[4] = {-0.4f, 0.8f, 0.3f, 0};
        const GLfloat grey[4] = {0.45f, 0.45f, 0.45f, 1};
        const GLfloat bright[4] = {0.75f, 0.75f, 0.72f, 1};
        const GLfloat none[4] = {0.1f, 0.1f, 0.1f, 1};
        glLightfv(GL_LIGHT0, GL_POSITION, sun);
        glLightfv(GL_LIGHT0, GL_AMBIENT, grey);
        glLightfv(GL_LIGHT0, GL_DIFFUSE, bright);
        glLightfv(GL_LIGHT0, GL_SPECULAR, bright);
        glLightModelfv(GL_LIGHT_MODEL_AMBIENT, none);
        glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, 1);
        glEnable(GL_LIGHT0);
        // The programs always fog; no fog is a density of 0.
        glFogf(GL_FOG_DENSITY, 0);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        glEnable(GL_CULL_FACE);
        glEnable(GL_ALPHA_TEST);
        glAlphaFunc(GL_GEQUAL, 0.75f);
        draw_bike(b, bike_view_normal, eye, nullptr, texture_get("@sky-env.ppm"));
        glDisable(GL_ALPHA_TEST);
        glFinish();

        frame f;
        f.rgb = read_pixels(0, 0, width, height);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) {
                const unsigned char* p = &f.rgb[3 * ((size_t)y * width + x)];
                if (std::abs(p[0] - CLEAR[0]) + std::abs(p[1] - CLEAR[1]) + std::abs(p[2] - CLEAR[2]) <= 3)
                    continue;
                f.covered++;
                for (int c = 0; c < 3; c++)
                    f.mean[c] += p[c];
                f.min_x = std::min(f.min_x, x);
                f.max_x = std::max(f.max_x, x);
                f.min_y = std::min(f.min_y, y);
                f.max_y = std::max(f.max_y, y);
            }
        for (double& m : f.mean)
            m /= f.covered > 0 ? f.covered : 1;
        return f;
    }

    void keep(const frame& f, const std::string& name)
    {
        const std::string dir = std::string(KESSRIG_PICTURES_DIR);
        mkdir(dir.c_str(), 0755);
        write_png_rgb((dir + "/" + name).c_str(), f.rgb.data(), width, height);
    }
};

// The first catalogue model of each class.
std::vector<const bike_params*> one_per_class()
{
    std::vector<const bike_params*> out;
    const bike_params* all = bike_catalogue();
    for (int i = 0; i < BIKE_CATALOGUE_SIZE; i++) {
        bool seen = false;
        for (const bike_params* p : out)
            seen = seen || strcmp(p->class_name, all[i].class_name) == 0;
        if (!seen)
            out.push_back(&all[i]);
    }
    return out;
}

}  // namespace

TEST_F(bike_pictures, every_class_looks_the_same_with_and_without_shader_programs)
{
    ASSERT_TRUE(g_gl_caps.multitexture_ok);
    const bool programs = shaders_init();
    ASSERT_TRUE(programs) << log_text();
    for (const bike_params* params : one_per_class()) {
        bike* b = create_bike(test::physics(), params->name, 0, "27", nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(b, nullptr);
        for (int i = 0; i < bike_model_count; i++) {
            if (i != model_rider_first_person) {
                EXPECT_NE(model_from_handle(b->models[i]), nullptr) << params->name << " model " << i;
            }
        }
        EXPECT_NE(b->textures[texture_bike].colour, 0u) << params->name;

        g_gl_caps.shaders_on = true;
        const frame with = draw(b);
        g_gl_caps.shaders_on = false;
        use_program(0);
        const frame without = draw(b);
        const std::string cls = params->class_name;
        keep(with, "bike-" + cls + "-programs.png");
        keep(without, "bike-" + cls + "-fixed.png");

        // A bike and rider fill a good part of the view, longer than high
        // seen from the side.
        EXPECT_GT(with.covered, width * height / 20) << cls;
        EXPECT_GT(with.max_x - with.min_x, (with.max_y - with.min_y) * 0.8) << cls;
        // Both paths draw the same shapes in about the same colours.
        EXPECT_NEAR(without.covered, with.covered, with.covered * 0.03) << cls;
        for (int c = 0; c < 3; c++)
            EXPECT_NEAR(without.mean[c], with.mean[c], 14.0) << cls << " channel " << c;
        destroy_bike(b);
    }
}
