// Playback of one packed tone on an ALSA PCM device. The device is opened
// and configured first, so that the tone can be made at the rate it runs at,
// then the tone is played, and the device closed by whoever opened it.
#ifndef LARKHORN_AUDIO_PCM_H_
#define LARKHORN_AUDIO_PCM_H_

#include <csignal>
#include <cstdint>
#include <memory>
#include <string>

typedef struct _snd_pcm snd_pcm_t;

// An opened and configured playback device, for the length of one tone.
struct PcmDevice {
  snd_pcm_t* pcm = nullptr;
  bool interleaved = false;  // the device refused non-interleaved access
  int32_t channels = 0;      // as many as the device took
  uint32_t rate = 0;
  unsigned long periodFrames = 0;
  unsigned long bufferFrames = 0;
  // What writes are made from besides the tone: a buffer's worth of
  // interleaved frames, or a pointer per channel.
  std::unique_ptr<uint8_t[]> interleavedFrames;
  std::unique_ptr<void*[]> channelPointers;
};

// Opens deviceName and configures signed 24-bit (3-byte) playback with the
// given channel count, or the nearest one the device takes, at sampleRate or
// the rate nearest it, with silence filled in behind what the device has
// played. sampleRate comes back as the device's rate, after a warning on
// standard output when it differs. A device that cannot be opened or
// configured ends the process with status 1 after a message.
PcmDevice OpenPcm(const std::string& deviceName, uint32_t& sampleRate,
                  int32_t channels);

// Gets the memory PLAY writes from; false when it cannot be had.
bool AllocateWriteBuffers(PcmDevice& device);

// What playback consults as it goes. stop, once nonzero (it is set from a
// signal handler), ends the tone at once and drops what is queued; progress,
// when given, is called at each wake-up with the seconds still to play.
struct PlayControl {
  const volatile sig_atomic_t* stop = nullptr;
  void (*progress)(double secondsLeft, void* context) = nullptr;
  void* context = nullptr;
};

// Writes all n frames of packed to every channel of the device, in whole
// periods but for the tone's last part, and waits until they have played.
// Prints "RX" for each underrun, and goes on. Returns 0, or the negative
// ALSA error code of a device that failed or stopped taking frames, its
// stream dropped. The device must have its write buffers.
int PLAY(PcmDevice& device, int32_t n, const uint8_t* packed,
         const PlayControl& control = {});

// What a negative ALSA error code says.
const char* PcmErrorText(int error);

// Closes the device, dropping what it has not played.
void ClosePcm(PcmDevice& device);

#endif  // LARKHORN_AUDIO_PCM_H_
