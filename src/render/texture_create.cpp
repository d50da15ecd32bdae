// The GL upload of a texture's mip chain.
#include <cstddef>

#include "render/gl_caps.h"
#include "render/picture.h"
#include "render/texture.h"

unsigned long texture_memory = 0;
int texture_generation = 0;

unsigned texture_create(const unsigned char* chain, int width, int height, int channels, int flags)
{
    if (!chain || width <= 0 || height <= 0 || (channels != 3 && channels != 4))
        return 0;
    // Compressed formats came with GL 2 drivers; older ones fake them badly.
    const bool compress = (flags & texture_compress) && g_gl_caps.version_major >= 2;
    const GLenum format = channels == 4 ? GL_RGBA : GL_RGB;
    GLenum internal = format;
    if (compress)
        internal = channels == 4 ? GL_COMPRESSED_RGBA_ARB : GL_COMPRESSED_RGB_ARB;

    GLuint id = 0;
    glGenTextures(1, &id);
    glBindTexture(GL_TEXTURE_2D, id);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, (flags & texture_repeat_h) ? GL_REPEAT : GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, (flags & texture_repeat_v) ? GL_REPEAT : GL_CLAMP);
    // Edge clamping keeps the border colour out of clamped textures; a
    // driver without it gets nearest filtering, which hides the seam.
    while (glGetError() != GL_NO_ERROR) {
    }
    if (!(flags & texture_repeat_h))
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    if (!(flags & texture_repeat_v))
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    const bool nearest = glGetError() != GL_NO_ERROR;
    const bool single = (flags & texture_single_level) != 0;
    GLint min_filter;
    if (single)
        min_filter = nearest ? GL_NEAREST : GL_LINEAR;
    else
        min_filter = nearest ? GL_NEAREST_MIPMAP_NEAREST : GL_LINEAR_MIPMAP_NEAREST;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, min_filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);

    const int levels = single ? 1 : mip_level_count(width, height);
    if (single)
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    for (int level = 0; level < levels; level++) {
        int w, h;
        mip_level_size(width, height, level, &w, &h);
        const unsigned char* pixels = chain + mip_level_offset(width, height, channels, level);
        glTexImage2D(GL_TEXTURE_2D, level, (GLint)internal, w, h, 0, format, GL_UNSIGNED_BYTE, pixels);
        if (compress) {
            GLint bytes = 0;
            glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_COMPRESSED_IMAGE_SIZE_ARB, &bytes);
            texture_memory += (unsigned long)bytes;
        } else {
            texture_memory += (unsigned long)w * (unsigned long)h * (unsigned long)channels;
        }
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    return id;
}
