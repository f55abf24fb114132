#include "audio/devices.h"

#include <alsa/asoundlib.h>

#include <cstdlib>

namespace {

const char kDefaultOutput[] = "Default ALSA output";
const char kDefaultInput[] = "Default ALSA input";

// One field of a hint; empty when the hint has none.
std::string HintField(const void* hint, const char* field) {
  char* value = snd_device_name_get_hint(hint, field);
  if (value == nullptr) return "";
  std::string text = value;
  free(value);
  return text;
}

// Hint descriptions may run over several lines; a list wants one.
std::string OneLine(const std::string& text) {
  std::string line;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) {
      if (!line.empty()) line += ", ";
      line.append(text, start, end - start);
    }
    start = end + 1;
  }
  return line;
}

// The hinted PCMs for one direction ("Output" or "Input"), `default`
// first.
std::vector<HintedDevice> HintedDevices(const std::string& wanted,
                                        const char* defaultDescription) {
  std::vector<HintedDevice> devices = {{"default", defaultDescription}};
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0) return devices;
  for (void** hint = hints; *hint != nullptr; ++hint) {
    const std::string name = HintField(*hint, "NAME");
    const std::string direction = HintField(*hint, "IOID");
    // A hint without a direction serves both.
    if (name.empty() || (!direction.empty() && direction != wanted)) {
      continue;
    }
    const std::string description = OneLine(HintField(*hint, "DESC"));
    if (name == "default") {
      if (!description.empty()) devices[0].description = description;
    } else {
      devices.push_back({name, description});
    }
  }
  snd_device_name_free_hint(hints);
  return devices;
}

}  // namespace

std::vector<HintedDevice> PlaybackDevices() {
  return HintedDevices("Output", kDefaultOutput);
}

std::vector<HintedDevice> CaptureDevices() {
  return HintedDevices("Input", kDefaultInput);
}
