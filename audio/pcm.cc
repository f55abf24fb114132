#include "audio/pcm.h"

#include <alsa/asoundlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
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

// A status line may stand on the terminal; what follows starts afresh.
void ClearStatusLine() {
  if (isatty(STDERR_FILENO) == 1) fputs("\r\033[K", stderr);
}

// Closing the device lets a recording through ALSA's file plugin keep what
// it got (its header is written at close).
[[noreturn]] void FailWrite(snd_pcm_t* pcm, long err) {
  fflush(stdout);
  ClearStatusLine();
  fprintf(stderr, "unable to write to pcm device: %s\n",
          snd_strerror(static_cast<int>(err)));
  snd_pcm_drop(pcm);
  snd_pcm_close(pcm);
  exit(1);
}

[[noreturn]] void FailSetUp(int err) {
  fprintf(stderr, "unable to set hw parameters: %s\n", snd_strerror(err));
  exit(1);
}

double MonotonicSeconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

void Pause(double seconds) {
  timespec pause = {0, static_cast<long>(seconds * 1e9)};
  nanosleep(&pause, nullptr);
}

// Time spent waiting on a device that takes nothing; a turn of the loop
// counts for at most kMaxTurnSeconds.
struct StallClock {
  double waited = 0;
  double turnStart = MonotonicSeconds();
};

void StartTurn(StallClock& clock) { clock.turnStart = MonotonicSeconds(); }

double EndTurn(StallClock& clock) {
  clock.waited +=
      std::min(MonotonicSeconds() - clock.turnStart, kMaxTurnSeconds);
  return clock.waited;
}

// Brings the stream back after err and tells whether it was re-prepared;
// ends the process when it cannot be recovered.
bool Recover(snd_pcm_t* pcm, long err) {
  if (err == -EAGAIN || err == -EINTR) return false;
  if (err == -EPIPE) {
    ClearStatusLine();
    printf("RX\n");
  } else if (err != -ESTRPIPE) {
    FailWrite(pcm, err);
  }
  int rc = snd_pcm_prepare(pcm);
  if (rc < 0) FailWrite(pcm, rc);
  return true;
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

// Writes frames [position, position + frames) and returns what the device
// took, or a negative error code.
long WriteFrames(const PcmDevice& device, const uint8_t* packed,
                 int32_t position, long frames,
                 std::vector<void*>* channelPointers,
                 std::vector<uint8_t>* chunk) {
  const uint8_t* first = packed + kBytesPerSample * size_t(position);
  if (!device.interleaved) {
    // Every channel reads the same mono signal.
    std::fill(channelPointers->begin(), channelPointers->end(),
              const_cast<uint8_t*>(first));
    return snd_pcm_writen(device.pcm, channelPointers->data(), frames);
  }
  const size_t frameBytes = kBytesPerSample * size_t(device.channels);
  frames = std::min<long>(frames, long(chunk->size() / frameBytes));
  uint8_t* out = chunk->data();
  for (long i = 0; i < frames; ++i) {
    for (int32_t c = 0; c < device.channels; ++c) {
      out = std::copy(first + kBytesPerSample * i,
                      first + kBytesPerSample * (i + 1), out);
    }
  }
  return snd_pcm_writei(device.pcm, chunk->data(), frames);
}

bool Stopped(const PlayControl& control) {
  return control.stop && *control.stop;
}

void Report(const PlayControl& control, double secondsLeft) {
  if (control.progress) control.progress(secondsLeft, control.context);
}

bool Disconnected(snd_pcm_t* pcm) {
  return snd_pcm_state(pcm) == SND_PCM_STATE_DISCONNECTED;
}

// Waits, within a bound, until what was written has played: once the
// device's delay and a margin have passed it is given up, and dropped at
// close. snd_pcm_drain is not used: some plugins' drains never return once
// their stream has run dry, whatever the blocking mode. False when control
// stopped it.
bool WaitPlayedOut(const PcmDevice& device, const PlayControl& control) {
  snd_pcm_t* pcm = device.pcm;
  const double rate = std::max<uint32_t>(device.rate, 1);
  StallClock clock;
  double limit = -1;
  for (;;) {
    StartTurn(clock);
    if (Stopped(control)) return false;
    snd_pcm_sframes_t delay = 0;
    const int rc = snd_pcm_delay(pcm, &delay);
    // A device that vanishes while the last frames play out has lost them;
    // one that has run dry has played everything written.
    if (Disconnected(pcm)) FailWrite(pcm, -ENODEV);
    if (rc == -EPIPE || snd_pcm_state(pcm) == SND_PCM_STATE_XRUN) return true;
    if (rc < 0) FailWrite(pcm, rc);
    if (delay <= 0) return true;
    if (limit < 0) limit = delay / rate + kPlayOutMarginSeconds;
    Report(control, delay / rate);
    Pause(std::min(0.02, delay / rate));
    if (EndTurn(clock) > limit) return true;
  }
}

}  // namespace

