#include "audio/pcm.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <ctime>
#include <new>
#include <vector>

namespace {

const int kBytesPerSample = 3;
// A device that takes no frame for this long while the program waits on it
// is treated as gone, so a stalled stream can never hang the program.
const double kStallSeconds = 10.0;
// A device that keeps failing (an underrun, re-prepared, then another) and
// takes no frame meanwhile is dead well before that.
const double kDeadSeconds = 1.0;
// Between such repeated failures, rather than spin.
const double kRetrySeconds = 0.2;
// The most one turn of a loop counts towards those limits: a process that
// was stopped (Ctrl-Z) and continued has not been waiting on the device.
const double kMaxTurnSeconds = 0.5;
// How long the played-out tail may take beyond the device's own delay.
const double kPlayOutMarginSeconds = 1.0;
// While the tail plays out, how often the device's delay is looked at.
const double kPlayOutPollSeconds = 0.02;
// A wait for room lasts two buffers' time and a little, and at most
// kMaxWaitMs: ALSA restarts a wait that a signal interrupts, so a stop is
// seen only between waits.
const int kMaxWaitMs = 45;
const int kWaitMarginMs = 2;
const int kWaitBuffers = 2;

const int kPeriodFrames = 1024;
const int kBufferFrames = 2048;

double MonotonicSeconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

void Pause(double seconds) {
  timespec pause = {0, static_cast<long>(seconds * 1e9)};
  nanosleep(&pause, nullptr);
}

// Silence behind every frame played: a card that runs past the last frame
// written, at the end of a tone or in an underrun, then plays silence, not
// an earlier part of the tone. A device that refuses it plays on without.
void FillSilenceBehindPlayed(snd_pcm_t* pcm) {
  std::vector<unsigned char> block(snd_pcm_sw_params_sizeof(), 0);
  snd_pcm_sw_params_t* params =
      reinterpret_cast<snd_pcm_sw_params_t*>(block.data());
  snd_pcm_uframes_t boundary = 0;
  if (snd_pcm_sw_params_current(pcm, params) < 0 ||
      snd_pcm_sw_params_get_boundary(params, &boundary) < 0 ||
      snd_pcm_sw_params_set_silence_threshold(pcm, params, 0) < 0 ||
      snd_pcm_sw_params_set_silence_size(pcm, params, boundary) < 0) {
    return;
  }
  snd_pcm_sw_params(pcm, params);
}

// Time spent waiting on a device that takes nothing, and the failure it
// keeps repeating: what decides when the write loop gives up on it. A turn
// of the loop counts for at most kMaxTurnSeconds.
struct StallClock {
  double waited = 0;
  double turnStart = MonotonicSeconds();
  long failure = 0;  // the last failure since frames were taken, or 0
};

void StartTurn(StallClock& clock) { clock.turnStart = MonotonicSeconds(); }

double EndTurn(StallClock& clock) {
  clock.waited +=
      std::min(MonotonicSeconds() - clock.turnStart, kMaxTurnSeconds);
  return clock.waited;
}

void FramesTaken(StallClock& clock) {
  clock.waited = 0;
  clock.failure = 0;
}

void Failed(StallClock& clock, long error) {
  if (clock.failure != 0) {
    // A stream that fails again at once is not played: back off.
    Pause(kRetrySeconds);
  } else {
    // The time a dead device gets counts from its first failure.
    clock.waited = 0;
  }
  clock.failure = error;
}

// The error to give up with once the device has had its time, or 0.
long GiveUpError(const StallClock& clock) {
  if (clock.failure != 0)
    return clock.waited > kDeadSeconds ? clock.failure : 0;
  return clock.waited > kStallSeconds ? -EIO : 0;
}

bool Stopped(const PlayControl& control) {
  return control.stopped && control.stopped(control.context);
}

void Report(const PlayControl& control, double secondsPlayed,
            double secondsLeft) {
  if (control.progress) {
    control.progress(secondsPlayed, secondsLeft, control.context);
  }
}

// Brings the stream back after an underrun (counted, and told of) or a
// suspend by preparing it again; returns the error it cannot be brought
// back from, or 0.
long Recover(snd_pcm_t* pcm, long error, const PlayControl& control,
             int* underruns) {
  if (error == -EPIPE) {
    if (underruns) ++*underruns;
    if (control.underrun) control.underrun(control.context);
  } else if (error != -ESTRPIPE) {
    return error;
  }
  return std::min(snd_pcm_prepare(pcm), 0);
}

// The error a stream's state stands for. Some plugins (plug over a sound
// server, after the process was stopped) report an underrun only there:
// their waits return at once and their room stays 0.
long StateError(snd_pcm_t* pcm) {
  switch (snd_pcm_state(pcm)) {
    case SND_PCM_STATE_XRUN:
      return -EPIPE;
    case SND_PCM_STATE_SUSPENDED:
      return -ESTRPIPE;
    case SND_PCM_STATE_DISCONNECTED:
      return -ENODEV;
    default:
      return 0;
  }
}

// Waits until the device has room for a period, or a while; returns 0 or
// the error the wait or the stream's state reports.
long WaitForRoom(const PcmDevice& device) {
  const unsigned long bufferMs =
      1000 * device.bufferFrames / std::max<uint32_t>(device.rate, 1);
  const int timeoutMs = static_cast<int>(std::min<unsigned long>(
      kMaxWaitMs, kWaitMarginMs + kWaitBuffers * bufferMs));
  const int rc = snd_pcm_wait(device.pcm, timeoutMs);
  return rc < 0 ? rc : StateError(device.pcm);
}

// How many frames to write out of room free ones with remaining left:
// whole periods, ending on a period boundary of a stream that has had
// sincePrepare frames, so that each period interrupt finds a period free;
// the tone's last part whole. 0 means wait.
long FramesToWrite(long room, long remaining, long period, long sincePrepare) {
  if (remaining <= room) return remaining;
  const long boundary = (sincePrepare + room) / period * period;
  return std::max(boundary - sincePrepare, 0L);
}

// Writes frames [position, position + frames) and returns what the device
// took, or a negative error code.
long WriteFrames(const PcmDevice& device, const FrameSource& source,
                 int64_t position, long frames) {
  const uint8_t* first = source.read(position, frames, source.context);
  if (!device.interleaved) {
    // Every channel reads the same mono signal.
    void** pointers = device.channelPointers.get();
    std::fill(pointers, pointers + device.channels,
              const_cast<uint8_t*>(first));
    return snd_pcm_writen(device.pcm, pointers, frames);
  }
  uint8_t* out = device.interleavedFrames.get();
  for (long i = 0; i < frames; ++i) {
    for (int32_t c = 0; c < device.channels; ++c) {
      out = std::copy(first + kBytesPerSample * i,
                      first + kBytesPerSample * (i + 1), out);
    }
  }
  return snd_pcm_writei(device.pcm, device.interleavedFrames.get(), frames);
}

// Writes the source's frames as the device makes room. Returns 0 once all
// are written or a stop is seen, else the error to give up with.
long WriteTone(const PcmDevice& device, const FrameSource& source,
               const PlayControl& control, int* underruns) {
  snd_pcm_t* pcm = device.pcm;
  const long period = long(device.periodFrames);
  const int64_t n = source.frames;
  const double rate = std::max<uint32_t>(device.rate, 1);
  int64_t position = 0;
  long sincePrepare = 0;  // frames written since the stream was prepared
  StallClock clock;
  while (position < n && !Stopped(control)) {
    StartTurn(clock);
    const long remaining = long(std::min<int64_t>(n - position, LONG_MAX));
    long error = 0;
    const snd_pcm_sframes_t room = snd_pcm_avail(pcm);
    if (room < 0) {
      error = room;
    } else {
      const long queued = std::max(long(device.bufferFrames) - room, 0L);
      Report(control, double(std::max<int64_t>(position - queued, 0)) / rate,
             n == kPlayUntilStopped ? INFINITY
                                    : double(remaining + queued) / rate);
      // After an underrun room may count more than the buffer holds.
      const long frames =
          FramesToWrite(std::min(long(room), long(device.bufferFrames)),
                        remaining, period, sincePrepare);
      if (frames == 0) {
        error = WaitForRoom(device);
      } else {
        const long taken = WriteFrames(device, source, position, frames);
        if (taken > 0) {
          position += taken;
          sincePrepare += taken;
          FramesTaken(clock);
          continue;
        }
        error = taken;
      }
    }
    if (error < 0 && error != -EAGAIN && error != -EINTR) {
      const long lost = Recover(pcm, error, control, underruns);
      if (lost < 0) return lost;
      sincePrepare = 0;
      Failed(clock, error);
    }
    EndTurn(clock);
    const long giveUp = GiveUpError(clock);
    if (giveUp < 0) return giveUp;
  }
  return 0;
}

// Waits, within a bound, until what was written has played: once the
// device's delay and a margin have passed it is given up, and dropped at
// close. snd_pcm_drain is not used: some plugins' drains never return once
// their stream has run dry, whatever the blocking mode. Returns 0 when done
// or stopped, else the error that lost the last frames.
long WaitPlayedOut(const PcmDevice& device, int64_t frames,
                   const PlayControl& control) {
  snd_pcm_t* pcm = device.pcm;
  const double rate = std::max<uint32_t>(device.rate, 1);
  StallClock clock;
  double limit = -1;
  for (;;) {
    StartTurn(clock);
    if (Stopped(control)) return 0;
    snd_pcm_sframes_t delay = 0;
    const int rc = snd_pcm_delay(pcm, &delay);
    // A device that vanishes while the last frames play out has lost them;
    // one that has run dry has played everything written.
    if (snd_pcm_state(pcm) == SND_PCM_STATE_DISCONNECTED) return -ENODEV;
    if (rc == -EPIPE || snd_pcm_state(pcm) == SND_PCM_STATE_XRUN) return 0;
    if (rc < 0) return rc;
    if (delay <= 0) return 0;
    if (limit < 0) limit = delay / rate + kPlayOutMarginSeconds;
    Report(control, double(std::max<int64_t>(frames - delay, 0)) / rate,
           delay / rate);
    Pause(std::min(kPlayOutPollSeconds, delay / rate));
    if (EndTurn(clock) > limit) return 0;
  }
}

// Configures an opened device; false with *err at the step that failed.
bool ConfigurePcm(PcmDevice& device, uint32_t sampleRate, int32_t channels,
                  PcmError* err) {
  snd_pcm_t* pcm = device.pcm;
  std::vector<unsigned char> block(snd_pcm_hw_params_sizeof(), 0);
  snd_pcm_hw_params_t* params =
      reinterpret_cast<snd_pcm_hw_params_t*>(block.data());
  snd_pcm_hw_params_any(pcm, params);
  // Sound servers' ALSA devices often refuse non-interleaved access; feed
  // them interleaved frames instead of playing nothing. A device that
  // refuses both is told about after the format, which says more.
  int accessError = 0;
  if (snd_pcm_hw_params_set_access(pcm, params,
                                   SND_PCM_ACCESS_RW_NONINTERLEAVED) < 0) {
    accessError = snd_pcm_hw_params_set_access(pcm, params,
                                               SND_PCM_ACCESS_RW_INTERLEAVED);
    device.interleaved = true;
  }
  int rc = snd_pcm_hw_params_set_format(pcm, params, SND_PCM_FORMAT_S24_3LE);
  if (rc < 0) {
    *err = {PcmStep::Format, rc};
    return false;
  }
  if (accessError < 0) {
    *err = {PcmStep::Parameters, accessError};
    return false;
  }
  // A device with a fixed channel count gets the same signal on each.
  unsigned int channelCount = static_cast<unsigned int>(std::max(channels, 1));
  if (snd_pcm_hw_params_set_channels(pcm, params, channelCount) < 0) {
    snd_pcm_hw_params_set_channels_near(pcm, params, &channelCount);
  }
  unsigned int rate = sampleRate;
  snd_pcm_uframes_t periodFrames = kPeriodFrames;
  snd_pcm_uframes_t bufferFrames = kBufferFrames;
  snd_pcm_hw_params_set_rate_near(pcm, params, &rate, nullptr);
  snd_pcm_hw_params_set_period_size_near(pcm, params, &periodFrames, nullptr);
  snd_pcm_hw_params_set_buffer_size_near(pcm, params, &bufferFrames);
  rc = snd_pcm_hw_params(pcm, params);
  if (rc < 0) {
    *err = {PcmStep::Parameters, rc};
    return false;
  }

  // What was installed, not what was asked for.
  snd_pcm_hw_params_get_channels(params, &channelCount);
  snd_pcm_hw_params_get_rate(params, &rate, nullptr);
  snd_pcm_hw_params_get_period_size(params, &periodFrames, nullptr);
  snd_pcm_hw_params_get_buffer_size(params, &bufferFrames);
  device.channels = static_cast<int32_t>(channelCount);
  device.rate = rate;
  device.periodFrames = std::max<snd_pcm_uframes_t>(periodFrames, 1);
  device.bufferFrames = std::max<snd_pcm_uframes_t>(bufferFrames, 1);
  FillSilenceBehindPlayed(pcm);
  return true;
}

const uint8_t* ReadWhole(int64_t position, long, void* context) {
  return static_cast<const uint8_t*>(context) +
         kBytesPerSample * size_t(position);
}

}  // namespace

