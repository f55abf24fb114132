// Capture from an ALSA PCM device: whatever sample format, channel count
// and rate it runs at, the first channel as floats.
#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

#include "listen/listen.h"

namespace {

// Most accurate first; a device that is given a format it does not run at
// converts, so every one it takes is as good as its own.
const snd_pcm_format_t kFormats[] = {
    SND_PCM_FORMAT_FLOAT_LE, SND_PCM_FORMAT_S32_LE, SND_PCM_FORMAT_S24_LE,
    SND_PCM_FORMAT_S24_3LE, SND_PCM_FORMAT_S16_LE};
const unsigned kPreferredRate = 48000;
const snd_pcm_uframes_t kPeriodFrames = 1024;
// Half a second of sound may wait to be read before any is lost.
const unsigned kBufferMs = 500;
// How long one wait for sound lasts, so that a stop is seen in time.
const int kWaitMs = 50;
// A device that gives no sound for this long has failed.
const double kStallSeconds = 10.0;

double MonotonicSeconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

bool Fail(int code, std::string* err) {
  *err = snd_strerror(code);
  return false;
}

int32_t Little(const uint8_t* bytes, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
  // Sign-extend from the top byte given.
  const int shift = 32 - 8 * count;
  return int32_t(value << shift) >> shift;
}

}  // namespace

