// Terrain texture tiles on the GL side: the tile and lighting textures,
// building a tile by drawing it (into a framebuffer object, or into the back
// buffer and copying) or by composing it in memory and uploading it, and
// the pictures the composition reads.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/messages.h"
#include "platform/log.h"
#include "render/gl_caps.h"
#include "render/picture.h"
#include "render/shaders.h"
#include "render/terrain_internal.h"
#include "render/texture.h"
#include "track/objects.h"
#include "track/surface.h"
#include "track/track.h"

namespace terrain_detail {

namespace {

// Decal quads wider than this many texels in a tile are cut into pieces on
// the one renderer that draws them wrongly.
const float X1270_PIECE_TEXELS = 256.0f;
bool g_x1270_logged = false;

bool needs_x1270_workaround()
{
    if (!strstr(g_gl_caps.renderer, "ATI Radeon X1270"))
        return false;
    if (!g_x1270_logged) {
        g_x1270_logged = true;
        log_printf("Working around ATI Radeon X1270 bug\n");
    }
    return true;
}

// ---- pictures for the composition ---------------------------------------------------

// Reads every level of a GL texture back.
void read_back(unsigned id, picture_source* p)
{
    p->loaded = true;
    if (!id)
        return;
    glBindTexture(GL_TEXTURE_2D, id);
    GLint w = 0, h = 0, alpha = 0, wrap_s = 0, wrap_t = 0, min_filter = 0, max_level = 1000;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_ALPHA_SIZE, &alpha);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap_s);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrap_t);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min_filter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, &max_level);
    if (w <= 0 || h <= 0) {
        glBindTexture(GL_TEXTURE_2D, 0);
        return;
    }
    p->width = w;
    p->height = h;
    p->channels = alpha > 0 ? 4 : 3;
    p->repeat_s = wrap_s == GL_REPEAT;
    p->repeat_t = wrap_t == GL_REPEAT;
    const bool mipmapped = min_filter != GL_LINEAR && min_filter != GL_NEAREST;
    int levels = mipmapped ? std::min(mip_level_count(w, h), max_level + 1) : 1;
    p->chain.assign(mip_chain_bytes(w, h, p->channels), 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    for (int level = 0; level < levels; level++) {
        GLint lw = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &lw);
        if (lw <= 0) {
            levels = level;
            break;
        }
        glGetTexImage(GL_TEXTURE_2D, level, p->channels == 4 ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE,
                      p->chain.data() + mip_level_offset(w, h, p->channels, level));
    }
    p->levels = std::max(levels, 1);
    glBindTexture(GL_TEXTURE_2D, 0);
}

// A picture kept in memory (top level only) with the smaller levels a GL
// upload of it would carry.
void from_memory(const uint8_t* pixels, int w, int h, int channels, picture_source* p)
{
    p->loaded = true;
    const size_t bytes = mip_chain_bytes(w, h, channels);
    if (!pixels || bytes == 0)
        return;
    p->chain.assign(bytes, 0);
    memcpy(p->chain.data(), pixels, (size_t)w * h * channels);
    build_mip_levels(p->chain.data(), w, h, channels, false);
    p->width = w;
    p->height = h;
    p->channels = channels;
    p->levels = mip_level_count(w, h);
}

const picture_source* decal_picture(terrain_render_state* st, const decal* d)
{
    const uintptr_t key = d->pixels ? (uintptr_t)d->pixels : (uintptr_t)d->texture;
    for (auto& entry : st->decal_pictures)
        if (entry.first == key)
            return &entry.second;
    st->decal_pictures.emplace_back(key, picture_source());
    picture_source* p = &st->decal_pictures.back().second;
    if (d->pixels)
        from_memory(d->pixels, d->picture_width, d->picture_height, 4, p);
    else
        read_back(d->texture, p);
    return p;
}

// ---- textures for the GL methods -----------------------------------------------------

unsigned own_texture(terrain_render_state* st, const uint8_t* pixels, int w, int h, int channels)
{
    if (!pixels || w <= 0 || h <= 0)
        return 0;
    for (auto& entry : st->own_textures)
        if (entry.first == (uintptr_t)pixels)
            return entry.second;
    picture_source p;
    from_memory(pixels, w, h, channels, &p);
    const unsigned id = p.chain.empty() ? 0 : texture_create(p.chain.data(), w, h, channels, 0);
    st->own_textures.emplace_back((uintptr_t)pixels, id);
    return id;
}

