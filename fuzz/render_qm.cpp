// ".qm" model files over arbitrary bytes: a parsed model has at least one
// part, every triangle names vertices of its part, every bone influence
// names one of the model's bones, and the scene export walks it all.
#include <cstdint>
#include <string>

#include "fuzz_accept.h"
#include "picture_fuzz_input.h"
#include "render/model_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    memory_input in(data, size);
    if (!in.open)
        return 0;
    model* m = model_parse(&in.stream, "@fuzz.qm");
    if (!m)
        return 0;
    fuzz_accept();
    if (!m->parts || m->bone_count < 0 || m->bone_count > MODEL_MAX_BONES)
        __builtin_trap();
    bool env = false;
    for (const model_part* p = m->parts; p; p = p->next) {
        if (p->vertex_count < 0 || p->triangle_count < 0 || p->bone_count != m->bone_count)
            __builtin_trap();
        env = env || p->shininess == -1.0f;
        for (long i = 0; i < 3L * p->triangle_count; i++)
            if (p->triangles[i] >= (unsigned)p->vertex_count)
                __builtin_trap();
        if (p->bone_count > 0) {
            if (!p->weights || !p->bones || !p->rest_positions || !p->rest_normals || !p->rest_tangents)
                __builtin_trap();
            for (long i = 0; i < 4L * p->vertex_count; i++)
                if (p->bones[i] < 0 || p->bones[i] >= p->bone_count)
                    __builtin_trap();
        }
    }
    if (env != m->has_env)
        __builtin_trap();
    std::string text;
    model_export_mesh2(m, &text);
    model_free(m);
    return 0;
}
