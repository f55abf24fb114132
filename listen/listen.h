// Listening: capture from an ALSA device, and the pitch of what it hears.
// Nothing here prints or ends the program: a failure comes back as false
// with *err saying what went wrong, and the caller decides what to say.
#ifndef LARKHORN_LISTEN_LISTEN_H_
#define LARKHORN_LISTEN_LISTEN_H_

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct _snd_pcm snd_pcm_t;
struct fftw_plan_s;

// An opened capture device, for the length of one listening.
struct CaptureDevice {
  snd_pcm_t* pcm = nullptr;
  uint32_t rate = 0;
  int format = 0;  // a snd_pcm_format_t
  int channels = 0;
  size_t frameBytes = 0;
  unsigned long periodFrames = 0;
  unsigned long bufferFrames = 0;
  std::vector<uint8_t> raw;  // one read's frames as the device gives them
  unsigned overruns = 0;     // times sound was lost because reads were late
};

// Opens deviceName for capture in a format it takes (signed 32-, 24- or
// 16-bit, or float), with as few channels as it takes, at the rate nearest
// 48000 Hz that it runs at without resampling. *err says what the device
// refused; the caller names the device.
bool OpenCapture(const std::string& deviceName, CaptureDevice* device,
                 std::string* err);

// Waits for sound and reads up to maxFrames frames of it, the first channel
// only, as floats with 1.0 for full scale; *got says how many. Returns
// early, true and with what it has, once *stop is nonzero. An overrun is
// recovered from and counted; a device that gives nothing for ten seconds
// has failed.
bool ReadCapture(CaptureDevice& device, float* out, size_t maxFrames,
                 size_t* got, const volatile sig_atomic_t* stop,
                 std::string* err);

void CloseCapture(CaptureDevice& device);

// Turns count interleaved frames of a format (a snd_pcm_format_t: S16_LE,
// S24_3LE, S24_LE, S32_LE or FLOAT_LE) and channel count into the first
// channel's samples, 1.0 for full scale. False for another format.
bool FirstChannel(const uint8_t* frames, size_t count, int format, int channels,
                  float* out);

// What the detector heard at one moment.
struct PitchReading {
  bool found = false;  // a clear pitch; false for silence and noise
  double hz = 0;
  // How alike successive periods are, 0 to 1: 1 for a steady tone.
  double clarity = 0;
};

// The sound heard so far and what measuring it needs. Made by
// MakePitchDetector; fed by AddSound.
struct PitchDetector {
  uint32_t rate = 0;
  std::vector<float> history;  // the last seconds of sound, oldest first
  size_t windowFrames = 0;     // what the period is found in
  size_t fftFrames = 0;
  std::unique_ptr<double, void (*)(void*)> timeData{nullptr, nullptr};
  std::unique_ptr<double, void (*)(void*)> spectrum{nullptr, nullptr};
  std::unique_ptr<fftw_plan_s, void (*)(fftw_plan_s*)> forward{nullptr,
                                                               nullptr};
  std::unique_ptr<fftw_plan_s, void (*)(fftw_plan_s*)> backward{nullptr,
                                                                nullptr};
};

// The lowest and highest fundamentals the detector reports, in Hz; the
// highest is lower at rates below 10 kHz.
const double kLowestPitchHz = 25;
const double kHighestPitchHz = 4500;

// Readies detector for sound at rate (8000 to 384000 frames a second).
bool MakePitchDetector(uint32_t rate, PitchDetector* detector,
                       std::string* err);

// Adds count samples to what detector has heard.
void AddSound(PitchDetector& detector, const float* samples, size_t count);

// The pitch of the sound heard last: the period found where successive
// periods are most alike (McLeod's normalized square difference), checked
// against octave errors by its partials, then refined from how the phase of
// its lowest strong partial moves over up to a second of steady sound.
PitchReading MeasurePitch(PitchDetector& detector);

#endif  // LARKHORN_LISTEN_LISTEN_H_
