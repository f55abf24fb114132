#include "app/settings.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/devices.h"

float ToSingle(double value) {
  // Halfway between FLT_MAX and the next power of two rounds to infinity.
  const double overflow = 0x1.ffffffp127;
  if (value >= overflow) return INFINITY;
  if (value <= -overflow) return -INFINITY;
  return static_cast<float>(value);
}

float ClampLength(float seconds) {
  if (seconds > 120.0f) return 120.0f;
  if (!(seconds >= 1.0f)) return 1.0f;
  return seconds;
}

std::string InfoText(int argc, const char* const* argv) {
  if (argc != 2) return "";
  if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0) {
    return "larkhorn <frequency in Hz> <time in seconds> <soundcard device>\n"
           "Without arguments larkhorn runs an interactive menu; enter h there "
           "for help.\n"
           "To record a WAV file instead, give the device as "
           "file:NAME.wav,wav\n"
           "larkhorn --list-devices lists the soundcard device names\n";
  }
  if (strcmp(argv[1], "--list-devices") == 0) {
    std::string text;
    for (const HintedDevice& device : PlaybackDevices()) {
      text += device.name;
      if (!device.description.empty()) text += "  " + device.description;
      text += "\n";
    }
    return text;
  }
  if (strcmp(argv[1], "--version") == 0)
    return "Larkhorn " LARKHORN_VERSION "\n";
  return "";
}

int PrintInfo(int argc, const char* const* argv) {
  const std::string text = InfoText(argc, argv);
  if (text.empty()) return -1;
  // A full disk or closed pipe must not pass for success.
  const bool written = fputs(text.c_str(), stdout) >= 0 && fflush(stdout) == 0;
  return written ? 0 : 1;
}

void ParseCommandLine(int argc, const char* const* argv,
                      ToneSettings& settings) {
  if (argc >= 2) {
    settings.frequency = ToSingle(strtod(argv[1], nullptr));
    settings.oneShot = true;
  }
  if (argc >= 3) {
    settings.lengthSeconds = ClampLength(ToSingle(strtod(argv[2], nullptr)));
  }
  if (argc == 4) settings.deviceName = argv[3];
}
