// The playback and capture PCM devices that ALSA's device hints name, for
// listing them to the user.
#ifndef LARKHORN_AUDIO_DEVICES_H_
#define LARKHORN_AUDIO_DEVICES_H_

#include <string>
#include <vector>

struct HintedDevice {
  std::string name;
  std::string description;  // one line; may be empty
};

// The hinted PCMs that can play, `default` first (described even when the
// hints lack it or its description), the others in the hints' order.
std::vector<HintedDevice> PlaybackDevices();

// The same for the PCMs that can capture.
std::vector<HintedDevice> CaptureDevices();

#endif  // LARKHORN_AUDIO_DEVICES_H_
