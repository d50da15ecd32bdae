// The program table: compiling and linking the seven programs through the
// ARB shader objects, binding with redundant binds filtered out, and the
// uniforms the drawing code sets (environment matrix, bones).
#include "render/shaders.h"

#include <cstring>
#include <initializer_list>

#include "files/memory.h"
#include "platform/log.h"
#include "render/gl_caps.h"
#include "render/shader_sources.h"

namespace {

struct program_slot {
    GLhandleARB program = 0;
    GLhandleARB vertex = 0;
    GLhandleARB fragment = 0;
    // Uniform locations, looked up once per program (-1: not in it).
    bool bones_looked_up = false;
    GLint nbones = -1, bone_c = -1, bone_t = -1, bone_r = -1;
    bool envmat_looked_up = false;
    GLint envmat = -1;
};

program_slot g_slots[program_count];
int g_current = 0;
int g_switches = 0;

// Test replacements of a slot's text (null: the built-in one).
const char* g_vertex_override[program_count] = {};
const char* g_fragment_override[program_count] = {};

bool entry_points_present()
{
    return g_gl.CreateShaderObjectARB && g_gl.ShaderSourceARB && g_gl.CompileShaderARB &&
           g_gl.CreateProgramObjectARB && g_gl.AttachObjectARB && g_gl.LinkProgramARB &&
           g_gl.UseProgramObjectARB && g_gl.GetObjectParameterivARB && g_gl.GetInfoLogARB &&
           g_gl.DeleteObjectARB && g_gl.DetachObjectARB && g_gl.GetUniformLocationARB && g_gl.Uniform1iARB &&
           g_gl.Uniform3fvARB && g_gl.UniformMatrix3fvARB;
}

// Logs the object's info log, when it has one, as "<what> for <name>:".
void log_info(GLhandleARB object, const char* what, const char* name)
{
    GLint length = 0;
    g_gl.GetObjectParameterivARB(object, GL_OBJECT_INFO_LOG_LENGTH_ARB, &length);
    if (length <= 1)
        return;
    char* text = static_cast<char*>(mem_alloc_or_die(size_t(length) + 1));
    GLsizei written = 0;
    g_gl.GetInfoLogARB(object, length, &written, text);
    text[written >= 0 && written <= length ? written : 0] = 0;
    if (text[0])
        log_printf("%s for %s:\n%s\n", what, name, text);
    mem_free(text);
}

bool status(GLhandleARB object, GLenum which)
{
    GLint ok = 0;
    g_gl.GetObjectParameterivARB(object, which, &ok);
    return ok != 0;
}

// Builds slot i; the objects are kept in the slot as they are made, so a
// failure leaves them for shaders_free.
bool build_program(int i)
{
    program_slot& slot = g_slots[i];
    const char* name = shader_program_name(i);
    const char* vertex_text = shader_vertex_source(i);
    const char* fragment_text = shader_fragment_source(i);
    slot.vertex = g_gl.CreateShaderObjectARB(GL_VERTEX_SHADER_ARB);
    slot.fragment = g_gl.CreateShaderObjectARB(GL_FRAGMENT_SHADER_ARB);
    if (!slot.vertex || !slot.fragment || !vertex_text || !fragment_text)
        return false;
    g_gl.ShaderSourceARB(slot.vertex, 1, &vertex_text, nullptr);
    g_gl.ShaderSourceARB(slot.fragment, 1, &fragment_text, nullptr);

    g_gl.CompileShaderARB(slot.vertex);
    log_info(slot.vertex, "vertex shader status", name);
    if (!status(slot.vertex, GL_OBJECT_COMPILE_STATUS_ARB))
        return false;
    g_gl.CompileShaderARB(slot.fragment);
    log_info(slot.fragment, "fragment shader status", name);
    if (!status(slot.fragment, GL_OBJECT_COMPILE_STATUS_ARB))
        return false;

    slot.program = g_gl.CreateProgramObjectARB();
    if (!slot.program)
        return false;
    g_gl.AttachObjectARB(slot.program, slot.vertex);
    g_gl.AttachObjectARB(slot.program, slot.fragment);
    g_gl.LinkProgramARB(slot.program);
    log_info(slot.program, "link status", name);
    return status(slot.program, GL_OBJECT_LINK_STATUS_ARB);
}

void set_sampler(int i, const char* uniform, int unit)
{
    const GLint location = g_gl.GetUniformLocationARB(g_slots[i].program, uniform);
    if (location >= 0)
        g_gl.Uniform1iARB(location, unit);
}

// Texture units: 0 the colour texture (the default of every sampler), 1
// the normal map or the terrain's base normals, 2 the specular map.
void set_samplers()
{
    struct sampler {
        int slot;
        const char* name;
        int unit;
    };
    const sampler samplers[] = {
        {program_norm_lit, "nmap", 1},      {program_norm_env, "nmap", 1},   {program_norm_spec_lit, "nmap", 1},
        {program_norm_spec_lit, "smap", 2}, {program_terrain_normals, "base", 1}, {program_terrain, "nmap", 1},
        {program_terrain, "smap", 2},
    };
    for (const sampler& s : samplers) {
        g_gl.UseProgramObjectARB(g_slots[s.slot].program);
        set_sampler(s.slot, s.name, s.unit);
    }
    g_gl.UseProgramObjectARB(0);
    g_current = 0;
}

}  // namespace

