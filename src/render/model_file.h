// The ".qm" model reader, free of GL so that the tools and the fuzz target
// link it alone.
//
// Text, numbers separated by white space: a header "QM1" (rigid) or "QM2"
// with a bone count (at most SHADER_MAX_BONES) and a name; then parts until
// one fails to scan, each "shininess reflectivity r g b V T", V vertices
// (position, normal, u v, and one weight per bone) and T triangles. A file
// without "QM" is one part read from its first number ("V T", vertices,
// triangles) with shininess 32 and white specular.
//
// After reading, each part gets its vertex tangents, loses triangles whose
// indices are out of range or whose area is (nearly) zero, and keeps at
// most four bone influences per vertex.
#pragma once

#include "render/model.h"

struct data_stream;

// Largest bone count a skinned model may have (the programs' limit).
enum { MODEL_MAX_BONES = 10 };

// Parses a model from a stream. name is the data name used in messages and
// kept as the model's name. Null when the header is wrong, the bone count
// is out of range or the first part fails; a later part that fails ends the
// part list. Counts are checked against what the file can hold before any
// allocation sized by them. The result is owned by the caller (model_free).
model* model_parse(data_stream* s, const char* name);
// Opens the data name, parses it and closes it; null as above or when the
// file cannot be opened.
model* model_read(const char* name);
// Frees the model, its parts and its level-of-detail chain. Display lists
// are the renderer's: it deletes them first.
void model_free(model* m);
