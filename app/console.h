// The interactive menu: reads commands and numbers from a stream and plays
// tones through the request it is given.
#ifndef LARKHORN_APP_CONSOLE_H_
#define LARKHORN_APP_CONSOLE_H_

#include <cstdio>

#include "app/settings.h"

// What the console calls to play a tone: PlayTone, or a stand-in that plays
// nothing when the console is driven without sound.
using ToneRequest = bool (*)(ToneSettings& settings);

// Runs the interactive menu, reading whitespace-separated commands from in,
// until `x` or the end of input. Prompts and menus go to standard output.
// When in and standard output are terminals, lines are read through the
// line editor; otherwise in is read as it is.
void RunConsole(ToneSettings& settings, FILE* in, ToneRequest playTone);

#endif  // LARKHORN_APP_CONSOLE_H_