bool shaders_init()
{
    shaders_free();
    if (!g_gl_caps.has_vertex_shader || !g_gl_caps.has_fragment_shader || !entry_points_present())
        return false;
    for (int i = 1; i < program_count; i++) {
        if (!build_program(i)) {
            // One program missing would leave some objects unlit and others
            // shaded: all or none.
            shaders_free();
            return false;
        }
    }
    set_samplers();
    return true;
}

void shaders_free()
{
    const bool callable = g_gl.DeleteObjectARB && g_gl.DetachObjectARB;
    if (g_current != 0 && g_gl.UseProgramObjectARB)
        g_gl.UseProgramObjectARB(0);
    g_current = 0;
    for (program_slot& slot : g_slots) {
        if (callable) {
            if (slot.program && slot.vertex)
                g_gl.DetachObjectARB(slot.program, slot.vertex);
            if (slot.program && slot.fragment)
                g_gl.DetachObjectARB(slot.program, slot.fragment);
            if (slot.vertex)
                g_gl.DeleteObjectARB(slot.vertex);
            if (slot.fragment)
                g_gl.DeleteObjectARB(slot.fragment);
            if (slot.program)
                g_gl.DeleteObjectARB(slot.program);
        }
        slot = program_slot{};
    }
}

void use_program(int i)
{
    if (i < 0 || i >= program_count || i == g_current)
        return;
    if (g_gl.UseProgramObjectARB)
        g_gl.UseProgramObjectARB(i ? g_slots[i].program : 0);
    g_current = i;
    g_switches++;
}

unsigned program_handle(int i)
{
    if (i < 1 || i >= program_count)
        return 0;
    return unsigned(g_slots[i].program);
}

int current_program()
{
    return g_current;
}

int program_switches()
{
    return g_switches;
}

void reset_program_switches()
{
    g_switches = 0;
}

void set_env_matrix(const float m[9])
{
    if (!g_gl.UniformMatrix3fvARB || !g_gl.GetUniformLocationARB)
        return;
    // GL takes matrices column by column; m comes row by row.
    const float columns[9] = {m[0], m[3], m[6], m[1], m[4], m[7], m[2], m[5], m[8]};
    for (int i : {int(program_env), int(program_norm_env)}) {
        program_slot& slot = g_slots[i];
        if (!slot.program)
            continue;
        use_program(i);
        if (!slot.envmat_looked_up) {
            slot.envmat = g_gl.GetUniformLocationARB(slot.program, "envmat");
            slot.envmat_looked_up = true;
        }
        if (slot.envmat >= 0)
            g_gl.UniformMatrix3fvARB(slot.envmat, 1, GL_FALSE, columns);
    }
    use_program(0);
}

void set_bones(int n, const float* centres, const float* translations, const float* rotations)
{
    if (g_current < 1 || g_current >= program_count || !g_gl.GetUniformLocationARB)
        return;
    program_slot& slot = g_slots[g_current];
    if (!slot.program)
        return;
    if (!slot.bones_looked_up) {
        slot.nbones = g_gl.GetUniformLocationARB(slot.program, "nbones");
        slot.bone_c = g_gl.GetUniformLocationARB(slot.program, "bone_c");
        slot.bone_t = g_gl.GetUniformLocationARB(slot.program, "bone_t");
        slot.bone_r = g_gl.GetUniformLocationARB(slot.program, "bone_r");
        slot.bones_looked_up = true;
    }
    if (n < 0)
        n = 0;
    if (n > SHADER_MAX_BONES)
        n = SHADER_MAX_BONES;
    if (slot.nbones >= 0)
        g_gl.Uniform1iARB(slot.nbones, n);
    if (n == 0 || !centres || !translations || !rotations)
        return;
    if (slot.bone_c >= 0)
        g_gl.Uniform3fvARB(slot.bone_c, n, centres);
    if (slot.bone_t >= 0)
        g_gl.Uniform3fvARB(slot.bone_t, n, translations);
    if (slot.bone_r >= 0)
        g_gl.UniformMatrix3fvARB(slot.bone_r, n, GL_FALSE, rotations);
}

const char* shader_vertex_source(int i)
{
    if (i < 1 || i >= program_count)
        return nullptr;
    return g_vertex_override[i] ? g_vertex_override[i] : shader_builtin_vertex(i);
}

const char* shader_fragment_source(int i)
{
    if (i < 1 || i >= program_count)
        return nullptr;
    return g_fragment_override[i] ? g_fragment_override[i] : shader_builtin_fragment(i);
}

const char* shader_program_name(int i)
{
    if (i < 0 || i >= program_count)
        return nullptr;
    return shader_builtin_name(i);
}

void shaders_replace_source_for_tests(int i, const char* vertex, const char* fragment)
{
    if (i < 1 || i >= program_count)
        return;
    g_vertex_override[i] = vertex;
    g_fragment_override[i] = fragment;
}
