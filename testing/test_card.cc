// A test sound card: an ALSA I/O plugin (type larkhorn_test) that accepts
// the accesses, formats, channel counts and rates its configuration names,
// plays at once or in real time, injects device faults, records every frame
// it receives and logs what it saw. With period_interrupts it paces itself as
// a real card's interrupts do, and plays on past the last frame written until
// it notices. Given a signal or a WAV file it also captures: it hears that,
// as fast as it is read or in real time. Tests load it through their own
// ALSA configuration:
//
//   pcm_type.larkhorn_test {
//     lib "/build/libasound_module_pcm_larkhorn_test.so"
//   }
//   pcm.card { type larkhorn_test record "/tmp/t.raw" rates [ 48000 ] }
//   pcm.mic { type larkhorn_test signal { frequency 82.41 noise -20 } }
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <fcntl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "testing/test_signal.h"

namespace {

struct TestCard {
  snd_pcm_ioplug_t io;

  // Options, read from the configuration.
  bool realtime = false;
  bool periodInterrupts = false;
  long long underrunAfter = -1;
  long long disconnectAfter = -1;
  long long stallAfter = -1;
  long long deadAfter = -1;
  bool drainHangs = false;
  int hwParamsError = 0;
  int recordFd = -1;
  int logFd = -1;

  // Frames queued and played since the last prepare, and played before it.
  uint64_t queued = 0;
  uint64_t played = 0;
  uint64_t playedBefore = 0;
  uint64_t received = 0;
  unsigned underruns = 0;

  bool running = false;
  bool xrun = false;
  bool underrunDone = false;
  bool disconnected = false;
  bool dead = false;
  double startTime = 0;
  uint64_t playedAtStart = 0;

  snd_pcm_uframes_t availMin = 1;
  snd_pcm_uframes_t boundary = 1;

  // With period_interrupts: whether each frame of the ring buffer is not
  // silent, whether the program asked for silence behind the played frames,
  // and what was played past the last frame written.
  std::vector<uint8_t> sounding;
  bool silenceFill = false;
  uint64_t playedPast = 0;
  uint64_t playedPastSounding = 0;
  int timerFd = -1;  // the poll descriptor: readable when the card has news

