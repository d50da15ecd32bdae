// The GLSL text of the programs (GLSL 1.10, compatibility built-ins: the
// fixed-function light 0, material, fog and matrices are read from the GL
// state, so drawing code sets them exactly as it does without shaders).
//
// Vertex data: position, normal, colour and texture coordinate 0 as usual;
// the tangent in texture-coordinate set 1 (xyz); for skinned models four
// bone weights in set 2 and the four bone indices (as floats) in set 3.
#include "render/shader_sources.h"

#include <initializer_list>
#include <string>

namespace {

// Every source begins with this line.
const char* const header_text = "#define MAX_BONE 10\n";

// Skinning: with nbones = 0 the vertex is drawn rigidly by the fixed
// transform; otherwise each of the four (bone, weight) pairs moves the
// vertex about the bone's pivot, and the results are blended.
const char* const skinned_vertex_text = R"(uniform int nbones;
uniform vec3 bone_c[MAX_BONE];
uniform vec3 bone_t[MAX_BONE];
uniform mat3 bone_r[MAX_BONE];
varying vec3 normal;
varying vec3 tangent;
varying vec3 view;

int bone_index(float b)
{
    return int(clamp(floor(b + 0.5), 0.0, float(MAX_BONE - 1)));
}

void add_bone(float w, float b, inout vec3 p, inout vec3 n, inout vec3 t)
{
    int k = bone_index(b);
    p += w * (bone_r[k] * (gl_Vertex.xyz - bone_c[k]) + bone_t[k]);
    n += w * (bone_r[k] * gl_Normal);
    t += w * (bone_r[k] * gl_MultiTexCoord1.xyz);
}

void main()
{
    vec4 position = gl_Vertex;
    vec3 n = gl_Normal;
    vec3 t = gl_MultiTexCoord1.xyz;
    if (nbones == 0) {
        gl_Position = ftransform();
    } else {
        vec3 p = vec3(0.0);
        n = vec3(0.0);
        t = vec3(0.0);
        vec4 w = gl_MultiTexCoord2;
        vec4 b = gl_MultiTexCoord3;
        add_bone(w.x, b.x, p, n, t);
        add_bone(w.y, b.y, p, n, t);
        add_bone(w.z, b.z, p, n, t);
        add_bone(w.w, b.w, p, n, t);
        position = vec4(p, 1.0);
        gl_Position = gl_ModelViewProjectionMatrix * position;
    }
    vec4 eye = gl_ModelViewMatrix * position;
    gl_ClipVertex = eye;
    view = eye.xyz;
    normal = gl_NormalMatrix * n;
    tangent = gl_NormalMatrix * t;
    gl_TexCoord[0] = gl_MultiTexCoord0;
    gl_FrontColor = gl_Color;
}
)";

// Light 0 as a directional light, per pixel; fog as exp(-density * z).
const char* const lighting_text = R"(varying vec3 view;

vec3 light_direction()
{
    return normalize(gl_LightSource[0].position.xyz);
}

vec4 diffuse_colour()
{
    return gl_FrontMaterial.diffuse * gl_LightSource[0].diffuse;
}

vec4 capped(vec4 ambient)
{
    ambient.a = min(ambient.a, 1.0);
    return ambient;
}

// n.l and the reflected view vector's cosine to the light; both 0 on the
// side facing away from the light.
vec2 light_terms(vec3 n, vec3 l)
{
    float ndl = dot(n, l);
    if (ndl < 0.0)
        return vec2(0.0);
    return vec2(ndl, max(dot(reflect(normalize(view), n), l), 0.0));
}

// rdl^e, 0 where there is no highlight at all (pow(0, 0) is undefined).
float highlight(float rdl, float e)
{
    return rdl > 0.0 ? pow(rdl, e) : 0.0;
}

vec4 fogged(vec4 c)
{
    float z = gl_FragCoord.z / gl_FragCoord.w;
    float f = clamp(exp2(-1.4426950408889634 * gl_Fog.density * z), 0.0, 1.0);
    c.rgb = mix(gl_Fog.color.rgb, c.rgb, f);
    return c;
}
)";

// The normal from the normal map in the tangent frame of the vertex.
const char* const normal_map_text = R"(uniform sampler2D nmap;
varying vec3 normal;
varying vec3 tangent;

vec3 mapped_normal()
{
    vec3 n = normalize(normal);
    vec3 t = tangent - n * dot(n, tangent);
    if (dot(t, t) < 1e-12)
        t = abs(n.x) < 0.9 ? vec3(1.0, 0.0, 0.0) - n * n.x : vec3(0.0, 1.0, 0.0) - n * n.y;
    t = normalize(t);
    vec3 b = cross(n, t);
    return normalize(mat3(t, b, n) * (texture2D(nmap, gl_TexCoord[0].st).rgb * 2.0 - 1.0));
}
)";

