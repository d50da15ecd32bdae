// Pictures of what the player sees, read back from the finished frame
// before it is presented: "--record-video" writes every frame to standard
// output as a binary PPM picture, and the screenshot key saves the next
// frame as a PNG file. One read-back serves both.
#pragma once

#include <cstdio>
#include <vector>

#include "core/screenshot.h"

struct frame_capture {
    bool video = false;   // "--record-video", until the reader goes away
    FILE* out = stdout;   // where the video goes
    std::vector<unsigned char> pixels;  // the last read-back, bottom row first
};

// Writes the frame read back into c->pixels as "P6\n%d %d\n255\n" and the
// rows from the top down. A reader that closed the pipe (or any failed
// write) ends the recording with the message "Video recording stopped
// (%s)" and the error; the game goes on. SIGPIPE must be ignored for that.
bool write_video_frame(frame_capture* c, int width, int height);

// The capture of one drawn frame: reads the frame buffer back when a video
// frame or a screenshot wants it, writes the video frame when video_frame
// is set and saves the screenshot when *screenshot is set (and clears it).
void capture_frame(frame_capture* c, int width, int height, bool video_frame, bool* screenshot,
                   screenshot_counter* counter);