  // Capture: what the card hears (the signal, or the WAV file's first
  // channel, then silence), counted in frames of it from the first start.
  TestSignal signal;
  std::vector<float> wav;
  bool fromWav = false;
  uint64_t heard = 0;      // frames read
  uint64_t base = 0;       // frames read before the last prepare
  uint64_t clockBase = 0;  // frames read when the clock last started
  double clockStart = 0;
};

TestCard* CardOf(snd_pcm_ioplug_t* io) {
  return static_cast<TestCard*>(io->private_data);
}

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

void Log(TestCard* card, const char* format, ...) {
  if (card->logFd < 0) return;
  char line[256];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(line, sizeof line - 1, format, args);
  va_end(args);
  length = std::min<int>(std::max(length, 0), sizeof line - 2);
  line[length] = '\n';
  if (write(card->logFd, line, length + 1) < 0) return;
}

uint64_t PlayedTotal(const TestCard* card) {
  return card->playedBefore + card->played;
}

bool Stalled(const TestCard* card) {
  return card->stallAfter >= 0 &&
         PlayedTotal(card) >= uint64_t(card->stallAfter);
}

snd_pcm_uframes_t Avail(const TestCard* card) {
  return card->io.buffer_size - (card->queued - card->played);
}

// The first period boundary, counted from the stream's start, at or after
// frame.
uint64_t BoundaryFrom(const TestCard* card, uint64_t frame) {
  const uint64_t period = card->io.period_size;
  if (frame <= card->playedAtStart) return card->playedAtStart;
  return card->playedAtStart +
         (frame - card->playedAtStart + period - 1) / period * period;
}

// Plays frames [from, to) of the ring buffer, as a card's DMA does once it
// has passed the last frame written.
void PlayPast(TestCard* card, uint64_t from, uint64_t to) {
  for (uint64_t frame = from; frame < to; ++frame) {
    ++card->playedPast;
    card->playedPastSounding += card->sounding[frame % card->io.buffer_size];
  }
}

// What the kernel's silence fill does: played frames become silence.
void Played(TestCard* card, uint64_t from, uint64_t to) {
  if (!card->silenceFill) return;
  for (uint64_t frame = from; frame < to; ++frame) {
    card->sounding[frame % card->io.buffer_size] = 0;
  }
}

// Moves the play position to where the clock (or, without real time, the
// queue) says, and applies the faults that position reaches.
void Advance(TestCard* card) {
  if (card->dead) {
    card->xrun = true;
    return;
  }
  if (!card->running || card->xrun || card->disconnected) return;
  uint64_t target = card->queued;
  bool late = false;
  // Where the card stops when it runs dry: with period interrupts, at the
  // interrupt (or position query) that notices.
  uint64_t noticed = card->queued;
  if (card->realtime) {
    uint64_t clock = card->playedAtStart +
                     uint64_t((Now() - card->startTime) * card->io.rate);
    // A real card that runs dry while running underruns.
    late = clock > card->queued && card->io.state == SND_PCM_STATE_RUNNING;
    target = std::min(clock, card->queued);
    if (card->periodInterrupts && clock > card->queued) {
      noticed = std::min(clock, BoundaryFrom(card, card->queued));
    }
  }
  if (card->stallAfter >= 0 &&
      card->playedBefore + target > uint64_t(card->stallAfter)) {
    target = std::max<uint64_t>(
        card->played, uint64_t(card->stallAfter) - card->playedBefore);
    late = false;
  }
  if (card->underrunAfter >= 0 && !card->underrunDone &&
      card->playedBefore + target >= uint64_t(card->underrunAfter)) {
    // As if the program had stalled: the queue plays out, then runs dry.
    target = card->queued;
    late = true;
    card->underrunDone = true;
    // Its interrupt comes late: half a period plays on.
    noticed = card->queued + card->io.period_size / 2;
  }
  if (card->disconnectAfter >= 0 &&
      card->playedBefore + target >= uint64_t(card->disconnectAfter)) {
    target = std::max(
        card->played,
        std::min<uint64_t>(target, card->disconnectAfter - card->playedBefore));
    card->disconnected = true;
  }
  Played(card, card->played, std::max(card->played, target));
  card->played = std::max(card->played, target);
  if (card->periodInterrupts && noticed > card->queued) {
    PlayPast(card, card->queued, noticed);
    // Stopped until prepared again.
    card->running = false;
    late = late || card->io.state == SND_PCM_STATE_RUNNING;
  }
  if (card->deadAfter >= 0 && PlayedTotal(card) >= uint64_t(card->deadAfter)) {
    card->dead = late = true;
  }
  if (card->disconnected) {
    Log(card, "disconnect played=%llu", (unsigned long long)PlayedTotal(card));
  } else if (late) {
    card->xrun = true;
    ++card->underruns;
    Log(card, "underrun played=%llu", (unsigned long long)PlayedTotal(card));
  }
}

// A timer's first expiry that many seconds from now, never 0 (which would
// disarm it).
timespec After(double seconds) {
  timespec after;
  after.tv_sec = time_t(seconds);
  after.tv_nsec = std::max(1L, long((seconds - floor(seconds)) * 1e9));
  return after;
}

// Reads the poll descriptor's expirations, so that it waits again.
void ClearPoll(TestCard* card, struct pollfd* pfd, unsigned int nfds) {
  uint64_t expirations;
  if (nfds == 1 && (pfd->revents & POLLIN)) {
    if (read(card->timerFd, &expirations, sizeof expirations) < 0) {
      // Nothing to clear.
    }
  }
}

// Arms the poll descriptor for the moment the program may write (or must
// hear of a fault), as a real card's interrupt would.
void UpdatePoll(TestCard* card) {
  itimerspec when{};
  const snd_pcm_uframes_t avail = Avail(card);
  if (card->xrun || card->disconnected || avail >= card->availMin) {
    when.it_value.tv_nsec = 1;
  } else if (card->periodInterrupts && card->running && !Stalled(card)) {
    // The next period interrupt; poll_revents reports nothing to a program
    // woken while less than avail_min is free, and ALSA's wait goes back to
    // sleep.
    const uint64_t wake = BoundaryFrom(card, card->played + 1);
    double seconds = card->startTime +
                     double(wake - card->playedAtStart) / card->io.rate - Now();
    seconds = std::max(seconds, 1e-9);
    when.it_value = After(seconds);
  } else if (card->realtime && card->running && !Stalled(card)) {
    double seconds = double(card->availMin - avail) / card->io.rate;
    when.it_value = After(seconds);
  }
  timerfd_settime(card->timerFd, 0, &when, nullptr);
}

int Start(snd_pcm_ioplug_t* io) {
  TestCard* card = CardOf(io);
  card->running = true;
  card->startTime = Now();
  card->playedAtStart = card->played;
  UpdatePoll(card);
  return 0;
}

int Stop(snd_pcm_ioplug_t* io) {
  TestCard* card = CardOf(io);
  Advance(card);
  Log(card, "stop received=%llu", (unsigned long long)card->received);
  card->running = false;
  UpdatePoll(card);
  return 0;
}

snd_pcm_sframes_t Pointer(snd_pcm_ioplug_t* io) {
  TestCard* card = CardOf(io);
  Advance(card);
  UpdatePoll(card);
  if (card->disconnected) {
    snd_pcm_ioplug_set_state(io, SND_PCM_STATE_DISCONNECTED);
  } else if (card->xrun) {
    return -EPIPE;
  }
  return snd_pcm_sframes_t(card->played % card->boundary);
}

snd_pcm_sframes_t Transfer(snd_pcm_ioplug_t* io,
                           const snd_pcm_channel_area_t* areas,
                           snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
  TestCard* card = CardOf(io);
  Advance(card);
  if (card->disconnected) return -ENODEV;
  if (card->dead) return -EPIPE;
  const size_t sampleBytes = snd_pcm_format_physical_width(io->format) / 8;
  const size_t frameBytes = io->channels * sampleBytes;
  if (card->periodInterrupts) {
    // When, and how much had been played then: when a frame is heard.
    Log(card, "write at=%llu frames=%lu played=%llu t=%.6f",
        (unsigned long long)card->queued, (unsigned long)size,
        (unsigned long long)card->played, Now());
  }
  // In blocks, so that a card of many channels needs little memory.
  const snd_pcm_uframes_t blockFrames =
      std::max<snd_pcm_uframes_t>(1, 65536 / frameBytes);
  std::vector<char> frames(std::min(size, blockFrames) * frameBytes);
  for (snd_pcm_uframes_t done = 0; done < size; done += blockFrames) {
    const snd_pcm_uframes_t count = std::min(blockFrames, size - done);
    char* out = frames.data();
    for (snd_pcm_uframes_t i = done; i < done + count; ++i) {
      char* frame = out;
      for (unsigned c = 0; c < io->channels; ++c) {
        const char* in = static_cast<const char*>(areas[c].addr) +
                         (areas[c].first + areas[c].step * (offset + i)) / 8;
        out = std::copy(in, in + sampleBytes, out);
      }
      if (card->periodInterrupts) {
        card->sounding[(card->queued + i) % io->buffer_size] =
            std::any_of(frame, out, [](char b) { return b != 0; });
      }
    }
    const ssize_t bytes = out - frames.data();
    if (card->recordFd >= 0 &&
        write(card->recordFd, frames.data(), bytes) != bytes) {
      return -EIO;
    }
  }
  card->queued += size;
  card->received += size;
  Advance(card);
  if (card->disconnected) {
    snd_pcm_ioplug_set_state(io, SND_PCM_STATE_DISCONNECTED);
  }
  UpdatePoll(card);
  return snd_pcm_sframes_t(size);
}

int PollRevents(snd_pcm_ioplug_t* io, struct pollfd* pfd, unsigned int nfds,
                unsigned short* revents) {
  TestCard* card = CardOf(io);
  ClearPoll(card, pfd, nfds);
  Advance(card);
  *revents = 0;
  if (card->disconnected) {
    snd_pcm_ioplug_set_state(io, SND_PCM_STATE_DISCONNECTED);
    *revents = POLLERR;
  } else if (card->xrun) {
    snd_pcm_ioplug_set_state(io, SND_PCM_STATE_XRUN);
    *revents = POLLERR;
  } else if (Avail(card) >= card->availMin) {
    *revents = POLLOUT;
  }
  UpdatePoll(card);
  return 0;
}

int Prepare(snd_pcm_ioplug_t* io) {
  TestCard* card = CardOf(io);
  if (card->disconnected) return -ENODEV;
  card->playedBefore += card->played;
  card->queued = card->played = 0;
  card->running = card->xrun = false;
  if (card->silenceFill) {
    std::fill(card->sounding.begin(), card->sounding.end(), 0);
  }
  UpdatePoll(card);
  return 0;
}

// Plays out what is queued; gives up after 10 s, as the kernel does.
int Drain(snd_pcm_ioplug_t* io) {
  TestCard* card = CardOf(io);
  Log(card, "drain");
  while (card->drainHangs) pause();
  if (!card->running && card->queued > card->played) Start(io);
  const double deadline = Now() + 10.0;
  for (;;) {
    Advance(card);
    if (card->disconnected) {
      snd_pcm_ioplug_set_state(io, SND_PCM_STATE_DISCONNECTED);
      return -ENODEV;
    }
    if (card->played >= card->queued) return 0;
    if (Now() > deadline) return -EIO;
    double seconds = double(card->queued - card->played) / io->rate;
    seconds = std::min(0.01, std::max(0.001, seconds));
    timespec pause = {0, long(seconds * 1e9)};
    nanosleep(&pause, nullptr);
  }
}

int HwParams(snd_pcm_ioplug_t* io, snd_pcm_hw_params_t*) {
  TestCard* card = CardOf(io);
  Log(card,
      "hw_params access=%s format=%s channels=%u rate=%u period=%lu "
      "buffer=%lu",
      snd_pcm_access_name(io->access), snd_pcm_format_name(io->format),
      io->channels, io->rate, io->period_size, io->buffer_size);
  if (card->hwParamsError) return -card->hwParamsError;
  card->availMin = io->period_size;
  card->boundary = io->buffer_size;
  card->sounding.assign(io->buffer_size, 0);
  while (card->boundary * 2 <= LONG_MAX - io->buffer_size) card->boundary *= 2;
  return 0;
}

int SwParams(snd_pcm_ioplug_t* io, snd_pcm_sw_params_t* params) {
  TestCard* card = CardOf(io);
  snd_pcm_sw_params_get_avail_min(params, &card->availMin);
  snd_pcm_sw_params_get_boundary(params, &card->boundary);
  card->availMin = std::max<snd_pcm_uframes_t>(card->availMin, 1);
  // As the kernel does: silence_threshold 0 with a silence_size of the
  // boundary fills silence behind every frame played.
  snd_pcm_uframes_t threshold = 0, size = 0;
  snd_pcm_sw_params_get_silence_threshold(params, &threshold);
  snd_pcm_sw_params_get_silence_size(params, &size);
  card->silenceFill = threshold == 0 && size >= card->boundary;
  Log(card, "sw_params avail_min=%lu silence_fill=%d",
      (unsigned long)card->availMin, int(card->silenceFill));
  if (card->silenceFill) {
    std::fill(card->sounding.begin(), card->sounding.end(), 0);
  }
  return 0;
}

int Close(snd_pcm_ioplug_t* io) {
  TestCard* card = CardOf(io);
  Log(card, "close received=%llu played=%llu underruns=%u",
      (unsigned long long)card->received, (unsigned long long)PlayedTotal(card),
      card->underruns);
  if (card->periodInterrupts) {
    Log(card, "played past the last frame written=%llu sounding=%llu",
        (unsigned long long)card->playedPast,
        (unsigned long long)card->playedPastSounding);
  }
  for (int fd : {card->recordFd, card->logFd, card->timerFd}) {
    if (fd >= 0) close(fd);
  }
  delete card;
  return 0;
}

// Capture. Without real time the card always has a buffer's worth ready;
// in real time sound arrives by the clock, and a buffer overflowing before
// it is read is an overrun, its frames lost.

// Frames of sound the card has had since the clock started.
uint64_t Arrived(const TestCard* card) {
  if (!card->running) return card->heard;
  if (!card->realtime) return card->heard + card->io.buffer_size;
  return card->clockBase + uint64_t((Now() - card->clockStart) * card->io.rate);
}

// With underrun_after, capture overruns once when that many frames have
// been read, as if the reader had stalled for a buffer's worth.
bool Overrun(const TestCard* card) {
  if (!card->running) return false;
  if (card->underrunAfter >= 0 && !card->underrunDone &&
      card->heard >= uint64_t(card->underrunAfter)) {
    return true;
  }
  return card->realtime && Arrived(card) - card->heard > card->io.buffer_size;
}

// With disconnect_after, the card vanishes once that many frames have been
// read: every call after fails as an unplugged card's do.
bool Vanished(TestCard* card) {
  if (card->disconnectAfter >= 0 &&
      card->heard >= uint64_t(card->disconnectAfter) && !card->disconnected) {
    card->disconnected = true;
    Log(card, "disconnect heard=%llu", (unsigned long long)card->heard);
  }
  if (card->disconnected) {
    snd_pcm_ioplug_set_state(&card->io, SND_PCM_STATE_DISCONNECTED);
  }
  return card->disconnected;
}

// When a reader waiting for avail_min frames is to be woken.
void UpdateCapturePoll(TestCard* card) {
  itimerspec when{};
  const uint64_t arrived = Arrived(card);
  if (!card->running || card->disconnected || Overrun(card) ||
      arrived - card->heard >= card->availMin) {
    when.it_value.tv_nsec = 1;
  } else {
    const double seconds =
        double(card->heard + card->availMin - arrived) / card->io.rate;
    when.it_value = After(seconds);
  }
  timerfd_settime(card->timerFd, 0, &when, nullptr);
}

int CaptureStart(snd_pcm_ioplug_t* io) {
  TestCard* card = CardOf(io);
  card->running = true;
  card->clockStart = Now();
  card->clockBase = card->heard;
  UpdateCapturePoll(card);
  return 0;
}

int CaptureStop(snd_pcm_ioplug_t* io) {
  TestCard* card = CardOf(io);
  card->running = false;
  UpdateCapturePoll(card);
  return 0;
}

snd_pcm_sframes_t CapturePointer(snd_pcm_ioplug_t* io) {
  TestCard* card = CardOf(io);
  if (Vanished(card)) return -ENODEV;
  UpdateCapturePoll(card);
  if (Overrun(card)) return -EPIPE;
  return snd_pcm_sframes_t((Arrived(card) - card->base) % card->boundary);
}

int CapturePrepare(snd_pcm_ioplug_t* io) {
  TestCard* card = CardOf(io);
  if (Vanished(card)) return -ENODEV;
  // Sound that arrived and was never read is lost.
  if (Overrun(card)) {
    ++card->underruns;
    Log(card, "overrun heard=%llu", (unsigned long long)card->heard);
    card->heard = std::max(Arrived(card), card->heard + io->buffer_size);
    card->underrunDone = true;
  }
  card->running = false;
  card->base = card->heard;
  UpdateCapturePoll(card);
  return 0;
}

// Stores value (full scale 1) as a sample of format at out.
void StoreSample(float value, snd_pcm_format_t format, char* out) {
  value = std::clamp(value, -1.0f, 1.0f);
  int32_t integer = 0;
  int bytes = 4;
  switch (format) {
    case SND_PCM_FORMAT_S16_LE:
      integer = int32_t(lrint(value * 32767.0));
      bytes = 2;
      break;
    case SND_PCM_FORMAT_S24_3LE:
      integer = int32_t(lrint(value * 8388607.0));
      bytes = 3;
      break;
    case SND_PCM_FORMAT_S24_LE:
      integer = int32_t(lrint(value * 8388607.0));
      break;
    case SND_PCM_FORMAT_S32_LE:
      integer = int32_t(lrint(double(value) * 2147483647.0));
      break;
    case SND_PCM_FORMAT_FLOAT_LE:
      memcpy(&integer, &value, sizeof value);
      break;
    default:
      break;
  }
  for (int i = 0; i < bytes; ++i) out[i] = char(uint32_t(integer) >> (8 * i));
}

snd_pcm_sframes_t CaptureTransfer(snd_pcm_ioplug_t* io,
                                  const snd_pcm_channel_area_t* areas,
                                  snd_pcm_uframes_t offset,
                                  snd_pcm_uframes_t size) {
  TestCard* card = CardOf(io);
  if (Vanished(card)) return -ENODEV;
  if (Overrun(card)) return -EPIPE;
  // Never past the fault: a read up to it, then the fault.
  if (card->disconnectAfter >= 0 || card->underrunAfter >= 0) {
    for (long long after : {card->disconnectAfter, card->underrunAfter}) {
      if (after >= 0 && card->heard < uint64_t(after)) {
        size = std::min<snd_pcm_uframes_t>(size, uint64_t(after) - card->heard);
      }
    }
  }
  std::vector<float> sound(size, 0.0f);
  if (!card->fromWav) {
    RenderTestSignal(card->signal, io->rate, card->heard, size, sound.data());
  } else if (card->heard < card->wav.size()) {
    const size_t left = size_t(card->wav.size() - card->heard);
    std::copy_n(card->wav.begin() + ptrdiff_t(card->heard),
                std::min<size_t>(size, left), sound.begin());
  }
  for (snd_pcm_uframes_t i = 0; i < size; ++i) {
    for (unsigned c = 0; c < io->channels; ++c) {
      char* out = static_cast<char*>(areas[c].addr) +
                  (areas[c].first + areas[c].step * (offset + i)) / 8;
      // The other channels hear the sound upside down: a program that
      // mixed them would hear nothing.
      StoreSample(c == 0 ? sound[i] : -sound[i], io->format, out);
    }
  }
  card->heard += size;
  Log(card, "read heard=%llu", (unsigned long long)card->heard);
  UpdateCapturePoll(card);
  return snd_pcm_sframes_t(size);
}

int CapturePollRevents(snd_pcm_ioplug_t* io, struct pollfd* pfd,
                       unsigned int nfds, unsigned short* revents) {
  TestCard* card = CardOf(io);
  ClearPoll(card, pfd, nfds);
  *revents = 0;
  if (Vanished(card)) {
    *revents = POLLERR;
  } else if (Overrun(card)) {
    snd_pcm_ioplug_set_state(io, SND_PCM_STATE_XRUN);
    *revents = POLLERR;
  } else if (Arrived(card) - card->heard >= card->availMin) {
    *revents = POLLIN;
  }
  UpdateCapturePoll(card);
  return 0;
}

int CaptureClose(snd_pcm_ioplug_t* io) {
  TestCard* card = CardOf(io);
  Log(card, "close heard=%llu overruns=%u", (unsigned long long)card->heard,
      card->underruns);
  for (int fd : {card->logFd, card->timerFd}) {
    if (fd >= 0) close(fd);
  }
  delete card;
  return 0;
}

snd_pcm_ioplug_callback_t CaptureCallbacks() {
  snd_pcm_ioplug_callback_t callbacks{};
  callbacks.start = CaptureStart;
  callbacks.stop = CaptureStop;
  callbacks.pointer = CapturePointer;
  callbacks.transfer = CaptureTransfer;
  callbacks.close = CaptureClose;
  callbacks.hw_params = HwParams;
  callbacks.sw_params = SwParams;
  callbacks.prepare = CapturePrepare;
  callbacks.poll_revents = CapturePollRevents;
  return callbacks;
}

// Reads the signal's description: frequency, partials [ ... ],
// inharmonicity, decay, onset, attack, noise, seed (see
// testing/test_signal.h).
int ReadSignal(snd_config_t* node, TestSignal* signal) {
  snd_config_iterator_t i, next;
  snd_config_for_each(i, next, node) {
    snd_config_t* item = snd_config_iterator_entry(i);
    const char* id;
    if (snd_config_get_id(item, &id) < 0) return -EINVAL;
    const std::string key = id;
    double value = 0;
    int err = 0;
    if (key == "partials") {
      signal->partials.clear();
      snd_config_iterator_t j, jnext;
      snd_config_for_each(j, jnext, item) {
        if ((err = snd_config_get_ireal(snd_config_iterator_entry(j), &value)) <
            0) {
          return err;
        }
        signal->partials.push_back(value);
      }
      continue;
    }
    if ((err = snd_config_get_ireal(item, &value)) < 0) return err;
    if (key == "frequency") {
      signal->frequency = value;
    } else if (key == "inharmonicity") {
      signal->inharmonicity = value;
    } else if (key == "decay") {
      signal->decaySeconds = value;
    } else if (key == "onset") {
      signal->onsetSeconds = value;
    } else if (key == "attack") {
      signal->attackSeconds = value;
    } else if (key == "noise") {
      signal->noiseDb = value;
    } else if (key == "seed") {
      signal->seed = uint32_t(value);
    } else {
      return -EINVAL;
    }
  }
  return 0;
}

uint32_t Le(const std::string& bytes, size_t at, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) {
    value = value << 8 | uint8_t(bytes[at + size_t(i)]);
  }
  return value;
}

