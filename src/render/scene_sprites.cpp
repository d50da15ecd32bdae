// Camera-facing sprites: billboards, flaggers and roost particles. Each frame
// they are keyed by depth, sorted far to near with a radix sort on the
// integer keys (stable, so equal depths keep list order), and reordered a
// little where that saves a texture bind without changing what covers
// what: a sprite wearing the texture just drawn may jump forward over
// sprites it does not overlap as seen from the eye.
#include <SDL_opengl.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "render/scene.h"
#include "track/objects.h"
#include "track/roost.h"
#include "track/track.h"

using namespace vecmath;

namespace {

// Scratch of the drawing thread, kept between frames so a frame does not
// allocate.
std::vector<int> g_order;
std::vector<int> g_swap;

// floor(depth x 1024 + 2^24) as an unsigned key; depths beyond what the
// key can hold stay at its ends.
uint32_t depth_key(float depth)
{
    const double k = std::floor((double)depth * 1024.0 + 16777216.0);
    if (!(k > 0.0))
        return 0;
    if (k >= 4294967295.0)
        return 4294967295u;
    return (uint32_t)k;
}

// Stable least-significant-byte-first radix sort of sprite indices by key.
void radix_sort(const sprite* items, std::vector<int>* order)
{
    std::vector<int>& a = *order;
    g_swap.resize(a.size());
    std::vector<int>* from = &a;
    std::vector<int>* to = &g_swap;
    for (int shift = 0; shift < 32; shift += 8) {
        size_t count[257] = {};
        for (int i : *from)
            count[((items[i].sort_key >> shift) & 255u) + 1]++;
        for (int b = 0; b < 256; b++)
            count[b + 1] += count[b];
        for (int i : *from)
            (*to)[count[(items[i].sort_key >> shift) & 255u]++] = i;
        std::swap(from, to);
    }
    // Four passes leave the result where it started.
}

// A sprite's horizontal extent seen from the eye: its ends relative to the
// eye (only x and z count).
struct segment {
    float lx, lz, rx, rz;
};

segment sprite_segment(const sprite& s, vec3 eye, vec3 right)
{
    const float h = s.aspect * s.size * 0.5f;
    const float px = s.x - eye.x, pz = s.z - eye.z;
    return {px - h * right.x, pz - h * right.z, px + h * right.x, pz + h * right.z};
}

float cross_xz(float ax, float az, float cx, float cz)
{
    return ax * cz - az * cx;
}

bool overlaps(const segment& x, const segment& g)
{
    return cross_xz(x.lx, x.lz, g.rx, g.rz) > 0 && cross_xz(x.rx, x.rz, g.lx, g.lz) < 0;
}

// Pulls the next sprite wearing the texture just drawn forward, when it
// lies within the lookahead and nothing in between overlaps it.
void batch_textures(const sprite* items, std::vector<int>* order, int lookahead, vec3 eye, vec3 right)
{
    std::vector<int>& o = *order;
    const int n = (int)o.size();
    for (int v = 0; v + 1 < n; v++) {
        const unsigned texture = items[o[v]].texture;
        int w = 1;
        while (w < lookahead && v + w < n && items[o[v + w]].texture != texture)
            w++;
        if (w >= lookahead || v + w >= n || w == 1)
            continue;
        const segment x = sprite_segment(items[o[v + w]], eye, right);
        bool blocked = false;
        for (int g = v + 1; g < v + w && !blocked; g++)
            blocked = overlaps(x, sprite_segment(items[o[g]], eye, right));
        if (blocked)
            continue;
        const int moved = o[v + w];
        for (int k = v + w; k > v + 1; k--)
            o[k] = o[k - 1];
        o[v + 1] = moved;
    }
}

}  // namespace

bool sprite_draw_order(sprite_list* sprites, int roost_first, int roost_count, vec3 eye, const float rotation[9],
                       int lookahead, std::vector<int>* order)
{
    order->clear();
    // The backward axis; looking straight up or down leaves no horizontal
    // right vector to face the sprites with.
    const vec3 b = v3(rotation[2], rotation[5], rotation[8]);
    if (b.x == 0 && b.z == 0)
        return false;
    if (!sprites || sprites->count <= 0)
        return true;
    const uint32_t eye_key = depth_key(dot(b, eye));
    for (int i = 0; i < sprites->count; i++) {
        sprite& s = sprites->items[i];
        if (!s.texture || s.colour[3] == 0)
            continue;
        float depth = b.x * s.x + b.y * s.y + b.z * s.z;
        if (i >= roost_first && i < roost_first + roost_count)
            depth += s.aspect * s.size;
        s.sort_key = depth_key(depth);
        if (s.sort_key < eye_key)
            order->push_back(i);
    }
    radix_sort(sprites->items, order);
    if (lookahead > 1) {
        const float h = std::sqrt(b.z * b.z + b.x * b.x);
        const vec3 right = v3(b.z / h, 0, -b.x / h);
        batch_textures(sprites->items, order, lookahead, eye, right);
    }
    return true;
}

int draw_sprites(sprite_list* sprites, int roost_first, int roost_count, vec3 eye, const float rotation[9],
                 int lookahead)
{
    if (!sprite_draw_order(sprites, roost_first, roost_count, eye, rotation, lookahead, &g_order) || g_order.empty())
        return 0;
    const vec3 b = v3(rotation[2], rotation[5], rotation[8]);
    const float h = std::sqrt(b.z * b.z + b.x * b.x);
    const vec3 right = v3(b.z / h, 0, -b.x / h);

    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glDepthMask(GL_FALSE);

    unsigned bound = 0;
    bool open = false;
    for (int i : g_order) {
        const sprite& s = sprites->items[i];
        if (s.texture != bound || !open) {
            if (open)
                glEnd();
            glBindTexture(GL_TEXTURE_2D, s.texture);
            g_scene_statistics.texture_changes++;
            bound = s.texture;
            glBegin(GL_QUADS);
            open = true;
        }
        const float half = s.aspect * s.size * 0.5f;
        const float rx = right.x * half, rz = right.z * half;
        const float top = s.y + s.size;
        glColor4ub(s.colour[0], s.colour[1], s.colour[2], s.colour[3]);
        glTexCoord2f(0, 1);
        glVertex3f(s.x - rx, s.y, s.z - rz);
        glTexCoord2f(1, 1);
        glVertex3f(s.x + rx, s.y, s.z + rz);
        glTexCoord2f(1, 0);
        glVertex3f(s.x + rx, top, s.z + rz);
        glTexCoord2f(0, 0);
        glVertex3f(s.x - rx, top, s.z - rz);
    }
    if (open)
        glEnd();

    glColor4f(1, 1, 1, 1);
    glDepthMask(GL_TRUE);
    glEnable(GL_CULL_FACE);
    glDisable(GL_BLEND);
    glEnable(GL_LIGHTING);
    return (int)g_order.size();
}

void roost_sprites_update(track* t)
{
    if (!t->particle_pool || t->particle_sprites < 0)
        return;
    sprite_list& list = t->objects.sprites;
    for (int i = 0; i < ROOST_POOL_SIZE; i++) {
        const int index = t->particle_sprites + i;
        if (index >= list.count)
            break;
        const roost_particle& p = t->particle_pool->particles[i];
        sprite& s = list.items[index];
        if (!p.live) {
            s.texture = 0;
            continue;
        }
        s.x = p.position.x;
        s.y = p.position.y - 0.5f * p.size;
        s.z = p.position.z;
        s.size = p.size;
        s.aspect = 1;
        s.texture = p.texture;
        for (int c = 0; c < 4; c++)
            s.colour[c] = p.colour[c];
    }
}
