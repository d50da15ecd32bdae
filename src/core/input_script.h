// Scripted input for tests of the running game: with the environment
// variable KZ_INPUT_SCRIPT naming a text file, the game posts the file's
// events into its input queue as if the player had pressed the keys, each
// at the start of the frame it names. With "--lock-fps" every frame is the
// same slice of simulated time, so a script lands on the same ticks on any
// machine. Nothing else reads the variable.
//
// One event per line: "FRAME KEY PRESSED" - the frame number (0 is the
// first frame of the frame loop), a key name as the configuration writes
// them ("_" for a space: "Right_Ctrl") or "#N" for the event code N (typed
// characters: "#9" is Tab, "#53" the digit 5), and 1 for a press or 0 for a
// release. "FRAME pointer X Y" puts the pointer at window pixel (X, Y).
// Blank lines and lines starting with "#" are skipped; a line
// that does not read is logged and skipped.
#pragma once

#include <cstddef>
#include <vector>

struct scripted_event {
    long frame = 0;
    int code = 0;
    int pressed = 0;
    bool pointer = false;  // a pointer move to (x, y) rather than a key
    int x = 0, y = 0;
};

struct input_script {
    std::vector<scripted_event> events;  // in frame order
    size_t next = 0;
};

// Reads the file; false when it cannot be opened.
bool input_script_load(input_script* s, const char* path);
// Reads the script text itself (the loader and the tests).
void input_script_parse(input_script* s, const char* text);
// Posts every event of the frames up to frame not posted yet.
void input_script_post(input_script* s, long frame);
