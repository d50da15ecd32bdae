// Reading ".qm" model files and the load-time work on each part: bone
// influences, tangents and the removal of triangles that cannot be drawn.
// Also the scene export of a model, which needs no GL either.
#include "render/model_file.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/messages.h"
#include "files/datafs.h"
#include "files/memory.h"
#include "files/stream.h"
#include "platform/log.h"

using namespace vecmath;

namespace {

// Below this |det| the texture coordinates of a triangle give no usable
// direction, and below this squared doubled area a triangle is dropped.
const float tangent_min_det = 0x1p-20f;
const float min_area_sq = 0x1p-80f;

// The least text a vertex and a triangle can take. Numbers need no blank
// between them when the next one starts with its sign ("-1-1-1"), so a
// vertex is at least 8 x 2 bytes (the very first number of a part may be
// a single digit) and each weight adds 2; a triangle is 3 x 2.
const long long vertex_min_bytes = 16;
const long long weight_min_bytes = 2;
const long long triangle_min_bytes = 6;

// What a plain stream has left to deliver, or -1 when that cannot be told
// (compressed and scrambled files, streams over memory).
long long stream_bytes_left(const data_stream* s)
{
    if (s->gzip || s->scrambled || !s->file)
        return -1;
    const int fd = fileno(s->file);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    long long end = (long long)st.st_size - s->base_offset;
    if (end > s->limit)
        end = s->limit;
    const long long left = end - s->position;
    return left > 0 ? left : 0;
}

// One vertex as read, before the part's arrays are made.
struct read_vertex {
    vec3 position, normal;
    float s, t;
    float weight[4];
    int bone[4];
};
struct read_triangle {
    int index[3];
};

// A growable array of plain records. Capacity follows what was actually
// read, so a count the file cannot back never sizes an allocation.
template <typename T>
struct growing {
    T* items = nullptr;
    size_t count = 0, capacity = 0;
    ~growing() { mem_free(items); }
    T* add()
    {
        if (count == capacity) {
            size_t c = capacity ? capacity * 2 : 256;
            items = static_cast<T*>(mem_realloc(items, c * sizeof(T)));
            if (!items)
                fatal_out_of_memory();
            capacity = c;
        }
        return &items[count++];
    }
    void reserve(size_t c)
    {
        if (c <= capacity)
            return;
        items = static_cast<T*>(mem_realloc(items, c * sizeof(T)));
        if (!items)
            fatal_out_of_memory();
        capacity = c;
    }
};

template <typename T>
T* copy_array(const T* from, size_t n)
{
    T* to = static_cast<T*>(mem_alloc_or_die(n * sizeof(T) + 1));
    if (n)
        memcpy(to, from, n * sizeof(T));
    return to;
}

void free_part(model_part* p)
{
    mem_free(p->positions);
    mem_free(p->normals);
    mem_free(p->tangents);
    mem_free(p->rest_positions);
    mem_free(p->rest_normals);
    mem_free(p->rest_tangents);
    mem_free(p->texcoords);
    mem_free(p->weights);
    mem_free(p->bones);
    mem_free(p->triangles);
    p->~model_part();
    mem_free(p);
}

// Four influences per vertex: each positive weight takes the slot that
// holds the smallest weight so far (a fifth one pushes out the smallest).
// Returns false when a positive weight had to be pushed out.
bool add_influence(read_vertex* v, int bone, float w)
{
    if (!(w > 0))
        return true;
    int slot = 0;
    for (int k = 1; k < 4; k++)
        if (v->weight[k] < v->weight[slot])
            slot = k;
    const bool kept_all = !(v->weight[slot] > 0);
    v->weight[slot] = w;
    v->bone[slot] = bone;
    return kept_all;
}

void normalise_influences(read_vertex* v)
{
    const float sum = v->weight[0] + v->weight[1] + v->weight[2] + v->weight[3];
    for (int k = 0; k < 4; k++)
        v->weight[k] = sum == 0 ? 0.25f : v->weight[k] / sum;
}

bool triangle_in_range(const int* t, int vertex_count)
{
    return t[0] >= 0 && t[0] < vertex_count && t[1] >= 0 && t[1] < vertex_count && t[2] >= 0 &&
           t[2] < vertex_count;
}

// Per-vertex tangents from the texture coordinates' directions, summed over
// the triangles (only those whose indices are in range) and normalised.
void compute_tangents(model_part* p, const read_triangle* tris, size_t tri_count)
{
    vec3* tan = p->tangents;
    for (int i = 0; i < p->vertex_count; i++)
        tan[i] = v3(0, 0, 0);
    for (size_t k = 0; k < tri_count; k++) {
        const int* t = tris[k].index;
        if (!triangle_in_range(t, p->vertex_count))
            continue;
        const vec3 p0 = p->positions[t[0]], p1 = p->positions[t[1]], p2 = p->positions[t[2]];
        const float* c0 = p->texcoords + 2 * t[0];
        const float* c1 = p->texcoords + 2 * t[1];
        const float* c2 = p->texcoords + 2 * t[2];
        const vec3 e1 = sub(p1, p0), e2 = sub(p2, p0);
        const float ds1 = c1[0] - c0[0], dt1 = c1[1] - c0[1];
        const float ds2 = c2[0] - c0[0], dt2 = c2[1] - c0[1];
        const float det = ds1 * dt2 - ds2 * dt1;
        vec3 tangent;
        if (std::fabs(det) >= tangent_min_det) {
            tangent = scale(sub(scale(e1, dt2), scale(e2, dt1)), 1.0f / det);
            const vec3 bitangent = scale(sub(scale(e2, ds1), scale(e1, ds2)), 1.0f / det);
            // Mirrored texture mapping: keep the tangent on the side the
            // face's winding gives.
            if (!(dot(cross(tangent, bitangent), cross(e1, e2)) > 0))
                tangent = neg(tangent);
        } else {
            const float l1 = length_sq(e1), l2 = length_sq(e2);
            if (l1 > l2)
                tangent = scale(e1, tangent_min_det / std::sqrt(l1));
            else if (l2 > 0)
                tangent = scale(e2, tangent_min_det / std::sqrt(l2));
            else
                tangent = v3(tangent_min_det, 0, 0);
        }
        for (int j = 0; j < 3; j++)
            tan[t[j]] = add(tan[t[j]], tangent);
    }
    for (int i = 0; i < p->vertex_count; i++) {
        const float l = length(tan[i]);
        tan[i] = l > 0 ? scale(tan[i], 1.0f / l) : v3(1, 0, 0);
    }
}

// Keeps the triangles with indices in range and a non-vanishing area;
// returns how many were dropped.
int keep_drawable_triangles(model_part* p, const read_triangle* tris, size_t tri_count)
{
    size_t kept = 0;
    for (size_t k = 0; k < tri_count; k++) {
        const int* t = tris[k].index;
        if (!triangle_in_range(t, p->vertex_count))
            continue;
        const vec3 p0 = p->positions[t[0]];
        const vec3 c = cross(sub(p->positions[t[1]], p0), sub(p->positions[t[2]], p0));
        if (length_sq(c) < min_area_sq)
            continue;
        for (int j = 0; j < 3; j++)
            p->triangles[3 * kept + j] = (unsigned)t[j];
        kept++;
    }
    p->triangle_count = (int)kept;
    return (int)(tri_count - kept);
}

// Reads one part after its header. Null when a number fails to scan or
// the counts cannot be right. *dropped grows by the triangles removed.
model_part* read_part_body(data_stream* s, const char* name, model_part* header, int bone_count, int* dropped)
{
    const int vn = header->vertex_count, tn = header->triangle_count;
    if (vn < 0 || tn < 0)
        return nullptr;
    const long long left = stream_bytes_left(s);
    const long long least = (vertex_min_bytes + weight_min_bytes * bone_count) * vn + triangle_min_bytes * tn - 1;
    if (left >= 0 && least > left) {
        log_printf("%.900s: a part of %d vertices and %d triangles does not fit in the %lld bytes left\n", name, vn,
                   tn, left);
        return nullptr;
    }

    growing<read_vertex> verts;
    growing<read_triangle> tris;
    if (left >= 0) {
        verts.reserve((size_t)vn);
        tris.reserve((size_t)tn);
    }
    bool warned = false;
    for (int i = 0; i < vn; i++) {
        read_vertex* v = verts.add();
        float u, w;
        if (stream_scan(s, "%f %f %f %f %f %f %f %f", &v->position.x, &v->position.y, &v->position.z,
                        &v->normal.x, &v->normal.y, &v->normal.z, &u, &w) != 8)
            return nullptr;
        v->s = u;
        v->t = 1.0f - w;
        for (int k = 0; k < 4; k++) {
            v->weight[k] = 0;
            v->bone[k] = 0;
        }
        if (bone_count > 0) {
            for (int b = 0; b < bone_count; b++) {
                float weight;
                if (stream_scan(s, "%f", &weight) != 1)
                    return nullptr;
                if (!add_influence(v, b, weight) && !warned) {
                    add_message("Warning: vertex with more than 4 bone influences in '%.900s'", name);
                    warned = true;
                }
            }
            normalise_influences(v);
        }
    }
    for (int i = 0; i < tn; i++) {
        int* t = tris.add()->index;
        if (stream_scan(s, "%d %d %d", &t[0], &t[1], &t[2]) != 3)
            return nullptr;
    }

    model_part* p = new (mem_alloc_or_die(sizeof(model_part))) model_part(*header);
    p->next = nullptr;
    p->bone_count = bone_count;
    const size_t n = (size_t)vn;
    p->positions = static_cast<vec3*>(mem_alloc_or_die(n * sizeof(vec3) + 1));
    p->normals = static_cast<vec3*>(mem_alloc_or_die(n * sizeof(vec3) + 1));
    p->tangents = static_cast<vec3*>(mem_alloc_or_die(n * sizeof(vec3) + 1));
    p->texcoords = static_cast<float*>(mem_alloc_or_die(n * 2 * sizeof(float) + 1));
    for (size_t i = 0; i < n; i++) {
        const read_vertex& v = verts.items[i];
        p->positions[i] = v.position;
        p->normals[i] = v.normal;
        p->texcoords[2 * i] = v.s;
        p->texcoords[2 * i + 1] = v.t;
    }
    if (bone_count > 0) {
        p->weights = static_cast<float*>(mem_alloc_or_die(n * 4 * sizeof(float) + 1));
        p->bones = static_cast<int*>(mem_alloc_or_die(n * 4 * sizeof(int) + 1));
        for (size_t i = 0; i < n; i++)
            for (int k = 0; k < 4; k++) {
                p->weights[4 * i + k] = verts.items[i].weight[k];
                p->bones[4 * i + k] = verts.items[i].bone[k];
            }
    }
    // Indices are checked before the tangents read the vertices they name.
    compute_tangents(p, tris.items, (size_t)tn);
    p->triangles = static_cast<unsigned*>(mem_alloc_or_die((size_t)tn * 3 * sizeof(unsigned) + 1));
    *dropped += keep_drawable_triangles(p, tris.items, (size_t)tn);
    if (bone_count > 0) {
        p->rest_positions = copy_array(p->positions, n);
        p->rest_normals = copy_array(p->normals, n);
        p->rest_tangents = copy_array(p->tangents, n);
    }
    return p;
}

model* new_model(const char* name)
{
    model* m = new (mem_alloc_or_die(sizeof(model))) model();
    m->name = mem_strdup(name ? name : "");
    if (!m->name)
        fatal_out_of_memory();
    return m;
}

void append_vector(std::string* out, const char* format, float a, float b, float c, bool last)
{
    char text[160];
    snprintf(text, sizeof text, format, a, b, c);
    *out += "\t\t";
    *out += text;
    *out += last ? "\n" : ",\n";
}

void export_part(const model_part* p, std::string* out)
{
    const vec3* pos = p->rest_positions ? p->rest_positions : p->positions;
    const vec3* nor = p->rest_normals ? p->rest_normals : p->normals;
    const int vn = p->vertex_count;
    char text[64];
    *out += "mesh2 {\n\tvertex_vectors {\n";
    snprintf(text, sizeof text, "\t\t%d,\n", vn);
    *out += text;
    for (int i = 0; i < vn; i++)
        append_vector(out, "<%f,%f,%f>", pos[i].x, pos[i].y, pos[i].z, i == vn - 1);
    *out += "\t}\n\tnormal_vectors {\n";
    *out += text;
    for (int i = 0; i < vn; i++)
        append_vector(out, "<%f,%f,%f>", nor[i].x, nor[i].y, nor[i].z, i == vn - 1);
    *out += "\t}\n\tuv_vectors {\n";
    *out += text;
    for (int i = 0; i < vn; i++)
        append_vector(out, "<%f,%f>", p->texcoords[2 * i], p->texcoords[2 * i + 1], 0, i == vn - 1);
    *out += "\t}\n\tface_indices {\n";
    snprintf(text, sizeof text, "\t\t%d,\n", p->triangle_count);
    *out += text;
    for (int t = 0; t < p->triangle_count; t++) {
        const unsigned* tri = p->triangles + 3 * t;
        snprintf(text, sizeof text, "\t\t<%u,%u,%u>%s\n", tri[0], tri[1], tri[2],
                 t == p->triangle_count - 1 ? "" : ",");
        *out += text;
    }
    *out += "\t}\n}\n";
}

}  // namespace