unsigned surface_texture(terrain_render_state* st, const surface_type& s)
{
    if (s.texture)
        return s.texture;
    return own_texture(st, s.texture_pixels, s.texture_width, s.texture_height, 3);
}

unsigned decal_texture(terrain_render_state* st, const decal& d)
{
    if (d.texture)
        return d.texture;
    return own_texture(st, d.pixels, d.picture_width, d.picture_height, 4);
}

// ---- drawing a tile ----------------------------------------------------------------------

// Saves what a tile build changes and sets the tile's projection: samples
// [col0, col0 + samples] on both axes fill the viewport.
struct build_scope {
    GLint viewport[4] = {};
    GLint framebuffer = 0;
    GLfloat clear_colour[4] = {};
    int program = 0;

    build_scope(const tile_ref& ref, int texels)
    {
        glGetIntegerv(GL_VIEWPORT, viewport);
        glGetFloatv(GL_COLOR_CLEAR_VALUE, clear_colour);
        if (g_gl_caps.has_fbo)
            glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &framebuffer);
        program = current_program();
        glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT |
                     GL_POLYGON_BIT | GL_FOG_BIT | GL_LIGHTING_BIT | GL_SCISSOR_BIT);
        glMatrixMode(GL_PROJECTION);
        glPushMatrix();
        glLoadIdentity();
        glFrustum(-0.5, 0.5, -0.5, 0.5, 0.5, 2.0);
        glMatrixMode(GL_MODELVIEW);
        glPushMatrix();
        glLoadIdentity();
        glTranslatef(-1.0f, -1.0f, -1.0f);
        glScalef(2.0f / (float)ref.samples, 2.0f / (float)ref.samples, 1.0f);
        glTranslatef(-(float)ref.col0, -(float)ref.row0, 0.0f);
        glViewport(0, 0, texels, texels);
        glDisable(GL_DEPTH_TEST);
        glDepthMask(GL_FALSE);
        glDisable(GL_CULL_FACE);
        glDisable(GL_LIGHTING);
        glDisable(GL_FOG);
        glDisable(GL_ALPHA_TEST);
        glDisable(GL_SCISSOR_TEST);
        glDisable(GL_BLEND);
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
        glShadeModel(GL_SMOOTH);  // decals carry their share in the vertex alpha
        if (g_gl_caps.multitexture_ok && g_gl.ActiveTextureARB) {
            for (int unit = 3; unit >= 1; unit--) {
                g_gl.ActiveTextureARB(GL_TEXTURE0_ARB + unit);
                glDisable(GL_TEXTURE_2D);
            }
            g_gl.ActiveTextureARB(GL_TEXTURE0_ARB);
        }
        glEnable(GL_TEXTURE_2D);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        glColor4f(1, 1, 1, 1);
        use_program(program_none);
    }

    ~build_scope()
    {
        glBindTexture(GL_TEXTURE_2D, 0);
        if (g_gl_caps.has_fbo && g_gl.BindFramebufferEXT)
            g_gl.BindFramebufferEXT(GL_FRAMEBUFFER_EXT, (GLuint)framebuffer);
        glMatrixMode(GL_PROJECTION);
        glPopMatrix();
        glMatrixMode(GL_MODELVIEW);
        glPopMatrix();
        glPopAttrib();
        glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
        glClearColor(clear_colour[0], clear_colour[1], clear_colour[2], clear_colour[3]);
        use_program(program);
    }
};

void bind_or_plain(unsigned id)
{
    if (id) {
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, id);
    } else {
        glDisable(GL_TEXTURE_2D);
    }
}

