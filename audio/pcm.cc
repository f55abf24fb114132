#include "audio/pcm.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

const int kBytesPerSample = 3;
// A device that takes no frame for this long is treated as gone, so a
// stalled stream can never hang the program.
const double kStallSeconds = 10.0;

[[noreturn]] void FailWrite(long err) {
  fprintf(stderr, "unable to write to pcm device: %s\n",
          snd_strerror(static_cast<int>(err)));
  exit(1);
}

// Brings the stream back after err and tells whether it was re-prepared;
// ends the process when it cannot be recovered.
bool Recover(snd_pcm_t* pcm, long err) {
  if (err == -EAGAIN || err == -EINTR) return false;
  if (err == -EPIPE) {
    printf("RX\n");
  } else if (err != -ESTRPIPE) {
    FailWrite(err);
  }
  int rc = snd_pcm_prepare(pcm);
  if (rc < 0) FailWrite(rc);
  return true;
}

double MonotonicSeconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// Writes frames [position, position + frames) and returns what the device
// took, or a negative error code.
long WriteFrames(snd_pcm_t* pcm, bool interleaved, int32_t channels,
                 const uint8_t* packed, int32_t position, long frames,
                 std::vector<void*>* channelPointers,
                 std::vector<uint8_t>* chunk) {
  const uint8_t* first = packed + kBytesPerSample * size_t(position);
  if (!interleaved) {
    // Every channel reads the same mono signal.
    std::fill(channelPointers->begin(), channelPointers->end(),
              const_cast<uint8_t*>(first));
    return snd_pcm_writen(pcm, channelPointers->data(), frames);
  }
  const size_t frameBytes = kBytesPerSample * size_t(channels);
  frames = std::min<long>(frames, long(chunk->size() / frameBytes));
  uint8_t* out = chunk->data();
  for (long i = 0; i < frames; ++i) {
    for (int32_t c = 0; c < channels; ++c) {
      std::copy(first + kBytesPerSample * i, first + kBytesPerSample * (i + 1),
                out);
      out += kBytesPerSample;
    }
  }
  return snd_pcm_writei(pcm, chunk->data(), frames);
}

}  // namespace

void PLAY(const std::string& deviceName, uint32_t& sampleRate, int32_t channels,
          int32_t n, const uint8_t* packed) {
  snd_pcm_t* pcm = nullptr;
  int rc = snd_pcm_open(&pcm, deviceName.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
  if (rc < 0) {
    fprintf(stderr, "unable to open pcm device: %s\n", snd_strerror(rc));
    exit(1);
  }

  std::vector<unsigned char> block(snd_pcm_hw_params_sizeof(), 0);
  snd_pcm_hw_params_t* params =
      reinterpret_cast<snd_pcm_hw_params_t*>(block.data());
  snd_pcm_hw_params_any(pcm, params);
  // Sound servers' ALSA devices often refuse non-interleaved access; feed
  // them interleaved frames instead of playing nothing.
  bool interleaved = false;
  if (snd_pcm_hw_params_set_access(pcm, params,
                                   SND_PCM_ACCESS_RW_NONINTERLEAVED) < 0) {
    rc = snd_pcm_hw_params_set_access(pcm, params,
                                      SND_PCM_ACCESS_RW_INTERLEAVED);
    if (rc < 0) {
      fprintf(stderr, "unable to set hw parameters: %s\n", snd_strerror(rc));
      exit(1);
    }
    interleaved = true;
  }
  rc = snd_pcm_hw_params_set_format(pcm, params, SND_PCM_FORMAT_S24_3LE);
  if (rc < 0) {
    fprintf(stderr, "Unable to set playback format: %s\n", snd_strerror(rc));
    printf("Try a different soundcard device name.\n");
    exit(1);
  }
  const uint32_t requestedRate = sampleRate;
  unsigned int rate = sampleRate;
  snd_pcm_uframes_t periodFrames = 1024;
  snd_pcm_uframes_t bufferFrames = 2048;
  snd_pcm_hw_params_set_channels(pcm, params, channels);
  snd_pcm_hw_params_set_rate_near(pcm, params, &rate, nullptr);
  sampleRate = rate;
  snd_pcm_hw_params_set_period_size_near(pcm, params, &periodFrames, nullptr);
  snd_pcm_hw_params_set_buffer_size_near(pcm, params, &bufferFrames);
  rc = snd_pcm_hw_params(pcm, params);
  if (rc < 0) {
    fprintf(stderr, "unable to set hw parameters: %s\n", snd_strerror(rc));
    exit(1);
  }

  unsigned int installedRate = 0;
  snd_pcm_hw_params_get_rate(params, &installedRate, nullptr);
  sampleRate = installedRate;
  if (installedRate != requestedRate) {
    printf(
        "Warning Soundcard Did Not Return Requested Samplerate...this "
        "will affect tuning\n");
    printf("Samplerate = %i\n", static_cast<int>(installedRate));
    fflush(stdout);
  }
  snd_pcm_hw_params_get_buffer_size(params, &bufferFrames);

  std::vector<uint8_t> chunk;
  if (interleaved) {
    chunk.resize(std::max<size_t>(bufferFrames, 1) * kBytesPerSample *
                 size_t(std::max(channels, 1)));
  }

  std::vector<void*> channelPointers(std::max(channels, 1));
  int32_t position = 0;
  double lastProgress = MonotonicSeconds();
  while (position < n) {
    // Frames the device took, 0 for none yet, or a negative error code.
    long result = snd_pcm_avail(pcm);
    if (result == 0) {
      result = std::min(snd_pcm_wait(pcm, 1), 0);
    } else if (result > 0) {
      result = WriteFrames(pcm, interleaved, channels, packed, position,
                           std::min<long>(result, n - position),
                           &channelPointers, &chunk);
    }
    if (result > 0) {
      position += static_cast<int32_t>(result);
      lastProgress = MonotonicSeconds();
    } else if (result < 0 && Recover(pcm, result)) {
      // A re-prepared stream starts afresh, however long the pause was.
      lastProgress = MonotonicSeconds();
    } else if (MonotonicSeconds() - lastProgress > kStallSeconds) {
      FailWrite(-EIO);
    }
  }
  fflush(stdout);
  snd_pcm_drain(pcm);
  snd_pcm_close(pcm);
}
