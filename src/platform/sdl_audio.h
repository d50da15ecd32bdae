// The real-time audio output: the software mixer fed to the sound card
// through SDL's audio callback, which is the mixing thread. Opened once at
// start-up (unless the game records or runs silent) and closed with
// close_audio (audio/audio_device.h).
#pragma once

#include "audio/audio_device.h"

// Opens the output named by the platform options: "dsnd" (a hardware
// mixer, not available here, so it falls through), then "waveout". Null
// when there is no sound card or both are switched off; the game then
// runs silent. Logs what it finds.
audio_device* open_audio();

// Fragments mixed ahead of playback for "sound-mixahead" milliseconds:
// 1/64 s each, at least 1 and at most 32.
int mixahead_fragments(int milliseconds);