// The surface tiles of the tile's cells, grouped by surface.
void draw_cells(terrain_render_state* st, const heightfield* hf, const tile_ref& ref)
{
    const int cells = 1 << hf->grid_log2;
    const int first_x = ref.col0 / 2, first_z = ref.row0 / 2, count = ref.samples / 2;
    std::vector<std::vector<int>> by_surface((size_t)std::max(hf->surface_count, 1));
    for (int z = first_z; z < first_z + count; z++)
        for (int x = first_x; x < first_x + count; x++) {
            int surface = hf->tilemap ? hf->tilemap[(size_t)z * cells + x] : 0;
            surface = std::min(std::max(surface, 0), (int)by_surface.size() - 1);
            by_surface[surface].push_back(x + z * cells);
        }
    const float lo = 0.0625f, hi = 0.9375f;
    for (size_t s = 0; s < by_surface.size(); s++) {
        if (by_surface[s].empty())
            continue;
        bind_or_plain((int)s < hf->surface_count ? surface_texture(st, hf->surfaces[s]) : 0);
        glBegin(GL_QUADS);
        for (int cell : by_surface[s]) {
            const float x0 = (float)(2 * (cell % cells)), z0 = (float)(2 * (cell / cells));
            glTexCoord2f(lo, lo);
            glVertex2f(x0, z0);
            glTexCoord2f(hi, lo);
            glVertex2f(x0 + 2, z0);
            glTexCoord2f(hi, hi);
            glVertex2f(x0 + 2, z0 + 2);
            glTexCoord2f(lo, hi);
            glVertex2f(x0, z0 + 2);
        }
        glEnd();
    }
    glEnable(GL_TEXTURE_2D);
}

