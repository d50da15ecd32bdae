// Screenshots: "screenshotNNN.png" in the home directory, numbered on from
// the highest number already among the data files, so that pictures of
// earlier runs (or ones copied in by hand, of any picture format) are never
// overwritten.
#pragma once

enum { SCREENSHOT_NAME_MAX = 32 };

struct screenshot_counter {
    int next = 0;  // 0: not yet looked up
};

// The number after the highest n among names (a null-terminated list of
// data file names) that begin with "screenshot" (any case) directly followed
// by the decimal number n, whatever follows it; 1 when there is none.
// Numbers of more than nine digits are not screenshots of this program and
// are passed over, so the count can never overflow.
int first_screenshot_number(const char* const* names);

// "screenshot%03d.png" for number n (more digits above 999).
void screenshot_name(int n, char out[SCREENSHOT_NAME_MAX]);

// Saves rows of RGB bytes (bottom row first, as the frame buffer is read
// back) as the next screenshot of the
// home directory, looking the number up in the data file list on first
// use. Adds "Saved \"screenshot%03d.png\"", or "Can't save \"...\"" when
// the file cannot be written (the number is used up either way). Returns
// whether it was saved.
bool save_screenshot(screenshot_counter* counter, const unsigned char* rgb, int width, int height);
