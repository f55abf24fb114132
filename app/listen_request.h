// Listening: what --listen does. It captures from the settings' device and
// reports the pitch heard ten times a second of sound, in the settings'
// tuning: at a terminal as one status line redrawn in place, otherwise as
// a line per reading for scripts.
#ifndef LARKHORN_APP_LISTEN_REQUEST_H_
#define LARKHORN_APP_LISTEN_REQUEST_H_

#include <cstddef>
#include <string>

#include "app/settings.h"
#include "listen/listen.h"

// Readings a second of captured sound.
const int kReadingsPerSecond = 10;

// Listening lasts at least one reading, or until stopped: for this word,
// inf, or no seconds given.
const double kShortestListenSeconds = 1.0 / kReadingsPerSecond;
const char kListenUntilStopped[] = "none";

// What is said before what the device or alsa-lib gives as the reason.
const char kCannotListen[] = "cannot listen on ";
const char kCaptureFailed[] = "capture failed: ";

// Said at the end when sound was lost overruns times (> 0) because it was
// read too late; the readings went on after each.
std::string LostSoundMessage(unsigned overruns);

// A reading for scripts: SECONDS, NOTE, CENTS and HZ separated by tabs
// ("%.2f\t%s\t%+.2f\t%.3f\n"), or SECONDS and a dash where there is no
// clear pitch.
std::string ReadingLine(double seconds, const PitchReading& reading,
                        const TunedPitch& tuned);

// What stands for the note where there is no clear pitch.
const char kNoPitch[] = "-";

// A reading for the terminal: the note, its cents with one decimal, the
// frequency and a needle from 50 cents flat to 50 sharp; the dash alone
// where there is no clear pitch. Shorter than width, so that a terminal
// that wide never wraps it: on a narrow one the needle's words, then the
// needle, then the frequency are left out.
std::string StatusLine(const PitchReading& reading, const TunedPitch& tuned,
                       size_t width);

// Listens for settings.listenSeconds of sound, or until a signal, which
// then ends the program after the device is closed, as for a tone. Returns
// the exit status: 0, or 1 after a message when the device cannot capture
// or fails.
int Listen(const ToneSettings& settings);

#endif  // LARKHORN_APP_LISTEN_REQUEST_H_