model* model_parse(data_stream* s, const char* name)
{
    // White space before the header is allowed; what follows decides the
    // form. A file without "QM" is one part read from its first number.
    stream_scan(s, " ");
    int bone_count = 0;
    bool single = true;
    if (stream_peekc(s) == 'Q') {
        int version = 0;
        if (stream_scan(s, "QM%d", &version) != 1)
            return nullptr;
        if (version == 2) {
            char skeleton[1024];
            if (stream_scan(s, "%d %1023s", &bone_count, skeleton) != 2)
                return nullptr;
            if (bone_count < 0 || bone_count > MODEL_MAX_BONES) {
                log_printf("%.900s: %d bones (at most %d)\n", name, bone_count, (int)MODEL_MAX_BONES);
                return nullptr;
            }
        } else if (version != 1) {
            return nullptr;
        }
        single = false;
    }

    model* m = new_model(name);
    m->bone_count = bone_count;
    model_part** tail = &m->parts;
    int dropped = 0;
    for (;;) {
        model_part header;
        if (single) {
            header.shininess = 32.0f;
            header.specular[0] = header.specular[1] = header.specular[2] = 1.0f;
            if (stream_scan(s, "%d %d", &header.vertex_count, &header.triangle_count) != 2)
                break;
        } else {
            if (stream_scan(s, "%f %f %f %f %f %d %d", &header.shininess, &header.reflectivity,
                            &header.specular[0], &header.specular[1], &header.specular[2], &header.vertex_count,
                            &header.triangle_count) != 7)
                break;
            if (!(header.shininess < 0))
                header.reflectivity = 1.0f;
        }
        model_part* p = read_part_body(s, name, &header, bone_count, &dropped);
        if (!p)
            break;
        if (p->shininess == -1.0f)
            m->has_env = true;
        *tail = p;
        tail = &p->next;
        if (single)
            break;
    }
    if (!m->parts) {
        model_free(m);
        return nullptr;
    }
    if (dropped > 0)
        add_message("%d degenerate triangles deleted in %.100s", dropped, name);
    return m;
}

