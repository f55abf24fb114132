#include "app/listen_request.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "app/interrupt.h"

namespace {

// The needle's scale: this many cents each side, a cell for each step.
const int kScaleCents = 50;
const int kCentsPerCell = 5;

// printf's %+.1f, with no sign flip to "-0.0" for a hair below zero.
double Rounded(double value, double step) {
  const double rounded = std::round(value / step) * step;
  return rounded == 0 ? 0 : rounded;
}

// A message for the terminal or a script, then the status line starts
// afresh.
void Say(const std::string& message, bool statusShown) {
  if (statusShown) fputs("\n", stdout);
  fflush(stdout);
  fprintf(stderr, "larkhorn: %s\n", message.c_str());
}

// The terminal's columns now, as it may have been resized; any width for
// one that does not say.
size_t TerminalWidth() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) {
    return SIZE_MAX;
  }
  return size.ws_col;
}

}  // namespace

std::string LostSoundMessage(unsigned overruns) {
  return "sound was lost " +
         (overruns == 1 ? std::string("once")
                        : std::to_string(overruns) + " times") +
         ", read too late from the device; the readings after began afresh";
}

std::string ReadingLine(double seconds, const PitchReading& reading,
                        const TunedPitch& tuned) {
  char line[128];
  if (!reading.found) {
    snprintf(line, sizeof line, "%.2f\t%s\n", seconds, kNoPitch);
  } else {
    snprintf(line, sizeof line, "%.2f\t%s\t%+.2f\t%.3f\n", seconds,
             tuned.note.c_str(), Rounded(tuned.cents, 0.01), reading.hz);
  }
  return line;
}

std::string StatusLine(const PitchReading& reading, const TunedPitch& tuned,
                       size_t width) {
  // Nothing but the dash: the rest of the line is cleared as it is drawn.
  if (!reading.found) return width > 1 ? kNoPitch : "";
  const int half = kScaleCents / kCentsPerCell;
  const double shown = std::clamp(Rounded(tuned.cents, 0.1), -99999.9, 99999.9);
  char cents[32];
  snprintf(cents, sizeof cents, "%+8.1f cents", shown);
  char hz[32];
  snprintf(hz, sizeof hz, "%9.3f Hz", std::min(reading.hz, 99999.999));
  std::string scale(2 * half + 1, '.');
  scale[half] = '|';
  const int cell =
      std::clamp(int(std::lround(shown / kCentsPerCell)), -half, half);
  scale[half + cell] = '#';
  char named[16];
  snprintf(named, sizeof named, "%-4s", tuned.note.c_str());
  // The widest that fits: a character short of the width, since a line
  // that fills it leaves the cursor where the next redraw would wrap. The
  // needle's words, the needle and the frequency give way in turn.
  const std::string first = std::string(named) + " " + cents;
  const std::string lines[] = {
      first + " " + hz + "  flat [" + scale + "] sharp",
      first + " " + hz + "  [" + scale + "]", first + " " + hz, first};
  const size_t room = width > 0 ? width - 1 : 0;
  for (const std::string& line : lines) {
    if (line.size() <= room) return line;
  }
  return first.substr(0, room);
}

int Listen(const ToneSettings& settings) {
  // From here on a signal lets the device be closed first.
  CatchToneSignals();
  const volatile sig_atomic_t* stop = ToneSignalFlag();
  const bool terminal = isatty(STDOUT_FILENO) == 1;
  CaptureDevice device;
  PitchDetector detector;
  std::string err;
  bool ok = OpenCapture(settings.deviceName, &device, &err) &&
            MakePitchDetector(device.rate, &detector, &err);
  if (!ok) err = kCannotListen + Printable(settings.deviceName) + ": " + err;
  bool statusShown = false;
  std::vector<float> sound(std::max<unsigned long>(device.periodFrames, 1));
  // Readings fall on whole frames: reading k at frame k * rate / 10.
  const double frames = settings.listenSeconds * device.rate;
  uint64_t heard = 0;
  for (uint64_t k = 1; ok && !*stop; ++k) {
    const uint64_t next = k * device.rate / kReadingsPerSecond;
    if (double(next) > frames) break;
    while (ok && heard < next && !*stop) {
      size_t got = 0;
      const unsigned overruns = device.overruns;
      ok = ReadCapture(device, sound.data(),
                       std::min<uint64_t>(sound.size(), next - heard), &got,
                       stop, &err);
      if (!ok) err = kCaptureFailed + err;
      // Sound before a gap is no part of the note after it.
      if (device.overruns != overruns) detector.history.clear();
      AddSound(detector, sound.data(), got);
      heard += got;
    }
    if (!ok || heard < next) break;
    const PitchReading reading = MeasurePitch(detector);
    const TunedPitch tuned =
        reading.found ? TunePitch(settings, reading.hz) : TunedPitch();
    const double seconds = double(k) / kReadingsPerSecond;
    if (terminal) {
      printf("\r%s\033[K", StatusLine(reading, tuned, TerminalWidth()).c_str());
      statusShown = true;
    } else {
      fputs(ReadingLine(seconds, reading, tuned).c_str(), stdout);
    }
    fflush(stdout);
  }
  // The rest of the sound the device holds goes unread.
  CloseCapture(device);
  if (!ok) {
    Say(err, statusShown);
    statusShown = false;
  }
  if (device.overruns > 0) {
    Say(LostSoundMessage(device.overruns), statusShown);
    statusShown = false;
  }
  if (statusShown) fputs("\n", stdout);
  fflush(stdout);
  const int signal = ReleaseToneSignals();
  if (signal != 0) EndBySignal(signal);
  return ok ? 0 : 1;
}
