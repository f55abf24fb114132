// A status line on standard error while a tone plays: its frequency, the
// seconds left (or, for a held tone, the seconds held) and how to stop it.
// Shown only when standard error is a terminal; standard output never carries
// it.
#ifndef LARKHORN_APP_COUNTDOWN_H_
#define LARKHORN_APP_COUNTDOWN_H_

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