model* model_read(const char* name)
{
    data_stream* s = open_data_file(name, "rb");
    if (!s)
        return nullptr;
    model* m = model_parse(s, name);
    close_data_file(s);
    return m;
}

void model_free(model* m)
{
    while (m) {
        model* next = m->next_lod;
        for (model_part* p = m->parts; p;) {
            model_part* after = p->next;
            free_part(p);
            p = after;
        }
        mem_free(m->name);
        m->~model();
        mem_free(m);
        m = next;
    }
}

void model_export_mesh2(const model* m, std::string* out)
{
    if (!m)
        return;
    // A mesh without faces does not parse in the ray tracer: such parts
    // are left out (and a model with none left is an empty union, so the
    // declaration still has an object).
    int written = 0;
    for (const model_part* p = m->parts; p; p = p->next)
        written += p->triangle_count > 0;
    const bool several = written != 1;
    if (several)
        *out += "union {\n";
    for (const model_part* p = m->parts; p; p = p->next)
        if (p->triangle_count > 0)
            export_part(p, out);
    if (several)
        *out += "}\n";
}

bool model_export_mesh2(const model* m, FILE* file)
{
    std::string text;
    model_export_mesh2(m, &text);
    return fwrite(text.data(), 1, text.size(), file) == text.size();
}