// Reads the first channel of a WAV file of 16-, 24- or 32-bit integer or
// 32-bit float samples, and its rate.
int ReadWav(const char* path, std::vector<float>* samples, unsigned* rate) {
  std::string bytes;
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -errno;
  char block[65536];
  ssize_t got;
  while ((got = read(fd, block, sizeof block)) > 0) bytes.append(block, got);
  close(fd);
  if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 ||
      bytes.compare(8, 4, "WAVE") != 0) {
    return -EINVAL;
  }
  unsigned tag = 0, channels = 0, bits = 0;
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const std::string id = bytes.substr(at, 4);
    const size_t size = Le(bytes, at + 4, 4);
    const size_t body = at + 8;
    if (id == "fmt " && size >= 16 && body + 16 <= bytes.size()) {
      tag = Le(bytes, body, 2);
      channels = Le(bytes, body + 2, 2);
      *rate = Le(bytes, body + 4, 4);
      bits = Le(bytes, body + 14, 2);
      // WAVE_FORMAT_EXTENSIBLE names its format in its sub-format.
      if (tag == 0xfffe && size >= 26) tag = Le(bytes, body + 24, 2);
    } else if (id == "data" && channels > 0 && bits % 8 == 0 && bits > 0) {
      const size_t frameBytes = channels * bits / 8;
      const size_t frames = std::min(size, bytes.size() - body) / frameBytes;
      for (size_t f = 0; f < frames; ++f) {
        const size_t s = body + f * frameBytes;
        if (tag == 3 && bits == 32) {
          const uint32_t word = Le(bytes, s, 4);
          float value;
          memcpy(&value, &word, sizeof value);
          samples->push_back(value);
        } else if (tag == 1 && bits >= 16 && bits <= 32) {
          const int shift = 32 - int(bits);
          const int32_t value = int32_t(Le(bytes, s, int(bits / 8)) << shift);
          samples->push_back(float(value / 2147483648.0));
        } else {
          return -EINVAL;
        }
      }
      return 0;
    }
    at = body + size + (size & 1);
  }
  return -EINVAL;
}