// An angular environment map: straight up at the centre, straight down on
// the rim; envmat turns eye space into the map's space.
const char* const env_lookup_text = R"(uniform sampler2D tex;
uniform mat3 envmat;
varying vec3 view;

vec4 environment(vec3 n)
{
    vec3 v = normalize(envmat * reflect(view, n));
    float across = length(v.xz);
    vec2 d = across > 1e-6 ? v.xz / across : vec2(0.0);
    vec2 tc = d * acos(clamp(v.y, -1.0, 1.0)) * 0.15915494309189535 + 0.5;
    return texture2D(tex, tc) * gl_Color;
}
)";


const char* const lit_fragment_main = R"(uniform sampler2D tex;
varying vec3 normal;

void main()
{
    vec3 n = normalize(normal);
    vec2 t = light_terms(n, light_direction());
    vec4 ambient = gl_FrontMaterial.ambient * gl_LightSource[0].ambient + gl_LightModel.ambient * gl_FrontMaterial.ambient;
    vec4 c = capped(ambient) + diffuse_colour() * t.x;
    // Alpha is the material's diffuse alpha, as the fixed pipeline lights
    // it: a fading ghost fades, and cut-out edges do not move with the light.
    vec4 texel = texture2D(tex, gl_TexCoord[0].st);
    c *= texel;
    c.a = gl_FrontMaterial.diffuse.a * texel.a;
    c.rgb += gl_FrontMaterial.specular.rgb * gl_LightSource[0].specular.rgb * highlight(t.y, gl_FrontMaterial.shininess);
    gl_FragColor = fogged(c);
}
)";

const char* const env_fragment_main = R"(varying vec3 normal;

void main()
{
    gl_FragColor = environment(normalize(normal));
}
)";

const char* const norm_lit_fragment_main = R"(uniform sampler2D tex;

void main()
{
    vec3 n = mapped_normal();
    vec2 t = light_terms(n, light_direction());
    vec4 ambient = gl_FrontMaterial.ambient * gl_LightSource[0].ambient + gl_LightModel.ambient * gl_FrontMaterial.ambient;
    vec4 c = capped(ambient) + diffuse_colour() * t.x;
    // Alpha is the material's diffuse alpha, as the fixed pipeline lights
    // it: a fading ghost fades, and cut-out edges do not move with the light.
    vec4 texel = texture2D(tex, gl_TexCoord[0].st);
    c *= texel;
    c.a = gl_FrontMaterial.diffuse.a * texel.a;
    c.rgb += gl_FrontMaterial.specular.rgb * gl_LightSource[0].specular.rgb * highlight(t.y, gl_FrontMaterial.shininess);
    gl_FragColor = fogged(c);
}
)";

const char* const norm_env_fragment_main = R"(
void main()
{
    gl_FragColor = environment(mapped_normal());
}
)";

const char* const norm_spec_lit_fragment_main = R"(uniform sampler2D tex;
uniform sampler2D smap;

void main()
{
    vec3 n = mapped_normal();
    vec2 t = light_terms(n, light_direction());
    vec4 ambient = gl_FrontMaterial.ambient * gl_LightSource[0].ambient + gl_LightModel.ambient * gl_FrontMaterial.ambient;
    vec4 c = capped(ambient) + diffuse_colour() * t.x;
    // Alpha is the material's diffuse alpha, as the fixed pipeline lights
    // it: a fading ghost fades, and cut-out edges do not move with the light.
    vec4 texel = texture2D(tex, gl_TexCoord[0].st);
    c *= texel;
    c.a = gl_FrontMaterial.diffuse.a * texel.a;
    // The map's alpha holds the exponent; its top value means "the
    // material's own".
    vec4 s = texture2D(smap, gl_TexCoord[0].st);
    float e = s.a * 128.0 + 0.125;
    if (e >= 127.875)
        e = gl_FrontMaterial.shininess;
    c.rgb += s.rgb * gl_LightSource[0].specular.rgb * highlight(t.y, e);
    gl_FragColor = fogged(c);
}
)";

const char* const terrain_normals_vertex_main = R"(varying vec2 tc;

void main()
{
    gl_Position = ftransform();
    gl_TexCoord[0] = gl_MultiTexCoord0;
    vec4 p = gl_TextureMatrix[1] * gl_Vertex;
    tc = p.xy / p.w;
}
)";

// A decal's detail normal, turned the way the decal lies on the screen,
// put onto the terrain's base normal. Green carries the base's light
// factor through unchanged.
const char* const terrain_normals_fragment_main = R"(uniform sampler2D tex;
uniform sampler2D base;
varying vec2 tc;

