// Playback of one packed tone on an ALSA PCM device.
#ifndef LARKHORN_AUDIO_PCM_H_
#define LARKHORN_AUDIO_PCM_H_

#include <cstdint>
#include <string>

// Opens deviceName, configures signed 24-bit (3-byte) playback with the
// given channel count at sampleRate, writes all n frames of packed to every
// channel, drains and closes. sampleRate comes back as the rate the device
// accepted. A device that cannot be opened, configured or written to ends
// the process with status 1 after a message.
void PLAY(const std::string& deviceName, uint32_t& sampleRate, int32_t channels,
          int32_t n, const uint8_t* packed);

#endif  // LARKHORN_AUDIO_PCM_H_