snd_pcm_ioplug_callback_t Callbacks() {
  snd_pcm_ioplug_callback_t callbacks{};
  callbacks.start = Start;
  callbacks.stop = Stop;
  callbacks.pointer = Pointer;
  callbacks.transfer = Transfer;
  callbacks.close = Close;
  callbacks.hw_params = HwParams;
  callbacks.sw_params = SwParams;
  callbacks.prepare = Prepare;
  callbacks.drain = Drain;
  callbacks.poll_revents = PollRevents;
  return callbacks;
}

// Reads a list such as [ 44100 48000 ] or [ S16_LE ]; names are turned
// into numbers by toValue, which returns a negative value for a bad name.
template <typename ToValue>
int ReadList(snd_config_t* node, std::vector<unsigned>* values,
             ToValue toValue) {
  values->clear();
  snd_config_iterator_t i, next;
  snd_config_for_each(i, next, node) {
    snd_config_t* item = snd_config_iterator_entry(i);
    long number;
    const char* name;
    if (snd_config_get_integer(item, &number) >= 0) {
      values->push_back(unsigned(number));
    } else if (snd_config_get_string(item, &name) >= 0 && toValue(name) >= 0) {
      values->push_back(unsigned(toValue(name)));
    } else {
      return -EINVAL;
    }
  }
  return values->empty() ? -EINVAL : 0;
}