void main()
{
    vec4 detail = texture2D(tex, gl_TexCoord[0].st);
    vec3 n = detail.xzy * 2.0 - 1.0;
    n.x = -n.x;
    vec2 dir = vec2(dFdx(gl_TexCoord[0].s), -dFdy(gl_TexCoord[0].s));
    float dl = length(dir);
    dir = dl > 0.0 ? dir / dl : vec2(1.0, 0.0);
    n = vec3(dir.x * n.x - dir.y * n.z, n.y, dir.y * n.x + dir.x * n.z);

    vec4 b = texture2D(base, tc);
    float baselen = b.g;
    float x = b.r * 2.0 - 1.0;
    float z = b.b * 2.0 - 1.0;
    vec3 r1 = vec3(x, sqrt(max(1.0 - x * x - z * z, 0.0)), z);
    vec3 r2 = normalize(cross(vec3(1.0, 0.0, 0.0), r1));
    vec3 r0 = normalize(cross(r1, r2));
    n = normalize(mat3(r0, r1, r2) * n);
    // Keep the normal off the horizon so its height stays above zero.
    if (length(n.xz) > 126.0 / 128.0) {
        n.y = 0.0;
        n = normalize(n) * (126.0 / 128.0);
    }
    gl_FragColor = vec4((n.x + 1.0) * 0.5, baselen, (n.z + 1.0) * 0.5, detail.a);
}
)";

const char* const terrain_vertex_main = R"(varying vec3 view;

void main()
{
    gl_Position = ftransform();
    vec4 eye = gl_ModelViewMatrix * gl_Vertex;
    gl_ClipVertex = eye;
    view = eye.xyz;
    gl_TexCoord[0] = gl_MultiTexCoord0;
}
)";

// The terrain normal texture holds x and z of the normal in red and blue
// and the sunlight factor (shadow) in green.
const char* const terrain_fragment_main = R"(uniform sampler2D tex;
uniform sampler2D nmap;
uniform sampler2D smap;

void main()
{
    vec4 m = texture2D(nmap, gl_TexCoord[0].st);
    float len = m.g;
    float x = m.r * 2.0 - 1.0;
    float z = m.b * 2.0 - 1.0;
    vec3 n = normalize(gl_NormalMatrix * vec3(x, sqrt(max(1.0 - x * x - z * z, 0.0)), z));
    vec2 t = light_terms(n, light_direction());
    vec4 c = capped(gl_FrontMaterial.ambient * gl_LightSource[0].ambient) + diffuse_colour() * t.x * len;
    c *= texture2D(tex, gl_TexCoord[0].st);
    vec4 s = texture2D(smap, gl_TexCoord[0].st);
    c.rgb += s.r * gl_LightSource[0].specular.rgb * highlight(t.y, s.g * 128.0 + 0.125) * len;
    gl_FragColor = fogged(c);
}
)";


// A source put together from its pieces, kept for the life of the process.
struct program_text {
    const char* name;
    std::string vertex;
    std::string fragment;
};

std::string joined(std::initializer_list<const char*> pieces)
{
    std::string text = header_text;
    for (const char* piece : pieces)
        text += piece;
    return text;
}

const program_text* program_texts()
{
    static const program_text texts[8] = {
        {"none", "", ""},
        {"lit", joined({skinned_vertex_text}), joined({lighting_text, lit_fragment_main})},
        {"env", joined({skinned_vertex_text}), joined({env_lookup_text, env_fragment_main})},
        {"norm_lit", joined({skinned_vertex_text}), joined({lighting_text, normal_map_text, norm_lit_fragment_main})},
        {"norm_env", joined({skinned_vertex_text}), joined({env_lookup_text, normal_map_text, norm_env_fragment_main})},
        {"norm_spec_lit", joined({skinned_vertex_text}),
         joined({lighting_text, normal_map_text, norm_spec_lit_fragment_main})},
        {"terrain_normals", joined({terrain_normals_vertex_main}), joined({terrain_normals_fragment_main})},
        {"terrain", joined({terrain_vertex_main}), joined({lighting_text, terrain_fragment_main})},
    };
    return texts;
}

}  // namespace

const char* shader_builtin_name(int i)
{
    return i >= 0 && i < 8 ? program_texts()[i].name : nullptr;
}

const char* shader_builtin_vertex(int i)
{
    return i >= 1 && i < 8 ? program_texts()[i].vertex.c_str() : nullptr;
}

const char* shader_builtin_fragment(int i)
{
    return i >= 1 && i < 8 ? program_texts()[i].fragment.c_str() : nullptr;
}
