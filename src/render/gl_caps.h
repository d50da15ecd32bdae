// What the GL driver offers, read once after the window's context exists,
// and the extension entry points the renderer calls. The renderer is written
// against OpenGL 1.x with ARB/EXT extensions (no core-profile calls); every
// path that needs an extension asks g_gl_caps whether it is open.
//
// Entry points are fetched by name through SDL_GL_GetProcAddress; a missing
// one is simply null (callers test the matching capability, not the pointer).
#pragma once

#include <SDL_opengl.h>
#include <GL/glext.h>

struct gl_caps {
    // The four glGetString strings; "NULL" when the driver gives none.
    char vendor[256] = "NULL";
    char renderer[256] = "NULL";
    char version[256] = "NULL";
    const char* extensions = "NULL";  // owned copy (mem_alloc) once filled
    int version_major = 0;
    int version_minor = 0;
    bool has_generate_mipmap = false;  // GL_SGIS_generate_mipmap
    bool has_fbo = false;              // GL_EXT_framebuffer_object
    bool has_multitexture = false;     // GL_ARB_multitexture
    bool has_fragment_shader = false;  // GL_ARB_fragment_shader
    bool has_vertex_shader = false;    // GL_ARB_vertex_shader
    int texture_units = 0;             // read only with multitexturing
    bool multitexture_ok = false;      // multitexturing with at least 4 units
    bool shaders_on = false;           // "use_shader", multitexture_ok and the programs compiled
    bool terrain_shader_on = false;    // shaders_on and a shader terrain method
};
extern gl_caps g_gl_caps;