int AccessValue(const char* name) {
  for (int a = 0; a <= SND_PCM_ACCESS_LAST; ++a) {
    if (strcmp(snd_pcm_access_name(snd_pcm_access_t(a)), name) == 0) return a;
  }
  return -1;
}

int FormatValue(const char* name) {
  snd_pcm_format_t format = snd_pcm_format_value(name);
  return format == SND_PCM_FORMAT_UNKNOWN ? -1 : int(format);
}

int NoValue(const char*) { return -1; }

int OpenAppend(const char* path) {
  return open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

}  // namespace

extern "C" {

SND_PCM_PLUGIN_DEFINE_FUNC(larkhorn_test) {
  (void)root;
  // Every option is optional.
  // access [ ... ]: accesses accepted (default RW_INTERLEAVED and
  //   RW_NONINTERLEAVED); [ RW_INTERLEAVED ] behaves like a sound server's
  //   ALSA device.
  std::vector<unsigned> accesses = {SND_PCM_ACCESS_RW_INTERLEAVED,
                                    SND_PCM_ACCESS_RW_NONINTERLEAVED};
  // formats [ ... ]: sample formats accepted (default S16_LE S24_3LE S32_LE,
  //   and for capture S24_LE and FLOAT_LE too).
  std::vector<unsigned> formats = {
      SND_PCM_FORMAT_S16_LE, SND_PCM_FORMAT_S24_3LE, SND_PCM_FORMAT_S32_LE};
  if (stream == SND_PCM_STREAM_CAPTURE) {
    formats.push_back(SND_PCM_FORMAT_S24_LE);
    formats.push_back(SND_PCM_FORMAT_FLOAT_LE);
  }
  // channels [ ... ]: channel counts accepted (default 1 and 2).
  std::vector<unsigned> channels = {1, 2};
  // rates [ ... ]: rates accepted (default any from 8000 to 192000).
  std::vector<unsigned> rates;
  // realtime BOOL: consume (or capture) frames at the negotiated rate by the
  //   monotonic clock (default false: every frame is played the moment it
  //   arrives, and a buffer's worth is always there to capture).
  bool realtime = false;
  // period_interrupts BOOL: real time, paced as a real card's interrupts
  //   pace it: a waiting program is woken only at period boundaries counted
  //   from the stream's start, and only if avail_min frames are free then;
  //   once it has played the last frame written it plays on through the
  //   ring buffer until the next interrupt or position query notices. It
  //   honours silence fill in the software parameters, logs each write and
  //   at close what it played past the last frame written and how much of
  //   that was not silent. underrun_after N then plays on half a period.
  bool periodInterrupts = false;
  // underrun_after N: underrun once, when N frames have been played; for
  //   capture, overrun once when N frames have been read, losing a
  //   buffer's worth of sound.
  // disconnect_after N: vanish when N frames have been played (or read);
  //   later calls fail with -ENODEV, as an unplugged card's do.
  // stall_after N: stop playing after N frames, with no error.
  // dead_after N: underrun when N frames have been played and on every
  //   call after that; prepare still succeeds, as for a sound server that
  //   has died.
  long long underrunAfter = -1, disconnectAfter = -1, stallAfter = -1,
            deadAfter = -1;
  // drain_hangs BOOL: the drain never returns, as some plugins' do.
  bool drainHangs = false;
  // open_error E / hw_params_error E: fail the open / snd_pcm_hw_params
  //   with -E (e.g. 16 for EBUSY).
  long openError = 0, hwParamsError = 0;
  // record "PATH": append every frame received, interleaved, to PATH.
  // log "PATH": append a line to PATH for each event (hw_params, underrun,
  //   disconnect, close with frame counts; for capture, each read).
  const char* recordPath = nullptr;
  const char* logPath = nullptr;
  // signal { frequency HZ partials [ A1 A2 ... ] inharmonicity B decay S
  //   onset S attack S noise DB seed N }: capture that sound
  //   (testing/test_signal.h: steady or plucked partials, in white noise), its
  //   first channel as is and the others upside down.
  // wav "PATH": capture the first channel of that WAV file (16-, 24- or
  //   32-bit integer or 32-bit float), then silence, at the file's rate
  //   unless rates are given. Without either the card does not capture.
  TestSignal signal;
  bool signalGiven = false;
  const char* wavPath = nullptr;

  snd_config_iterator_t i, next;
  snd_config_for_each(i, next, conf) {
    snd_config_t* node = snd_config_iterator_entry(i);
    const char* id;
    if (snd_config_get_id(node, &id) < 0) continue;
    std::string key = id;
    long number = 0;
    int err = 0;
    if (key == "comment" || key == "type" || key == "hint") continue;
    if (key == "access") {
      err = ReadList(node, &accesses, AccessValue);
    } else if (key == "formats") {
      err = ReadList(node, &formats, FormatValue);
    } else if (key == "channels") {
      err = ReadList(node, &channels, NoValue);
    } else if (key == "rates") {
      err = ReadList(node, &rates, NoValue);
    } else if (key == "realtime") {
      err = snd_config_get_bool(node);
      realtime = err > 0;
    } else if (key == "period_interrupts") {
      err = snd_config_get_bool(node);
      periodInterrupts = err > 0;
    } else if (key == "drain_hangs") {
      err = snd_config_get_bool(node);
      drainHangs = err > 0;
    } else if (key == "record") {
      err = snd_config_get_string(node, &recordPath);
    } else if (key == "log") {
      err = snd_config_get_string(node, &logPath);
    } else if (key == "signal") {
      err = ReadSignal(node, &signal);
      signalGiven = true;
    } else if (key == "wav") {
      err = snd_config_get_string(node, &wavPath);
    } else if ((err = snd_config_get_integer(node, &number)) >= 0) {
      if (key == "underrun_after") {
        underrunAfter = number;
      } else if (key == "disconnect_after") {
        disconnectAfter = number;
      } else if (key == "stall_after") {
        stallAfter = number;
      } else if (key == "dead_after") {
        deadAfter = number;
      } else if (key == "open_error") {
        openError = long(number);
      } else if (key == "hw_params_error") {
        hwParamsError = long(number);
      } else {
        err = -EINVAL;
      }
    }
    if (err < 0) {
      SNDERR("larkhorn_test: bad option %s", id);
      return -EINVAL;
    }
  }
  const bool capture = stream == SND_PCM_STREAM_CAPTURE;
  if (capture && !signalGiven && !wavPath) return -EINVAL;
  if (openError) return -int(openError);
  std::vector<float> wav;
  if (capture && wavPath) {
    unsigned wavRate = 0;
    const int err = ReadWav(wavPath, &wav, &wavRate);
    if (err < 0) {
      SNDERR("larkhorn_test: cannot read %s", wavPath);
      return err;
    }
    if (rates.empty()) rates.push_back(wavRate);
  }

  static const snd_pcm_ioplug_callback_t callbacks = Callbacks();
  static const snd_pcm_ioplug_callback_t captureCallbacks = CaptureCallbacks();
  TestCard* card = new TestCard();
  card->signal = signal;
  card->fromWav = wavPath != nullptr;
  card->wav.swap(wav);
  card->io.private_data = card;
  card->realtime = realtime || periodInterrupts;
  card->periodInterrupts = periodInterrupts;
  card->underrunAfter = underrunAfter;
  card->disconnectAfter = disconnectAfter;
  card->stallAfter = stallAfter;
  card->deadAfter = deadAfter;
  card->drainHangs = drainHangs;
  card->hwParamsError = int(hwParamsError);
  if (recordPath) card->recordFd = OpenAppend(recordPath);
  if (logPath) card->logFd = OpenAppend(logPath);
  card->timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if ((recordPath && card->recordFd < 0) || (logPath && card->logFd < 0) ||
      card->timerFd < 0) {
    const int err = -errno;
    Close(&card->io);
    return err;
  }

  card->io.version = SND_PCM_IOPLUG_VERSION;
  card->io.name = "Larkhorn test card";
  card->io.flags = SND_PCM_IOPLUG_FLAG_BOUNDARY_WA;
  card->io.poll_fd = card->timerFd;
  card->io.poll_events = POLLIN;
  card->io.callback = capture ? &captureCallbacks : &callbacks;
  int err = snd_pcm_ioplug_create(&card->io, name, stream, mode);
  if (err < 0) {
    Close(&card->io);
    return err;
  }
  snd_pcm_ioplug_t* io = &card->io;
  if ((err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS,
                                           accesses.size(), accesses.data())) <
          0 ||
      (err = snd_pcm_ioplug_set_param_list(
           io, SND_PCM_IOPLUG_HW_FORMAT, formats.size(), formats.data())) < 0 ||
      (err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_CHANNELS,
                                           channels.size(), channels.data())) <
          0 ||
      (err = rates.empty() ? snd_pcm_ioplug_set_param_minmax(
                                 io, SND_PCM_IOPLUG_HW_RATE, 8000, 192000)
                           : snd_pcm_ioplug_set_param_list(
                                 io, SND_PCM_IOPLUG_HW_RATE, rates.size(),
                                 rates.data())) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES,
                                             64, 1 << 20)) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2,
                                             64)) < 0) {
    snd_pcm_ioplug_delete(io);
    return err;
  }
  *pcmp = io->pcm;
  return 0;
}

SND_PCM_PLUGIN_SYMBOL(larkhorn_test)

}  // extern "C"
