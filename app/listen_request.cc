#include "app/listen_request.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
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
    snprintf(line, sizeof line, "%.2f\t-\n", seconds);
  } else {
    snprintf(line, sizeof line, "%.2f\t%s\t%+.2f\t%.3f\n", seconds,
             tuned.note.c_str(), Rounded(tuned.cents, 0.01), reading.hz);
  }
  return line;
}

std::string StatusLine(const PitchReading& reading, const TunedPitch& tuned) {
  const int half = kScaleCents / kCentsPerCell;
  std::string scale(2 * half + 1, ' ');
  // Blank fields as wide as the numbers they stand for.
  char cents[32] = "              ";
  char hz[32] = "            ";
  const char* note = "-";
  if (reading.found) {
    note = tuned.note.c_str();
    const double shown =
        std::clamp(Rounded(tuned.cents, 0.1), -99999.9, 99999.9);
    snprintf(cents, sizeof cents, "%+8.1f cents", shown);
    snprintf(hz, sizeof hz, "%9.3f Hz", std::min(reading.hz, 99999.999));
    scale.assign(2 * half + 1, '.');
    scale[half] = '|';
    const int cell =
        std::clamp(int(std::lround(shown / kCentsPerCell)), -half, half);
    scale[half + cell] = '#';
  }
  char line[160];
  snprintf(line, sizeof line, "%-4s %s %s  flat [%s] sharp", note, cents, hz,
           scale.c_str());
  return line;
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
      printf("\r%s\033[K", StatusLine(reading, tuned).c_str());
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
