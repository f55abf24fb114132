// The tone request: how many frames a tone has, and playing one whole tone
// from the settings.
#ifndef LARKHORN_APP_TONE_REQUEST_H_
#define LARKHORN_APP_TONE_REQUEST_H_

#include <cstdint>

#include "app/settings.h"

// Frames in a tone of the given length: truncated, never negative.
int32_t FrameCount(uint32_t sampleRate, float lengthSeconds);

// Opens the device, makes one tone from settings at the rate the device
// settled on (sampleRate comes back as that rate) and plays it. A signal
// during the tone ends the program after closing the device, except Ctrl-C
// in the console, which stops the tone alone; a device that fails while
// the tone plays ends it with status 1 after a message, the device closed.
// Returns false when the tone's memory cannot be had (nothing is played).
bool PlayTone(ToneSettings& settings);

#endif  // LARKHORN_APP_TONE_REQUEST_H_
