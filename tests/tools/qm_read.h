// A strict reader of model files for the generator's tests: the model file
// rules (header, parts, vertices with their bone weights, triangles) read
// over the game's stream scanner, refusing anything the loader would read
// only in part; and the checks every drawn model must pass.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "files/stream.h"

namespace qm_read {

struct read_part {
    float shininess = 0, reflectivity = 0, specular[3] = {};
    std::vector<float> position, normal, uv, weights;  // 3, 3, 2, bones per vertex
    std::vector<int> triangles;
};
struct read_model {
    int version = 0, bones = 0;
    std::vector<read_part> parts;
};

// Reads a model file as the loader does, but strictly: every part must
// read whole and nothing may follow the last one. Fails with the reason.
inline bool read_qm(data_stream* s, read_model* m, std::string* why)
{
    if (stream_scan(s, "QM%d", &m->version) != 1) {
        *why = "no QM header";
        return false;
    }
    if (m->version == 2) {
        char name[1024];
        if (stream_scan(s, "%d %1023s", &m->bones, name) != 2 || m->bones <= 0) {
            *why = "bad bone line";
            return false;
        }
    } else if (m->version != 1) {
        *why = "unknown version";
        return false;
    }
    for (;;) {
        read_part p;
        int v = 0, t = 0;
        if (stream_scan(s, "%f %f %f %f %f %d %d", &p.shininess, &p.reflectivity, &p.specular[0], &p.specular[1],
                        &p.specular[2], &v, &t) != 7)
            break;
        if (v <= 0 || t <= 0) {
            *why = "empty part";
            return false;
        }
        for (int i = 0; i < v; i++) {
            float f[8];
            if (stream_scan(s, "%f %f %f %f %f %f %f %f", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6], &f[7]) != 8) {
                *why = "short vertex";
                return false;
            }
            p.position.insert(p.position.end(), f, f + 3);
            p.normal.insert(p.normal.end(), f + 3, f + 6);
            p.uv.insert(p.uv.end(), f + 6, f + 8);
            for (int b = 0; b < m->bones; b++) {
                float w;
                if (stream_scan(s, "%f", &w) != 1) {
                    *why = "short weights";
                    return false;
                }
                p.weights.push_back(w);
            }
        }
        for (int i = 0; i < 3 * t; i++) {
            int k;
            if (stream_scan(s, "%d", &k) != 1) {
                *why = "short triangle";
                return false;
            }
            p.triangles.push_back(k);
        }
        m->parts.push_back(p);
    }
    for (int c; (c = stream_getc(s)) >= 0;)
        if (c != ' ' && c != '\n' && c != '\t' && c != '\r') {
            *why = "text after the last part";
            return false;
        }
    if (m->parts.empty()) {
        *why = "no parts";
        return false;
    }
    return true;
}

// What the renderer needs of every part: indices in range, no triangle the
// loader would drop, unit normals on the side the triangle faces, texture
// coordinates on the picture.
inline void expect_sound(const read_model& m, const std::string& name)
{
    for (const read_part& p : m.parts) {
        const size_t n = p.position.size() / 3;
        for (size_t i = 0; i < n; i++) {
            const float* nv = &p.normal[3 * i];
            EXPECT_NEAR(std::sqrt(nv[0] * nv[0] + nv[1] * nv[1] + nv[2] * nv[2]), 1.0, 1e-3) << name;
            EXPECT_GE(p.uv[2 * i], 0.0f) << name;
            EXPECT_LE(p.uv[2 * i], 1.0f) << name;
            EXPECT_GE(p.uv[2 * i + 1], 0.0f) << name;
            EXPECT_LE(p.uv[2 * i + 1], 1.0f) << name;
        }
        for (size_t t = 0; t < p.triangles.size(); t += 3) {
            int k[3] = {p.triangles[t], p.triangles[t + 1], p.triangles[t + 2]};
            for (int j : k)
                ASSERT_TRUE(j >= 0 && (size_t)j < n) << name;
            const float* a = &p.position[3 * k[0]];
            const float* b = &p.position[3 * k[1]];
            const float* c = &p.position[3 * k[2]];
            double e1[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, e2[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
            double x = e1[1] * e2[2] - e1[2] * e2[1], y = e1[2] * e2[0] - e1[0] * e2[2], z = e1[0] * e2[1] - e1[1] * e2[0];
            double len = std::sqrt(x * x + y * y + z * z);
            ASSERT_GE(len * len, std::ldexp(1.0, -80)) << name << ": degenerate triangle " << t / 3;
            for (int j : k) {
                const float* nv = &p.normal[3 * j];
                EXPECT_GT((x * nv[0] + y * nv[1] + z * nv[2]) / len, 0.5) << name << ": triangle " << t / 3
                                                                         << " faces away from its normals";
            }
        }
    }
}

}  // namespace qm_read
