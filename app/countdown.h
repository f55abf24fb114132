// A status line on standard error while a tone plays: its frequency, the
// seconds left (or, for a held tone, the seconds held) and how to stop it.
// Shown only when standard error is a terminal; standard output never carries
// it.
#ifndef LARKHORN_APP_COUNTDOWN_H_
#define LARKHORN_APP_COUNTDOWN_H_

#include <string>

// How a tone is stopped, said at the end of its status: a one-shot tone, and
// one held in the console.
extern const char kCtrlCStops[];
extern const char kCtrlCSilencesXEnds[];

// The status of a tone held for secondsHeld (whole seconds shown), ending
// with how to stop it: "440.00 Hz  held 12 s  (Ctrl-C to stop)".
std::string HeldStatus(float frequency, double secondsHeld,
                       const char* howToStop);

struct Countdown {
  bool shown = false;
  float frequency = 0;
  double totalSeconds = 0;
  double lastDrawn = -1;  // monotonic seconds
};

// totalSeconds is infinite for a tone held until stopped.
Countdown StartCountdown(float frequency, double totalSeconds);

// Redraws the line of countdown (a Countdown*) with the seconds left, or
// held, about four times a second at most; the form playback reports
// progress in.
void UpdateCountdown(double secondsPlayed, double secondsLeft, void* countdown);

// Clears the line, if shown, for a line of output: it is drawn again at the
// next update.
void ClearCountdown(const Countdown& countdown);

void EraseCountdown(Countdown& countdown);

#endif  // LARKHORN_APP_COUNTDOWN_H_
