// Playback of packed tones on an ALSA PCM device. The device is opened and
// configured first, so that a tone can be made at the rate it runs at, then
// tones are played, and the device closed by whoever opened it. Nothing here
// prints or ends the program: failures are returned, for the caller to say.
#ifndef LARKHORN_AUDIO_PCM_H_
#define LARKHORN_AUDIO_PCM_H_

#include <cstdint>
#include <memory>
#include <string>

typedef struct _snd_pcm snd_pcm_t;

// An opened and configured playback device, for one tone or a held stream.
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

// What failed, opening a device (at which step) or writing to it, and the
// ALSA error code it gave: the one way this library reports a failure.
enum class PcmStep { Open, Format, Parameters, Write };
struct PcmError {
  PcmStep step = PcmStep::Open;
  int code = 0;
};

// Opens deviceName and configures signed 24-bit (3-byte) playback with the
// given channel count, or the nearest one the device takes, at sampleRate or
// the rate nearest it, with silence filled in behind what the device has
// played. device->rate is the rate the device settled on. False, with *err
// saying which step failed, when the device cannot be opened or configured;
// then nothing is left open.
bool OpenPcm(const std::string& deviceName, uint32_t sampleRate,
             int32_t channels, PcmDevice* device, PcmError* err);

// Gets the memory PLAY writes from; false when it cannot be had.
bool AllocateWriteBuffers(PcmDevice& device);

// A tone's packed frames as PLAY asks for them, in order: read(position,
// count, context) returns frames [position, position + count), count at
// most the device's buffer, valid until the next call. A whole tone in
// memory gives a pointer into it; a held tone makes them as it goes.
const int64_t kPlayUntilStopped = INT64_MAX;
struct FrameSource {
  int64_t frames = 0;  // how many the tone has, or kPlayUntilStopped
  const uint8_t* (*read)(int64_t position, long count, void* context) = nullptr;
  void* context = nullptr;
};

// The source of n frames already in packed.
FrameSource WholeTone(const uint8_t* packed, int64_t n);

// What playback consults as it goes. stopped, once true (it may look at a
// flag set from a signal handler), ends the tone at once and drops what is
// queued; progress, when given, is called at each wake-up with the seconds
// played and still to play (infinite for a tone played until stopped);
// underrun, when given, is told of each underrun as it is recovered from.
struct PlayControl {
  bool (*stopped)(void* context) = nullptr;
  void (*progress)(double secondsPlayed, double secondsLeft,
                   void* context) = nullptr;
  void (*underrun)(void* context) = nullptr;
  void* context = nullptr;
};

// Writes every frame of source to every channel of the device, in whole
// periods but for the tone's last part, and waits until they have played;
// each underrun is counted in *underruns (when given) and playback goes on.
// False, with *err saying why, for a device that failed or
// stopped taking frames; its stream is then dropped, as is a stopped one's.
// The device must have its write buffers.
bool PLAY(PcmDevice& device, const FrameSource& source,
          const PlayControl& control, int* underruns, PcmError* err);

// Makes a device whose stream was dropped take frames again.
bool PreparePcm(PcmDevice& device, PcmError* err);

// What the error's ALSA code says.
const char* PcmErrorText(const PcmError& error);

// Closes the device, dropping what it has not played.
void ClosePcm(PcmDevice& device);

#endif  // LARKHORN_AUDIO_PCM_H_
