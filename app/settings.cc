#include "app/settings.h"

#include <cmath>
#include <cstdlib>

float ClampLength(float seconds) {
  if (seconds > 120.0f) return 120.0f;
  if (!(seconds >= 1.0f)) return 1.0f;
  return seconds;
}

void ParseCommandLine(int argc, const char* const* argv,
                      ToneSettings& settings) {
  if (argc >= 2) {
    settings.frequency = static_cast<float>(strtod(argv[1], nullptr));
    settings.oneShot = true;
  }
  if (argc >= 3) {
    settings.lengthSeconds =
        ClampLength(static_cast<float>(strtod(argv[2], nullptr)));
  }
  if (argc == 4) settings.deviceName = argv[3];
}