bool FirstChannel(const uint8_t* frames, size_t count, int format, int channels,
                  float* out) {
  const int width = snd_pcm_format_physical_width(snd_pcm_format_t(format));
  if (width <= 0 || channels <= 0) return false;
  const size_t frameBytes = size_t(width / 8) * size_t(channels);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* sample = frames + i * frameBytes;
    switch (format) {
      case SND_PCM_FORMAT_S16_LE:
        out[i] = float(Little(sample, 2) / 32768.0);
        break;
      case SND_PCM_FORMAT_S24_3LE:
      case SND_PCM_FORMAT_S24_LE:  // in the low three bytes of four
        out[i] = float(Little(sample, 3) / 8388608.0);
        break;
      case SND_PCM_FORMAT_S32_LE:
        out[i] = float(Little(sample, 4) / 2147483648.0);
        break;
      case SND_PCM_FORMAT_FLOAT_LE: {
        uint32_t bits = uint32_t(Little(sample, 4));
        float value;
        memcpy(&value, &bits, sizeof value);
        // Whatever a device sends, nothing beyond full scale goes on.
        out[i] = std::isfinite(value) ? std::clamp(value, -1.0f, 1.0f) : 0;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

bool OpenCapture(const std::string& deviceName, CaptureDevice* device,
                 std::string* err) {
  int rc =
      snd_pcm_open(&device->pcm, deviceName.c_str(), SND_PCM_STREAM_CAPTURE, 0);
  if (rc < 0) {
    device->pcm = nullptr;
    return Fail(rc, err);
  }
  snd_pcm_t* pcm = device->pcm;
  std::vector<unsigned char> block(snd_pcm_hw_params_sizeof(), 0);
  snd_pcm_hw_params_t* params =
      reinterpret_cast<snd_pcm_hw_params_t*>(block.data());
  if ((rc = snd_pcm_hw_params_any(pcm, params)) < 0) return Fail(rc, err);
  // The device's own rate: resampling would only blur the pitch.
  snd_pcm_hw_params_set_rate_resample(pcm, params, 0);
  if ((rc = snd_pcm_hw_params_set_access(pcm, params,
                                         SND_PCM_ACCESS_RW_INTERLEAVED)) < 0) {
    return Fail(rc, err);
  }
  snd_pcm_format_t format = SND_PCM_FORMAT_UNKNOWN;
  for (snd_pcm_format_t candidate : kFormats) {
    if (snd_pcm_hw_params_test_format(pcm, params, candidate) == 0) {
      format = candidate;
      break;
    }
  }
  if (format == SND_PCM_FORMAT_UNKNOWN) {
    *err =
        "it gives none of the formats FLOAT_LE, S32_LE, S24_LE, S24_3LE and "
        "S16_LE";
    return false;
  }
  unsigned channels = 1;
  unsigned rate = kPreferredRate;
  snd_pcm_uframes_t period = kPeriodFrames;
  unsigned bufferUs = kBufferMs * 1000;
  if ((rc = snd_pcm_hw_params_set_format(pcm, params, format)) < 0 ||
      (rc = snd_pcm_hw_params_set_channels_near(pcm, params, &channels)) < 0 ||
      (rc = snd_pcm_hw_params_set_rate_near(pcm, params, &rate, nullptr)) < 0) {
    return Fail(rc, err);
  }
  snd_pcm_hw_params_set_period_size_near(pcm, params, &period, nullptr);
  snd_pcm_hw_params_set_buffer_time_near(pcm, params, &bufferUs, nullptr);
  if ((rc = snd_pcm_hw_params(pcm, params)) < 0) return Fail(rc, err);
  snd_pcm_hw_params_get_rate(params, &rate, nullptr);
  snd_pcm_hw_params_get_channels(params, &channels);
  snd_pcm_hw_params_get_period_size(params, &period, nullptr);
  snd_pcm_uframes_t buffer = 0;
  snd_pcm_hw_params_get_buffer_size(params, &buffer);
  device->rate = rate;
  device->format = format;
  device->channels = int(channels);
  device->frameBytes =
      size_t(snd_pcm_format_physical_width(format) / 8) * channels;
  device->periodFrames = std::max<snd_pcm_uframes_t>(period, 1);
  device->bufferFrames = std::max<snd_pcm_uframes_t>(buffer, 1);
  device->overruns = 0;
  if ((rc = snd_pcm_prepare(pcm)) < 0 || (rc = snd_pcm_start(pcm)) < 0) {
    return Fail(rc, err);
  }
  return true;
}

bool ReadCapture(CaptureDevice& device, float* out, size_t maxFrames,
                 size_t* got, const volatile sig_atomic_t* stop,
                 std::string* err) {
  *got = 0;
  double waited = 0;
  while (*got < maxFrames && !(stop && *stop)) {
    const double turn = MonotonicSeconds();
    snd_pcm_sframes_t avail = snd_pcm_avail(device.pcm);
    if (avail == 0) {
      // The sound read so far is enough to go on with.
      if (*got > 0) return true;
      const int rc = snd_pcm_wait(device.pcm, kWaitMs);
      avail = rc < 0 ? rc : 0;
    } else if (avail > 0) {
      const size_t frames = std::min(
          {size_t(avail), maxFrames - *got, size_t(device.bufferFrames)});
      device.raw.resize(frames * device.frameBytes);
      const snd_pcm_sframes_t read =
          snd_pcm_readi(device.pcm, device.raw.data(), frames);
      if (read > 0) {
        FirstChannel(device.raw.data(), size_t(read), device.format,
                     device.channels, out + *got);
        *got += size_t(read);
        waited = 0;
        continue;
      }
      avail = read;
    }
    if (avail == -EPIPE || avail == -ESTRPIPE) {
      // Reads came too late and sound was lost: start again. A device
      // that has gone fails to start again.
      const int rc = snd_pcm_prepare(device.pcm);
      if (rc < 0) return Fail(rc, err);
      ++device.overruns;
      snd_pcm_start(device.pcm);
    } else if (avail < 0 && avail != -EAGAIN && avail != -EINTR) {
      return Fail(int(avail), err);
    }
    waited += std::min(MonotonicSeconds() - turn, 1.0);
    if (waited > kStallSeconds) {
      *err = "the device gave no sound for ten seconds";
      return false;
    }
  }
  return true;
}

void CloseCapture(CaptureDevice& device) {
  if (device.pcm) snd_pcm_close(device.pcm);
  device.pcm = nullptr;
  device.raw.clear();
}