// The entry points, one X(type, name) per function (name without "gl").
#define KESSRIG_GL_ENTRY_POINTS(X)                                                         \
    X(PFNGLACTIVETEXTUREARBPROC, ActiveTextureARB)                                         \
    X(PFNGLCLIENTACTIVETEXTUREARBPROC, ClientActiveTextureARB)                             \
    X(PFNGLMULTITEXCOORD1FARBPROC, MultiTexCoord1fARB)                                     \
    X(PFNGLMULTITEXCOORD2FARBPROC, MultiTexCoord2fARB)                                     \
    X(PFNGLMULTITEXCOORD2FVARBPROC, MultiTexCoord2fvARB)                                   \
    X(PFNGLMULTITEXCOORD3FARBPROC, MultiTexCoord3fARB)                                     \
    X(PFNGLMULTITEXCOORD3FVARBPROC, MultiTexCoord3fvARB)                                   \
    X(PFNGLMULTITEXCOORD4FARBPROC, MultiTexCoord4fARB)                                     \
    X(PFNGLMULTITEXCOORD4FVARBPROC, MultiTexCoord4fvARB)                                   \
    X(PFNGLMULTITEXCOORD4IVARBPROC, MultiTexCoord4ivARB)                                   \
    X(PFNGLISRENDERBUFFEREXTPROC, IsRenderbufferEXT)                                       \
    X(PFNGLBINDRENDERBUFFEREXTPROC, BindRenderbufferEXT)                                   \
    X(PFNGLDELETERENDERBUFFERSEXTPROC, DeleteRenderbuffersEXT)                             \
    X(PFNGLGENRENDERBUFFERSEXTPROC, GenRenderbuffersEXT)                                   \
    X(PFNGLRENDERBUFFERSTORAGEEXTPROC, RenderbufferStorageEXT)                             \
    X(PFNGLGETRENDERBUFFERPARAMETERIVEXTPROC, GetRenderbufferParameterivEXT)               \
    X(PFNGLISFRAMEBUFFEREXTPROC, IsFramebufferEXT)                                         \
    X(PFNGLBINDFRAMEBUFFEREXTPROC, BindFramebufferEXT)                                     \
    X(PFNGLDELETEFRAMEBUFFERSEXTPROC, DeleteFramebuffersEXT)                               \
    X(PFNGLGENFRAMEBUFFERSEXTPROC, GenFramebuffersEXT)                                     \
    X(PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC, CheckFramebufferStatusEXT)                       \
    X(PFNGLFRAMEBUFFERTEXTURE1DEXTPROC, FramebufferTexture1DEXT)                           \
    X(PFNGLFRAMEBUFFERTEXTURE2DEXTPROC, FramebufferTexture2DEXT)                           \
    X(PFNGLFRAMEBUFFERTEXTURE3DEXTPROC, FramebufferTexture3DEXT)                           \
    X(PFNGLFRAMEBUFFERRENDERBUFFEREXTPROC, FramebufferRenderbufferEXT)                     \
    X(PFNGLGETFRAMEBUFFERATTACHMENTPARAMETERIVEXTPROC, GetFramebufferAttachmentParameterivEXT) \
    X(PFNGLGENERATEMIPMAPEXTPROC, GenerateMipmapEXT)                                       \
    X(PFNGLDELETEOBJECTARBPROC, DeleteObjectARB)                                           \
    X(PFNGLGETHANDLEARBPROC, GetHandleARB)                                                 \
    X(PFNGLDETACHOBJECTARBPROC, DetachObjectARB)                                           \
    X(PFNGLCREATESHADEROBJECTARBPROC, CreateShaderObjectARB)                               \
    X(PFNGLSHADERSOURCEARBPROC, ShaderSourceARB)                                           \
    X(PFNGLCOMPILESHADERARBPROC, CompileShaderARB)                                         \
    X(PFNGLCREATEPROGRAMOBJECTARBPROC, CreateProgramObjectARB)                             \
    X(PFNGLATTACHOBJECTARBPROC, AttachObjectARB)                                           \
    X(PFNGLLINKPROGRAMARBPROC, LinkProgramARB)                                             \
    X(PFNGLUSEPROGRAMOBJECTARBPROC, UseProgramObjectARB)                                   \
    X(PFNGLVALIDATEPROGRAMARBPROC, ValidateProgramARB)                                     \
    X(PFNGLUNIFORM1FARBPROC, Uniform1fARB)                                                 \
    X(PFNGLUNIFORM2FARBPROC, Uniform2fARB)                                                 \
    X(PFNGLUNIFORM3FARBPROC, Uniform3fARB)                                                 \
    X(PFNGLUNIFORM4FARBPROC, Uniform4fARB)                                                 \
    X(PFNGLUNIFORM1IARBPROC, Uniform1iARB)                                                 \
    X(PFNGLUNIFORM2IARBPROC, Uniform2iARB)                                                 \
    X(PFNGLUNIFORM3IARBPROC, Uniform3iARB)                                                 \
    X(PFNGLUNIFORM4IARBPROC, Uniform4iARB)                                                 \
    X(PFNGLUNIFORM1FVARBPROC, Uniform1fvARB)                                               \
    X(PFNGLUNIFORM2FVARBPROC, Uniform2fvARB)                                               \
    X(PFNGLUNIFORM3FVARBPROC, Uniform3fvARB)                                               \
    X(PFNGLUNIFORM4FVARBPROC, Uniform4fvARB)                                               \
    X(PFNGLUNIFORM1IVARBPROC, Uniform1ivARB)                                               \
    X(PFNGLUNIFORMMATRIX2FVARBPROC, UniformMatrix2fvARB)                                   \
    X(PFNGLUNIFORMMATRIX3FVARBPROC, UniformMatrix3fvARB)                                   \
    X(PFNGLUNIFORMMATRIX4FVARBPROC, UniformMatrix4fvARB)                                   \
    X(PFNGLGETOBJECTPARAMETERFVARBPROC, GetObjectParameterfvARB)                           \
    X(PFNGLGETOBJECTPARAMETERIVARBPROC, GetObjectParameterivARB)                           \
    X(PFNGLGETINFOLOGARBPROC, GetInfoLogARB)                                               \
    X(PFNGLGETATTACHEDOBJECTSARBPROC, GetAttachedObjectsARB)                               \
    X(PFNGLGETUNIFORMLOCATIONARBPROC, GetUniformLocationARB)                               \
    X(PFNGLGETACTIVEUNIFORMARBPROC, GetActiveUniformARB)                                   \
    X(PFNGLGETUNIFORMFVARBPROC, GetUniformfvARB)                                           \
    X(PFNGLGETUNIFORMIVARBPROC, GetUniformivARB)                                           \
    X(PFNGLGETSHADERSOURCEARBPROC, GetShaderSourceARB)                                     \
    X(PFNGLVERTEXATTRIB4FARBPROC, VertexAttrib4fARB)                                       \
    X(PFNGLVERTEXATTRIBPOINTERARBPROC, VertexAttribPointerARB)                             \
    X(PFNGLENABLEVERTEXATTRIBARRAYARBPROC, EnableVertexAttribArrayARB)                     \
    X(PFNGLDISABLEVERTEXATTRIBARRAYARBPROC, DisableVertexAttribArrayARB)                   \
    X(PFNGLBINDATTRIBLOCATIONARBPROC, BindAttribLocationARB)                               \
    X(PFNGLGETACTIVEATTRIBARBPROC, GetActiveAttribARB)                                     \
    X(PFNGLGETATTRIBLOCATIONARBPROC, GetAttribLocationARB)                                 \
    X(PFNGLGETVERTEXATTRIBFVARBPROC, GetVertexAttribfvARB)                                 \
    X(PFNGLGETVERTEXATTRIBIVARBPROC, GetVertexAttribivARB)                                 \
    X(PFNGLGETVERTEXATTRIBPOINTERVARBPROC, GetVertexAttribPointervARB)

struct gl_entry_points {
#define KESSRIG_GL_MEMBER(type, name) type name = nullptr;
    KESSRIG_GL_ENTRY_POINTS(KESSRIG_GL_MEMBER)
#undef KESSRIG_GL_MEMBER
};
extern gl_entry_points g_gl;

// Whether the space-separated list holds name as a whole word (a name with
// a blank in it never does; "GL_ARB_multitexture_extra" is not
// "GL_ARB_multitexture").
bool gl_extension_listed(const char* list, const char* name);

// Fills g_gl_caps from the current context's strings (logs the texture unit
// count) and loads g_gl. shaders_on and terrain_shader_on stay false: the
// start-up code sets them after shaders_init.
void gl_init_caps();

// The same from given strings and unit count, without a context (tests,
// and gl_init_caps itself).
void gl_fill_caps(gl_caps* caps, const char* vendor, const char* renderer, const char* version,
                  const char* extensions, int texture_units);

// Forgets what was read (frees the extension copy); the next context reads
// it again.
void gl_caps_reset();