// One decal quad, cut into pieces where the renderer needs it.
void draw_decal_quad(const float corner[4][2], int pieces)
{
    static const float st[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    glBegin(GL_QUADS);
    const float step = 1.0f / (float)pieces;
    for (int j = 0; j < pieces; j++)
        for (int i = 0; i < pieces; i++)
            for (const auto& c : st) {
                const float s = ((float)i + c[0]) * step, t = ((float)j + c[1]) * step;
                // Bilinear over the corners (a parallelogram, so exact).
                const float x = corner[0][0] + (corner[1][0] - corner[0][0]) * s + (corner[3][0] - corner[0][0]) * t;
                const float z = corner[0][1] + (corner[1][1] - corner[0][1]) * s + (corner[3][1] - corner[0][1]) * t;
                glTexCoord2f(s, t);
                glVertex2f(x, z);
            }
    glEnd();
}

// Where a decal's share along one axis changes slope (texture coordinates,
// ascending): linear between them, so each of the 3 x 3 regions they make
// is a plateau, a ramp along one axis, or (a corner) the bilinear product
// of two ramps.
void share_breaks(float ramp, float out[4])
{
    const float h = 0.5f * ramp;
    out[0] = -h;
    out[1] = std::min(h, 1.0f - h);
    out[2] = std::max(h, 1.0f - h);
    out[3] = 1.0f + h;
}

// GL interpolates vertex colours linearly over triangles; cut this finely, a
// corner region's bilinear share is off by at most 1/64.
const int CORNER_CUTS = 4;

// One decal spread over the tile's texels (decal_spread): the quad widened
// by half a texel all round, its share in the vertex alpha. cut: pieces no
// wider than X1270_PIECE_TEXELS.
void draw_decal_spread(const float corner[4][2], const decal_spread& spread, float texel_per_sample, bool cut)
{
    const float ox = corner[0][0], oz = corner[0][1];
    const float sx = corner[1][0] - ox, sz = corner[1][1] - oz;
    const float tx = corner[3][0] - ox, tz = corner[3][1] - oz;
    const float s_len = std::hypot(sx, sz), t_len = std::hypot(tx, tz);
    float bs[4], bt[4];
    share_breaks(spread.ramp_s, bs);
    share_breaks(spread.ramp_t, bt);
    auto vertex = [&](float s, float t) {
        glColor4f(1, 1, 1, decal_axis_share(s, spread.ramp_s) * decal_axis_share(t, spread.ramp_t));
        glTexCoord2f(s, t);
        glVertex2f(ox + sx * s + tx * t, oz + sz * s + tz * t);
    };
    glBegin(GL_QUADS);
    for (int j = 0; j < 3; j++)
        for (int i = 0; i < 3; i++) {
            const float s0 = bs[i], s1 = bs[i + 1], t0 = bt[j], t1 = bt[j + 1];
            if (!(s1 > s0) || !(t1 > t0))
                continue;
            int n = i != 1 && j != 1 ? CORNER_CUTS : 1;
            const float wide = std::max((s1 - s0) * s_len, (t1 - t0) * t_len) * texel_per_sample;
            while (cut && wide / (float)n > X1270_PIECE_TEXELS)
                n *= 2;
            const float ds = (s1 - s0) / (float)n, dt = (t1 - t0) / (float)n;
            for (int b = 0; b < n; b++)
                for (int a = 0; a < n; a++) {
                    const float sa = s0 + ds * (float)a, sb = a + 1 == n ? s1 : sa + ds;
                    const float ta = t0 + dt * (float)b, tb = b + 1 == n ? t1 : ta + dt;
                    vertex(sa, ta);
                    vertex(sb, ta);
                    vertex(sb, tb);
                    vertex(sa, tb);
                }
        }
    glEnd();
    glColor4f(1, 1, 1, 1);
}

enum decal_map { decal_colour, decal_normal, decal_specular };

void draw_decals(terrain_render_state* st, const heightfield* hf, const tile_ref& ref, decal_map which,
                 const std::vector<int>& touching)
{
    if (touching.empty())
        return;
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    const float texel_per_sample = (float)st->tile_texels / (float)ref.samples;
    const float samples_per_texel = (float)ref.samples / (float)st->tile_texels;
    const bool cut = needs_x1270_workaround();
    for (int idx : touching) {
        const decal& d = hf->decals->items[idx];
        unsigned id = 0;
        if (which == decal_colour)
            id = decal_texture(st, d);
        else if (which == decal_normal)
            id = d.normal_texture;
        else
            id = d.spec_texture;
        if (!id)
            continue;
        glBindTexture(GL_TEXTURE_2D, id);
        float corner[4][2];
        decal_corners(hf, &d, corner);
        if (which != decal_normal) {
            draw_decal_spread(corner, decal_spread_in_tile(corner, samples_per_texel), texel_per_sample, cut);
            continue;
        }
        // The normals program takes its opacity from the map alone, so the
        // normals keep to the decal's own quad.
        int pieces = 1;
        if (cut) {
            const float ds = std::max(std::hypot(corner[1][0] - corner[0][0], corner[1][1] - corner[0][1]),
                                      std::hypot(corner[3][0] - corner[0][0], corner[3][1] - corner[0][1]));
            while (ds * texel_per_sample / (float)pieces > X1270_PIECE_TEXELS)
                pieces *= 2;
        }
        draw_decal_quad(corner, pieces);
    }
    glDisable(GL_BLEND);
}

// The lighting texture over the whole tile.
void draw_lighting(terrain_render_state* st, const tile_ref& ref)
{
    const int i = light_tile_for(ref.col0, st->light_side), j = light_tile_for(ref.row0, st->light_side);
    const light_tile& lt = st->light_tiles[(size_t)j * st->light_side + i];
    glBindTexture(GL_TEXTURE_2D, lt.texture);
    auto corner = [&](int c, int r) {
        glTexCoord2f(((float)(c - lt.col0) + 0.5f) / (float)lt.width, ((float)(r - lt.row0) + 0.5f) / (float)lt.height);
        glVertex2f((float)c, (float)r);
    };
    const int c1 = ref.col0 + ref.samples, r1 = ref.row0 + ref.samples;
    glBegin(GL_QUADS);
    corner(ref.col0, ref.row0);
    corner(c1, ref.row0);
    corner(c1, r1);
    corner(ref.col0, r1);
    glEnd();
}

// The decals' normal maps over the base normals: the "terrain_normals"
// program reads the lighting texture on unit 1 through texture matrix 1.
void draw_decal_normals(terrain_render_state* st, const heightfield* hf, const tile_ref& ref,
                        const std::vector<int>& touching)
{
    bool any = false;
    for (int idx : touching)
        any = any || hf->decals->items[idx].normal_texture;
    if (!any || !g_gl.ActiveTextureARB)
        return;
    const int i = light_tile_for(ref.col0, st->light_side), j = light_tile_for(ref.row0, st->light_side);
    const light_tile& lt = st->light_tiles[(size_t)j * st->light_side + i];
    g_gl.ActiveTextureARB(GL_TEXTURE1_ARB);
    glBindTexture(GL_TEXTURE_2D, lt.texture);
    glMatrixMode(GL_TEXTURE);
    glPushMatrix();
    glLoadIdentity();
    glScalef(1.0f / (float)lt.width, 1.0f / (float)lt.height, 1.0f);
    glTranslatef(0.5f - (float)lt.col0, 0.5f - (float)lt.row0, 0.0f);
    g_gl.ActiveTextureARB(GL_TEXTURE0_ARB);
    use_program(program_terrain_normals);
    draw_decals(st, hf, ref, decal_normal, touching);
    use_program(program_none);
    g_gl.ActiveTextureARB(GL_TEXTURE1_ARB);
    glMatrixMode(GL_TEXTURE);
    glPopMatrix();
    glBindTexture(GL_TEXTURE_2D, 0);
    glMatrixMode(GL_MODELVIEW);
    g_gl.ActiveTextureARB(GL_TEXTURE0_ARB);
}

// Points the drawing at a tile texture; false (after the log line) when
// the framebuffer is not complete.
bool begin_target(terrain_render_state* st, unsigned texture)
{
    if (st->texturing != terrain_framebuffer)
        return true;
    g_gl.BindFramebufferEXT(GL_FRAMEBUFFER_EXT, st->framebuffer);
    g_gl.FramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, texture, 0);
    const GLenum status = g_gl.CheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT);
    if (status != GL_FRAMEBUFFER_COMPLETE_EXT) {
        log_printf("Framebuffer error %x\n", (unsigned)status);
        st->framebuffer_errors++;
        return false;
    }
    return true;
}