bool OpenPcm(const std::string& deviceName, uint32_t sampleRate,
             int32_t channels, PcmDevice* device, PcmError* err) {
  *device = PcmDevice();
  const int rc = snd_pcm_open(&device->pcm, deviceName.c_str(),
                              SND_PCM_STREAM_PLAYBACK, 0);
  if (rc < 0) {
    device->pcm = nullptr;
    *err = {PcmStep::Open, rc};
    return false;
  }
  if (!ConfigurePcm(*device, sampleRate, channels, err)) {
    ClosePcm(*device);
    return false;
  }
  return true;
}

bool AllocateWriteBuffers(PcmDevice& device) {
  const size_t channels = size_t(device.channels);
  if (device.interleaved) {
    device.interleavedFrames.reset(
        new (std::nothrow)
            uint8_t[device.bufferFrames * kBytesPerSample * channels]);
    return device.interleavedFrames != nullptr;
  }
  device.channelPointers.reset(new (std::nothrow) void*[channels]);
  return device.channelPointers != nullptr;
}

FrameSource WholeTone(const uint8_t* packed, int64_t n) {
  FrameSource source;
  source.frames = n;
  source.read = ReadWhole;
  source.context = const_cast<uint8_t*>(packed);
  return source;
}

bool PLAY(PcmDevice& device, const FrameSource& source,
          const PlayControl& control, int* underruns, PcmError* err) {
  long error = WriteTone(device, source, control, underruns);
  if (error == 0 && !Stopped(control) && source.frames > 0) {
    error = WaitPlayedOut(device, source.frames, control);
  }
  // What is still queued of a stopped tone is not played.
  if (error < 0 || Stopped(control)) snd_pcm_drop(device.pcm);
  if (error < 0) *err = {PcmStep::Write, static_cast<int>(error)};
  return error == 0;
}

bool PreparePcm(PcmDevice& device, PcmError* err) {
  const int rc = snd_pcm_prepare(device.pcm);
  if (rc < 0) *err = {PcmStep::Write, rc};
  return rc == 0;
}

const char* PcmErrorText(const PcmError& error) {
  return snd_strerror(error.code);
}

void ClosePcm(PcmDevice& device) {
  if (device.pcm) snd_pcm_close(device.pcm);
  device.pcm = nullptr;
  device.interleavedFrames.reset();
  device.channelPointers.reset();
}
