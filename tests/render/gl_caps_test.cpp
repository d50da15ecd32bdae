// What the driver offers: the whole-word extension test and the rules that
// turn multitexturing and shaders on, from strings and from a real context.
#include <gtest/gtest.h>

#include <cstring>

#include "gl_test_context.h"
#include "render/gl_caps.h"

TEST(gl_caps, extension_names_match_whole_words_only)
{
    const char* list = "GL_ARB_multitexture_extra GL_EXT_framebuffer_object GL_ARB_vertex_shader";
    EXPECT_FALSE(gl_extension_listed(list, "GL_ARB_multitexture"));
    EXPECT_TRUE(gl_extension_listed(list, "GL_EXT_framebuffer_object"));
    EXPECT_TRUE(gl_extension_listed(list, "GL_ARB_vertex_shader"));  // last word
    EXPECT_FALSE(gl_extension_listed(list, "ARB_vertex_shader"));     // tail of a word
    EXPECT_FALSE(gl_extension_listed(list, "GL_EXT_framebuffer_object GL_ARB_vertex_shader"));  // a blank
    // A partial hit first, the whole word later.
    EXPECT_TRUE(gl_extension_listed("GL_ARB_multitexture_extra GL_ARB_multitexture", "GL_ARB_multitexture"));
    EXPECT_FALSE(gl_extension_listed(nullptr, "GL_ARB_multitexture"));
}

TEST(gl_caps, three_texture_units_leave_multitexturing_off)
{
    const char* all = "GL_ARB_multitexture GL_ARB_fragment_shader GL_ARB_vertex_shader GL_SGIS_generate_mipmap";
    gl_caps caps;
    gl_fill_caps(&caps, "v", "r", "2.1 Mesa", all, 3);
    EXPECT_TRUE(caps.has_multitexture && caps.has_fragment_shader && caps.has_vertex_shader);
    EXPECT_FALSE(caps.multitexture_ok);
    EXPECT_EQ(caps.version_major, 2);
    EXPECT_EQ(caps.version_minor, 1);
    gl_fill_caps(&caps, nullptr, nullptr, nullptr, "GL_ARB_multitexture", 8);
    EXPECT_TRUE(caps.multitexture_ok);
    EXPECT_STREQ(caps.vendor, "NULL");
    EXPECT_EQ(caps.version_major, 0);
    // Units are only read with multitexturing.
    gl_fill_caps(&caps, "v", "r", "1.1", "GL_EXT_framebuffer_object", 8);
    EXPECT_EQ(caps.texture_units, 0);
    EXPECT_TRUE(caps.has_fbo);
}

TEST_F(gl_test, a_real_context_offers_what_the_renderer_uses)
{
    EXPECT_GE(g_gl_caps.version_major, 2);
    EXPECT_TRUE(g_gl_caps.multitexture_ok);
    EXPECT_TRUE(g_gl_caps.has_fbo);
    EXPECT_NE(g_gl.GenFramebuffersEXT, nullptr);
    EXPECT_NE(g_gl.CreateShaderObjectARB, nullptr);
    EXPECT_NE(g_gl.ActiveTextureARB, nullptr);
    EXPECT_NE(log_text().find(" texture units\n"), std::string::npos);
}