// Puts what was drawn into the texture.
void end_target(terrain_render_state* st, unsigned texture)
{
    if (st->texturing == terrain_framebuffer) {
        g_gl.FramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, 0, 0);
        if (st->settings.mipmaps && g_gl.GenerateMipmapEXT) {
            glBindTexture(GL_TEXTURE_2D, texture);
            g_gl.GenerateMipmapEXT(GL_TEXTURE_2D);
        }
    } else {
        glBindTexture(GL_TEXTURE_2D, texture);
        glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, st->tile_texels, st->tile_texels);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
}

bool draw_tile(terrain_render_state* st, const heightfield* hf, const tile_ref& ref, tile* t)
{
    build_scope scope(ref, st->tile_texels);
    std::vector<int> touching;
    decals_touching(hf, ref.col0, ref.row0, ref.samples, &touching);

    if (!begin_target(st, t->colour))
        return false;
    draw_cells(st, hf, ref);
    draw_decals(st, hf, ref, decal_colour, touching);
    if (!st->shader) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_DST_COLOR, GL_SRC_COLOR);  // twice the lighting stored at half
        draw_lighting(st, ref);
        glDisable(GL_BLEND);
    }
    end_target(st, t->colour);
    if (!st->shader)
        return true;

    if (!begin_target(st, t->normal))
        return false;
    draw_lighting(st, ref);
    draw_decal_normals(st, hf, ref, touching);
    end_target(st, t->normal);

    if (!begin_target(st, t->specular))
        return false;
    glClearColor(0.0f, 1.0f, 1.0f, 1.0f);  // no specular
    glClear(GL_COLOR_BUFFER_BIT);
    draw_decals(st, hf, ref, decal_specular, touching);
    end_target(st, t->specular);
    return true;
}

void compose_and_upload(terrain_render_state* st, heightfield* hf, const tile_ref& ref, tile* t)
{
    relight_region(hf, st->light, ref.col0 - 1, ref.row0 - 1, ref.col0 + ref.samples + 1,
                   ref.row0 + ref.samples + 1);
    std::vector<uint8_t> rgb;
    gl_software_tile(st, hf, ref, &rgb);
    const int T = st->tile_texels;
    glBindTexture(GL_TEXTURE_2D, t->colour);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, T, T, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    glBindTexture(GL_TEXTURE_2D, 0);
}

}  // namespace

// ---- the state's GL objects ----------------------------------------------------------------

