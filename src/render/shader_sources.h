// The built-in GLSL text of each program slot; only shaders.cpp and
// shader_sources.cpp include this.
#pragma once

// Slot 0 (no program) has a name but no text; null out of range.
const char* shader_builtin_name(int i);
const char* shader_builtin_vertex(int i);
const char* shader_builtin_fragment(int i);
