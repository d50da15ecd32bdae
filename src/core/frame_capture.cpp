#include "core/frame_capture.h"

#include <GL/gl.h>

#include <cerrno>
#include <cstring>

#include "core/messages.h"

bool write_video_frame(frame_capture* c, int width, int height)
{
    if (!c->video || width <= 0 || height <= 0)
        return false;
    const size_t row = (size_t)width * 3;
    if (c->pixels.size() < row * (size_t)height)
        return false;
    bool ok = fprintf(c->out, "P6\n%d %d\n255\n", width, height) > 0;
    for (int y = height - 1; y >= 0 && ok; y--)
        ok = fwrite(c->pixels.data() + row * (size_t)y, 1, row, c->out) == row;
    if (ok)
        ok = fflush(c->out) == 0;
    if (!ok) {
        // Whoever read the video has gone (or the disk is full): the
        // recording ends, the ride does not.
        const int error = errno;
        c->video = false;
        add_message("Video recording stopped (%s)", error ? strerror(error) : "write failed");
        clearerr(c->out);
    }
    return ok;
}

void capture_frame(frame_capture* c, int width, int height, bool video_frame, bool* screenshot,
                   screenshot_counter* counter)
{
    const bool video = video_frame && c->video;
    if ((!video && !*screenshot) || width <= 0 || height <= 0)
        return;
    c->pixels.resize((size_t)width * 3 * (size_t)height);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, c->pixels.data());
    if (video)
        write_video_frame(c, width, height);
    if (*screenshot) {
        *screenshot = false;
        save_screenshot(counter, c->pixels.data(), width, height);
    }
}