bool gl_framebuffer_available()
{
    if (!g_gl_caps.has_fbo || !g_gl.GenFramebuffersEXT || !g_gl.DeleteFramebuffersEXT || !g_gl.BindFramebufferEXT ||
        !g_gl.FramebufferTexture2DEXT || !g_gl.CheckFramebufferStatusEXT)
        return false;
    GLuint fb = 0;
    g_gl.GenFramebuffersEXT(1, &fb);
    if (!fb)
        return false;
    g_gl.DeleteFramebuffersEXT(1, &fb);
    return true;
}

bool gl_create_tiles(terrain_render_state* st)
{
    const int T = st->tile_texels;
    const bool mipmapped = st->texturing == terrain_framebuffer && st->settings.mipmaps;
    const int flags = mipmapped ? 0 : texture_single_level;
    std::vector<unsigned char> blank(mipmapped ? mip_chain_bytes(T, T, 3) : (size_t)T * T * 3, 0);
    auto make = [&](tile* t) {
        t->colour = texture_create(blank.data(), T, T, 3, flags);
        if (st->shader) {
            t->normal = texture_create(blank.data(), T, T, 3, flags);
            t->specular = texture_create(blank.data(), T, T, 3, flags);
        }
    };
    for (level_block& lv : st->levels)
        if (lv.exists)
            for (tile& t : lv.slots)
                make(&t);
    for (tile& t : st->grid)
        make(&t);
    if (st->texturing == terrain_framebuffer)
        g_gl.GenFramebuffersEXT(1, &st->framebuffer);
    return true;
}

bool gl_create_lighting(terrain_render_state* st, const heightfield* hf)
{
    if (st->texturing == terrain_tex_sub_image)
        return true;
    const int side = st->light_side;
    log_printf("%dx%d low detail textures needed for %dx%d field\n", side, side, hf->sample_count,
               hf->sample_count);
    loading_begin("Creating low detail textures");
    const uint8_t* map = st->shader ? hf->terrain_normal_map : hf->shading_map;
    const int last = hf->sample_count - 1;
    st->light_tiles.assign((size_t)side * side, light_tile());
    std::vector<uint8_t> texels;
    for (int j = 0; j < side; j++) {
        for (int i = 0; i < side; i++) {
            light_tile& lt = st->light_tiles[(size_t)j * side + i];
            lt.col0 = LIGHT_STEP * i - LIGHT_MARGIN;
            lt.row0 = LIGHT_STEP * j - LIGHT_MARGIN;
            lt.width = light_tile_width(st->n, i);
            lt.height = light_tile_width(st->n, j);
            texels.assign((size_t)lt.width * lt.height * 3, 0);
            for (int y = 0; y < lt.height; y++) {
                const int row = std::min(std::max(lt.row0 + y, 0), last);
                for (int x = 0; x < lt.width; x++) {
                    const int col = std::min(std::max(lt.col0 + x, 0), last);
                    if (map)
                        memcpy(&texels[3 * ((size_t)y * lt.width + x)], map + 3 * ((size_t)row * hf->sample_count + col), 3);
                }
            }
            lt.texture = texture_create(texels.data(), lt.width, lt.height, 3, texture_single_level);
            if (!lt.texture) {
                add_message("Error creating low LOD textures");
                return false;
            }
            loading_tick("Creating low detail textures");
        }
    }
    loading_done("Creating low detail textures");
    return true;
}

void gl_delete_all(terrain_render_state* st)
{
    std::vector<GLuint> names;
    auto add = [&](const tile& t) {
        for (unsigned id : {t.colour, t.normal, t.specular})
            if (id)
                names.push_back(id);
    };
    for (const level_block& lv : st->levels)
        for (const tile& t : lv.slots)
            add(t);
    for (const tile& t : st->grid)
        add(t);
    for (const light_tile& lt : st->light_tiles)
        if (lt.texture)
            names.push_back(lt.texture);
    for (const auto& entry : st->own_textures)
        if (entry.second)
            names.push_back(entry.second);
    if (!names.empty())
        glDeleteTextures((GLsizei)names.size(), names.data());
    if (st->framebuffer && g_gl.DeleteFramebuffersEXT)
        g_gl.DeleteFramebuffersEXT(1, &st->framebuffer);
    st->framebuffer = 0;
    st->own_textures.clear();
}

