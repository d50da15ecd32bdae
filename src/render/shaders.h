// The renderer's GLSL programs: a table of eight slots, slot 0 meaning the
// fixed-function pipeline. Compiled once at start-up when the player allows
// shaders and the hardware can run them; if any program fails, none is kept
// and every object is drawn with the fixed-function pipeline for the run.
//
// Texture units: 0 the colour texture, 1 the normal map (for
// "terrain_normals" the terrain's base normal texture), 2 the specular map.
#pragma once

enum shader_program_index {
    program_none = 0,
    program_lit = 1,              // textured models, per-pixel lighting
    program_env = 2,              // environment-mapped (shiny) parts
    program_norm_lit = 3,         // models with a normal map
    program_norm_env = 4,         // environment-mapped parts with a normal map
    program_norm_spec_lit = 5,    // models with normal and specular maps
    program_terrain_normals = 6,  // building the terrain normal textures
    program_terrain = 7,          // drawing the terrain
    program_count = 8,
};

// Up to this many bones per skinned draw.
enum { SHADER_MAX_BONES = 10 };

// Compiles slots 1 to 7 in order (only when both shader extensions exist),
// logging every non-empty compile or link log to the log file, then sets
// the sampler uniforms. False, with no program left, on any failure.
bool shaders_init();
// Detaches and deletes both shaders of every slot and deletes the program.
void shaders_free();

// Binds the program of slot i (0: none) unless i is out of 0..7 or already
// bound; each change is counted.
void use_program(int i);
// The program object of slot i (1..7), else 0.
unsigned program_handle(int i);
// The bound slot and the number of program changes (render statistics).
int current_program();
int program_switches();
void reset_program_switches();

// Loads the 3 x 3 rotation m (nine floats, row by row) so that envmat x v
// equals m x v into "env" and "norm_env", then binds program 0.
void set_env_matrix(const float m[9]);

// For the bound program (1..7): sets nbones = n and, when n > 0, the n bone
// pivots, translations and rotations (nine floats each, column by column).
// n is at most SHADER_MAX_BONES.
void set_bones(int n, const float* centres, const float* translations, const float* rotations);

// The source texts of one slot (for tests and the log).
const char* shader_vertex_source(int i);
const char* shader_fragment_source(int i);
const char* shader_program_name(int i);

// Test support: replaces the text of slot i (1..7) for the next
// shaders_init (null restores the built-in text), so a driver that refuses
// one program can be imitated.
void shaders_replace_source_for_tests(int i, const char* vertex, const char* fragment);
