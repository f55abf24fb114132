// A status line on standard error while a tone plays: its frequency, the
// seconds left and how to stop it. Shown only when standard error is a
// terminal; standard output never carries it.
#ifndef LARKHORN_APP_COUNTDOWN_H_
#define LARKHORN_APP_COUNTDOWN_H_

struct Countdown {
  bool shown = false;
  float frequency = 0;
  double totalSeconds = 0;
  double lastDrawn = -1;  // monotonic seconds
};

Countdown StartCountdown(float frequency, double totalSeconds);

// Redraws the line of countdown (a Countdown*) with the seconds left, about
// four times a second at most; the form playback reports progress in.
void UpdateCountdown(double secondsLeft, void* countdown);

void EraseCountdown(Countdown& countdown);

#endif  // LARKHORN_APP_COUNTDOWN_H_
