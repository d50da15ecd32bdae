// Reading the driver's capabilities and loading the extension entry points.
#include "render/gl_caps.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "files/memory.h"
#include "platform/log.h"

gl_caps g_gl_caps;
gl_entry_points g_gl;

namespace {

char* g_extensions_copy = nullptr;

void copy_string(char* out, size_t size, const char* s)
{
    snprintf(out, size, "%s", s ? s : "NULL");
}

}  // namespace

bool gl_extension_listed(const char* list, const char* name)
{
    if (!list || !name || !*name || strchr(name, ' '))
        return false;
    const size_t length = strlen(name);
    for (const char* at = list; (at = strstr(at, name)) != nullptr; at++) {
        const bool starts_word = at == list || at[-1] == ' ';
        const bool ends_word = at[length] == '\0' || at[length] == ' ';
        if (starts_word && ends_word)
            return true;
    }
    return false;
}

void gl_fill_caps(gl_caps* caps, const char* vendor, const char* renderer, const char* version,
                  const char* extensions, int texture_units)
{
    copy_string(caps->vendor, sizeof caps->vendor, vendor);
    copy_string(caps->renderer, sizeof caps->renderer, renderer);
    copy_string(caps->version, sizeof caps->version, version);
    if (!extensions)
        extensions = "NULL";
    caps->extensions = extensions;
    caps->version_major = caps->version_minor = 0;
    if (sscanf(caps->version, "%d.%d", &caps->version_major, &caps->version_minor) != 2)
        caps->version_minor = 0;
    caps->has_generate_mipmap = gl_extension_listed(extensions, "GL_SGIS_generate_mipmap");
    caps->has_fbo = gl_extension_listed(extensions, "GL_EXT_framebuffer_object");
    caps->has_multitexture = gl_extension_listed(extensions, "GL_ARB_multitexture");
    caps->has_fragment_shader = gl_extension_listed(extensions, "GL_ARB_fragment_shader");
    caps->has_vertex_shader = gl_extension_listed(extensions, "GL_ARB_vertex_shader");
    caps->texture_units = caps->has_multitexture ? texture_units : 0;
    caps->multitexture_ok = caps->has_multitexture && caps->texture_units >= 4;
    caps->shaders_on = false;
    caps->terrain_shader_on = false;
}

void gl_init_caps()
{
    gl_caps_reset();
    const char* extensions = (const char*)glGetString(GL_EXTENSIONS);
    if (extensions) {
        const size_t size = strlen(extensions) + 1;
        g_extensions_copy = (char*)mem_alloc(size);
        if (g_extensions_copy)
            memcpy(g_extensions_copy, extensions, size);
    }
    GLint units = 0;
    if (gl_extension_listed(extensions, "GL_ARB_multitexture"))
        glGetIntegerv(GL_MAX_TEXTURE_UNITS_ARB, &units);
    gl_fill_caps(&g_gl_caps, (const char*)glGetString(GL_VENDOR), (const char*)glGetString(GL_RENDERER),
                 (const char*)glGetString(GL_VERSION), g_extensions_copy, units);
    if (g_gl_caps.has_multitexture)
        log_printf("%d texture units\n", g_gl_caps.texture_units);

#define KESSRIG_GL_LOAD(type, name) g_gl.name = (type)SDL_GL_GetProcAddress("gl" #name);
    KESSRIG_GL_ENTRY_POINTS(KESSRIG_GL_LOAD)
#undef KESSRIG_GL_LOAD
}

void gl_caps_reset()
{
    g_gl_caps = gl_caps();
    g_gl = gl_entry_points();
    mem_free(g_extensions_copy);
    g_extensions_copy = nullptr;
}
