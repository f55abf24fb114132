#include "app/countdown.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

const double kRedrawSeconds = 0.25;

double MonotonicSeconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

}  // namespace

const char kCtrlCStops[] = "Ctrl-C to stop";
const char kCtrlCSilencesXEnds[] = "Ctrl-C silences, x ends";

std::string HeldStatus(float frequency, double secondsHeld,
                       const char* howToStop) {
  char text[128];
  snprintf(text, sizeof text, "%.2f Hz  held %.0f s  (%s)", frequency,
           std::floor(std::max(secondsHeld, 0.0)), howToStop);
  return text;
}

Countdown StartCountdown(float frequency, double totalSeconds) {
  Countdown countdown;
  countdown.shown = isatty(STDERR_FILENO) == 1;
  countdown.frequency = frequency;
  countdown.totalSeconds = totalSeconds;
  UpdateCountdown(0, totalSeconds, &countdown);
  return countdown;
}

void UpdateCountdown(double secondsPlayed, double secondsLeft,
                     void* countdown) {
  Countdown& line = *static_cast<Countdown*>(countdown);
  if (!line.shown) return;
  const double now = MonotonicSeconds();
  if (line.lastDrawn >= 0 && now - line.lastDrawn < kRedrawSeconds) return;
  line.lastDrawn = now;
  // Clearing to the end of the line removes what a longer line left.
  if (std::isinf(line.totalSeconds)) {
    fprintf(stderr, "\r%s\033[K",
            HeldStatus(line.frequency, secondsPlayed, kCtrlCStops).c_str());
    fflush(stderr);
    return;
  }
  fprintf(stderr, "\r%.2f Hz  %.1f s left of %.1f s  (%s)\033[K",
          line.frequency, std::max(secondsLeft, 0.0), line.totalSeconds,
          kCtrlCStops);
  fflush(stderr);
}

void ClearCountdown(const Countdown& countdown) {
  if (countdown.shown) fputs("\r\033[K", stderr);
}

void EraseCountdown(Countdown& countdown) {
  if (!countdown.shown) return;
  fprintf(stderr, "\r\033[K");
  fflush(stderr);
}