void gl_prepare_pictures(terrain_render_state* st, const heightfield* hf)
{
    if (st->surface_pictures.size() != (size_t)hf->surface_count)
        st->surface_pictures.assign((size_t)hf->surface_count, picture_source());
    for (int k = 0; k < hf->surface_count; k++) {
        picture_source& p = st->surface_pictures[k];
        if (p.loaded)
            continue;
        const surface_type& s = hf->surfaces[k];
        if (s.texture_pixels)
            from_memory(s.texture_pixels, s.texture_width, s.texture_height, 3, &p);
        else
            read_back(s.texture, &p);
    }
}

void gl_software_tile(terrain_render_state* st, const heightfield* hf, const tile_ref& ref, std::vector<uint8_t>* rgb)
{
    gl_prepare_pictures(st, hf);
    std::vector<int> touching;
    decals_touching(hf, ref.col0, ref.row0, ref.samples, &touching);
    std::vector<const picture_source*> decal_sources(hf->decals ? (size_t)hf->decals->count : 0, nullptr);
    for (int idx : touching)
        decal_sources[idx] = decal_picture(st, &hf->decals->items[idx]);
    compose_inputs in;
    in.hf = hf;
    in.surfaces = st->surface_pictures.data();
    in.decals = decal_sources.empty() ? nullptr : decal_sources.data();
    in.lighting = st->shader ? nullptr : hf->shading_map;
    const int T = st->tile_texels;
    rgb->assign((size_t)T * T * 3, 0);
    compose_tile(in, ref.col0, ref.row0, ref.samples, T, rgb->data());
}

void gl_build_tile(terrain_render_state* st, heightfield* hf, const tile_ref& ref)
{
    tile* t = tile_of(st, ref);
    bool ok = true;
    if (st->texturing == terrain_tex_sub_image)
        compose_and_upload(st, hf, ref, t);
    else
        ok = draw_tile(st, hf, ref, t);
    if (!ok) {
        // Tried again once everything else is built (a grid tile) or when
        // the slot holds another tile.
        t->failed = ref.level < GRID_LEVEL;
        t->dirty = ref.level < GRID_LEVEL ? 0 : st->frame;
        return;
    }
    t->valid = true;
    t->failed = false;
    t->dirty = 0;
    st->tiles_built++;
    g_terrain_stats.tiles_built++;
}

void gl_rebuild_light_tile(terrain_render_state* st, heightfield* hf, int index)
{
    light_tile& lt = st->light_tiles[index];
    if (!lt.dirty)
        return;
    lt.dirty = false;
    const int last = hf->sample_count - 1;
    relight_region(hf, st->light, lt.dirty_col0, lt.dirty_row0, lt.dirty_col1, lt.dirty_row1);
    // Texels beyond the grid repeat its edge samples.
    const int x0 = lt.dirty_col0 == 0 ? 0 : lt.dirty_col0 - lt.col0;
    const int y0 = lt.dirty_row0 == 0 ? 0 : lt.dirty_row0 - lt.row0;
    const int x1 = lt.dirty_col1 == last ? lt.width - 1 : lt.dirty_col1 - lt.col0;
    const int y1 = lt.dirty_row1 == last ? lt.height - 1 : lt.dirty_row1 - lt.row0;
    const int w = x1 - x0 + 1, h = y1 - y0 + 1;
    const uint8_t* map = st->shader ? hf->terrain_normal_map : hf->shading_map;
    if (w > 0 && h > 0 && map) {
        std::vector<uint8_t> texels((size_t)w * h * 3);
        for (int y = 0; y < h; y++) {
            const int row = std::min(std::max(lt.row0 + y0 + y, 0), last);
            for (int x = 0; x < w; x++) {
                const int col = std::min(std::max(lt.col0 + x0 + x, 0), last);
                memcpy(&texels[3 * ((size_t)y * w + x)], map + 3 * ((size_t)row * hf->sample_count + col), 3);
            }
        }
        glBindTexture(GL_TEXTURE_2D, lt.texture);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexSubImage2D(GL_TEXTURE_2D, 0, x0, y0, w, h, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    st->light_rebuilds++;
    stamp_tiles(st, lt.dirty_col0, lt.dirty_row0, lt.dirty_col1, lt.dirty_row1);
}

}  // namespace terrain_detail
