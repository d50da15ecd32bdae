// Animated textures: each ".seq" texture keeps its pictures in memory and
// puts the picture of the current world tick into its texture, with
// sub-image uploads and only when the picture changes.
#include <cstdint>

#include "render/gl_caps.h"
#include "render/picture.h"
#include "render/texture.h"
#include "render/texture_internal.h"

using namespace texture_internal;

namespace {

struct texture_anim {
    unsigned texture;  // the GL texture it animates
    int current;       // index of the picture now in the texture
    int start_tick;    // world tick at which the sequence began
    int stopped;       // a stopped animation is not updated
    seq_file seq;      // owned pictures and sequence
};

record_table<texture_anim> g_anims;

void upload_picture(unsigned texture, const seq_picture& p)
{
    const GLenum format = p.channels == 4 ? GL_RGBA : GL_RGB;
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    const int levels = mip_level_count(p.width, p.height);
    for (int level = 0; level < levels; level++) {
        int w, h;
        mip_level_size(p.width, p.height, level, &w, &h);
        const unsigned char* pixels = p.data + mip_level_offset(p.width, p.height, p.channels, level);
        glTexSubImage2D(GL_TEXTURE_2D, level, 0, 0, w, h, format, GL_UNSIGNED_BYTE, pixels);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
}

}  // namespace

namespace texture_internal {

unsigned anim_create(seq_file* seq, int flags)
{
    const int first = seq->sequence[0];
    const seq_picture& p = seq->pictures[first];
    // Pictures are swapped in place every few ticks: compressing them
    // would cost each update a compression.
    const unsigned id =
        texture_create(p.data, p.width, p.height, p.channels, flags & (texture_repeat_h | texture_repeat_v));
    if (!id) {
        seq_free(seq);
        return 0;
    }
    texture_anim a{id, first, 0, 0, *seq};
    *seq = seq_file{};
    if (!table_add(&g_anims, a))
        seq_free(&a.seq);  // the texture still shows its first picture
    return id;
}

void anims_release(bool all)
{
    for (int i = g_anims.count - 1; i >= 0; i--) {
        texture_anim& a = g_anims.items[i];
        if (!all && texture_registered(a.texture))
            continue;
        debug_log("deleting anim %d for tid %d", i, int(a.texture));
        seq_free(&a.seq);
        table_remove(&g_anims, i);
    }
    if (all)
        table_free(&g_anims);
}

}  // namespace texture_internal

void anim_update(int tick)
{
    for (int i = 0; i < g_anims.count; i++) {
        texture_anim& a = g_anims.items[i];
        if (a.stopped)
            continue;
        int64_t elapsed = int64_t(tick) - int64_t(a.start_tick);
        if (elapsed < 0)
            elapsed = 0;
        int64_t entry = elapsed / a.seq.ticks_per_frame;
        if (a.seq.loop)
            entry %= a.seq.sequence_length;
        else if (entry > a.seq.sequence_length - 1)
            entry = a.seq.sequence_length - 1;
        const int p = a.seq.sequence[entry];
        if (p == a.current)
            continue;
        upload_picture(a.texture, a.seq.pictures[p]);
        a.current = p;
    }
}

void anim_start(unsigned texture, int tick)
{
    for (int i = 0; i < g_anims.count; i++)
        if (g_anims.items[i].texture == texture) {
            g_anims.items[i].stopped = 0;
            g_anims.items[i].start_tick = tick;
        }
}

void anim_stop(unsigned texture)
{
    for (int i = 0; i < g_anims.count; i++)
        if (g_anims.items[i].texture == texture)
            g_anims.items[i].stopped = 1;
}
