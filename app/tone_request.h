// The tone request: how many frames a tone has, and playing one tone from
// the settings, whole or held until it is stopped.
#ifndef LARKHORN_APP_TONE_REQUEST_H_
#define LARKHORN_APP_TONE_REQUEST_H_

#include <cstdint>

#include "app/settings.h"

// Frames in a tone of the given length: truncated, never negative.
int32_t FrameCount(uint32_t sampleRate, float lengthSeconds);

// Opens the device, makes one tone from settings at the rate the device
// settled on (sampleRate comes back as that rate) and plays it. A signal
// during the tone ends the program after closing the device, except Ctrl-C
// in the console, which stops the tone alone; a device that cannot be set
// up ends the program with status 1 after a message, and so does one that
// fails while the tone plays, the device closed. Returns false when the
// tone's memory cannot be had (nothing is played).
//
// With hold, a one-shot tone plays until a signal ends it. In the console
// it returns once the tone has started: the tone sounds on while the menu
// reads, the next request switches to its tone at the end of a whole cycle
// of this one (the device kept open when it is the same), and Ctrl-C
// silences it. At a terminal the line being typed shows it, held, at its
// right.
bool PlayTone(ToneSettings& settings);

// Silences a tone held in the console and closes its device; a signal that
// came meanwhile and ends the program does so now.
void EndHeldTone();

#endif  // LARKHORN_APP_TONE_REQUEST_H_