PcmDevice OpenPcm(const std::string& deviceName, uint32_t& sampleRate,
                  int32_t channels) {
  PcmDevice device;
  int rc =
      snd_pcm_open(&device.pcm, deviceName.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
  if (rc < 0) {
    fprintf(stderr, "unable to open pcm device: %s\n", snd_strerror(rc));
    exit(1);
  }
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
  rc = snd_pcm_hw_params_set_format(pcm, params, SND_PCM_FORMAT_S24_3LE);
  if (rc < 0) {
    fprintf(stderr, "Unable to set playback format: %s\n", snd_strerror(rc));
    printf("Try a different soundcard device name.\n");
    exit(1);
  }
  if (accessError < 0) FailSetUp(accessError);
  // A device with a fixed channel count gets the same signal on each.
  unsigned int channelCount = static_cast<unsigned int>(std::max(channels, 1));
  if (snd_pcm_hw_params_set_channels(pcm, params, channelCount) < 0) {
    snd_pcm_hw_params_set_channels_near(pcm, params, &channelCount);
  }
  const uint32_t requestedRate = sampleRate;
  unsigned int rate = sampleRate;
  snd_pcm_uframes_t periodFrames = 1024;
  snd_pcm_uframes_t bufferFrames = 2048;
  snd_pcm_hw_params_set_rate_near(pcm, params, &rate, nullptr);
  snd_pcm_hw_params_set_period_size_near(pcm, params, &periodFrames, nullptr);
  snd_pcm_hw_params_set_buffer_size_near(pcm, params, &bufferFrames);
  rc = snd_pcm_hw_params(pcm, params);
  if (rc < 0) FailSetUp(rc);

  // What was installed, not what was asked for.
  snd_pcm_hw_params_get_channels(params, &channelCount);
  snd_pcm_hw_params_get_rate(params, &rate, nullptr);
  snd_pcm_hw_params_get_period_size(params, &periodFrames, nullptr);
  snd_pcm_hw_params_get_buffer_size(params, &bufferFrames);
  device.channels = static_cast<int32_t>(channelCount);
  device.rate = rate;
  device.periodFrames = std::max<snd_pcm_uframes_t>(periodFrames, 1);
  device.bufferFrames = std::max<snd_pcm_uframes_t>(bufferFrames, 1);
  sampleRate = rate;
  if (rate != requestedRate) {
    printf(
        "Warning Soundcard Did Not Return Requested Samplerate...this "
        "will affect tuning\n");
    printf("Samplerate = %i\n", static_cast<int>(rate));
  }
  fflush(stdout);
  return device;
}

void PLAY(PcmDevice& device, int32_t n, const uint8_t* packed,
          const PlayControl& control) {
  snd_pcm_t* pcm = device.pcm;
  std::vector<uint8_t> chunk;
  if (device.interleaved) {
    chunk.resize(device.bufferFrames * kBytesPerSample *
                 size_t(device.channels));
  }
  std::vector<void*> channelPointers(device.channels);
  // Wake once a period is free, not for every few frames. The timeout
  // bounds how long a silent device is waited for at a time, and so how late
  // a stop is seen: ALSA restarts a wait that a signal interrupts.
  const int waitMs = static_cast<int>(std::min<unsigned long>(
      45, 2 + 2000 * device.bufferFrames / std::max<uint32_t>(device.rate, 1)));

  int32_t position = 0;
  StallClock clock;
  long lastError = -EIO;
  bool failedSinceProgress = false;
  bool stopped = false;
  while (position < n && !(stopped = Stopped(control))) {
    StartTurn(clock);
    const long remaining = n - position;
    // Frames the device took, 0 for none yet, or a negative error code.
    long result = snd_pcm_avail(pcm);
    if (result >= 0) {
      const long queued = std::max(long(device.bufferFrames) - result, 0L);
      Report(control, double(remaining + queued) / device.rate);
    }
    if (result >= 0 &&
        result < std::min<long>(remaining, long(device.periodFrames))) {
      result = std::min(snd_pcm_wait(pcm, waitMs), 0);
      if (result == 0) result = StateError(pcm);
    } else if (result > 0) {
      result =
          WriteFrames(device, packed, position, std::min(result, remaining),
                      &channelPointers, &chunk);
    }
    if (result > 0) {
      position += static_cast<int32_t>(result);
      clock.waited = 0;
      failedSinceProgress = false;
      continue;
    }
    if (result < 0 && Recover(pcm, result)) {
      lastError = result;
      if (failedSinceProgress) {
        // A stream that fails again at once is not played: back off.
        Pause(kRetrySeconds);
      } else {
        // The time a dead device gets counts from its first failure.
        clock.waited = 0;
      }
      failedSinceProgress = true;
    }
    const double limit = failedSinceProgress ? kDeadSeconds : kStallSeconds;
    if (EndTurn(clock) > limit)
      FailWrite(pcm, failedSinceProgress ? lastError : -EIO);
  }
  fflush(stdout);
  if (!stopped && n > 0) stopped = !WaitPlayedOut(device, control);
  // What is still queued of a stopped tone is not played.
  if (stopped) snd_pcm_drop(pcm);
  ClosePcm(device);
}

void ClosePcm(PcmDevice& device) {
  if (device.pcm) snd_pcm_close(device.pcm);
  device.pcm = nullptr;
}
