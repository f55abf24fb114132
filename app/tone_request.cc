#include "app/tone_request.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/countdown.h"
#include "app/hint.h"
#include "app/interrupt.h"
#include "app/line_editor.h"
#include "audio/pcm.h"
#include "synth/tone.h"

int32_t FrameCount(uint32_t sampleRate, float lengthSeconds) {
  const double frames = std::trunc(static_cast<double>(sampleRate) *
                                   static_cast<double>(lengthSeconds));
  if (!(frames > 0)) return 0;
  if (frames >= INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(frames);
}

namespace {

// Ctrl-C in the console stops the tone alone; any other caught signal now
// ends the program as it would have.
void EndToneSignals(const ToneSettings& settings) {
  const int signal = ReleaseToneSignals();
  if (signal != 0 && (signal != SIGINT || settings.oneShot)) {
    EndBySignal(signal);
  }
}

// Opens the settings' device at their rate, and leaves in sampleRate the
// rate it settled on, after a warning when that is another. A device that
// cannot be set up ends the program with status 1 after saying why.
PcmDevice OpenDevice(ToneSettings& settings) {
  PcmDevice device;
  PcmError err;
  const uint32_t requested = settings.sampleRate;
  if (!OpenPcm(settings.deviceName, requested, 2, &device, &err)) {
    switch (err.step) {
      case PcmStep::Open:
        fprintf(stderr, "unable to open pcm device: %s\n", PcmErrorText(err));
        Hint("%s", kListDevicesHint);
        break;
      case PcmStep::Format:
        fprintf(stderr, "Unable to set playback format: %s\n",
                PcmErrorText(err));
        printf("Try a different soundcard device name.\n");
        Hint("%s", kPlughwHint);
        break;
      default:
        fprintf(stderr, "unable to set hw parameters: %s\n", PcmErrorText(err));
        break;
    }
    exit(1);
  }
  settings.sampleRate = device.rate;
  if (device.rate != requested) {
    printf(
        "Warning Soundcard Did Not Return Requested Samplerate...this "
        "will affect tuning\n");
    printf("Samplerate = %i\n", static_cast<int>(device.rate));
    Hint("%s", kDeviceRateHint);
  }
  fflush(stdout);
  return device;
}

// Says when a frequency given in Hz cannot sound as given, at the rate
// the device settled on.
void HintPitchAtDeviceRate(const ToneSettings& settings) {
  if (!settings.oneShot && settings.pitchMode != PitchMode::Frequency) return;
  const std::string pitchHint = PitchHint(settings);
  if (!pitchHint.empty()) Hint("%s", pitchHint.c_str());
}

// The tone of settings, with the notes that sound with it, for frames.
Tone SettingsTone(const ToneSettings& settings, int64_t frames) {
  std::vector<float> frequencies = {settings.frequency};
  for (const NamedNote& note : settings.withNotes) {
    frequencies.push_back(NotePitch(settings, note));
  }
  return PlanTone(*settings.timbre, frequencies, settings.sampleRate,
                  settings.volumePercent, frames);
}

// A held tone's frames, made a buffer's worth at a time as playback asks
// for them. In the console a tone that the next play command brings is
// taken up here, at the next frame to be written.
struct HeldSource {
  HeldTone held;
  std::vector<int32_t> samples;
  std::vector<uint8_t> packed;
  std::mutex* lock = nullptr;  // guards the two below, when given
  bool* switching = nullptr;
  Tone* next = nullptr;
};

const uint8_t* ReadHeld(int64_t position, long count, void* context) {
  HeldSource& source = *static_cast<HeldSource*>(context);
  if (source.lock) {
    std::lock_guard<std::mutex> hold(*source.lock);
    if (*source.switching) {
      SwitchHeldTone(source.held, std::move(*source.next), position);
      *source.switching = false;
    }
  }
  const int32_t frames = static_cast<int32_t>(count);
  MakeHeldFrames(source.held, position, frames, source.samples.data());
  NUM24_TO_CHAR(source.samples.data(), source.packed.data(), frames);
  return source.packed.data();
}

void SizeHeldSource(HeldSource& source, const PcmDevice& device) {
  source.samples.resize(device.bufferFrames);
  source.packed.resize(3 * device.bufferFrames);
}

FrameSource HeldFrames(HeldSource& source) {
  FrameSource frames;
  frames.frames = kPlayUntilStopped;
  frames.read = ReadHeld;
  frames.context = &source;
  return frames;
}

// A line "RX" for each underrun, as it happens.
void SayUnderrun(const Countdown* countdown) {
  if (countdown) ClearCountdown(*countdown);
  printf("RX\n");
  fflush(stdout);
}

bool ToneSignalCaught(void*) { return *ToneSignalFlag() != 0; }

// The one-shot tone's countdown (the context) told of playback.
void OneShotUnderrun(void* countdown) {
  SayUnderrun(static_cast<const Countdown*>(countdown));
}

// A device that failed while a tone played: said, and the device closed so
// that a recording keeps what it got. The program then ends with status 1.
void FailedWrite(PcmDevice& device, const PcmError& err) {
  fprintf(stderr, "unable to write to pcm device: %s\n", PcmErrorText(err));
  ClosePcm(device);
}

// The tone held in the console: a player thread writes it to its device
// while the menu reads, and takes each next tone, Ctrl-C and the end from
// the console through the fields under lock and a wake-up on wakeFd.
struct HeldPlayer {
  std::mutex lock;
  bool switching = false;  // next is waiting to be played
  Tone next;
  int nextAfterSignals = 0;  // ToneSignalsCaught() when next was asked for
  // The tone sounding (or about to), for its status at a terminal.
  bool sounding = false;
  float soundingFrequency = 0;
  std::chrono::steady_clock::time_point soundingSince;
  std::atomic<bool> quit{false};
  int wakeFd = -1;
  PcmDevice device;  // the player's while it runs
  std::string deviceName;
  std::thread thread;
};

// One for the run; never freed, as the thread may end the program.
HeldPlayer* player = nullptr;

void Wake(const HeldPlayer& held) {
  const uint64_t one = 1;
  if (write(held.wakeFd, &one, sizeof one) < 0) {
    // Full: the player has yet to read the earlier wake-ups.
  }
}

bool HeldStopped(void* context) {
  return *ToneSignalFlag() != 0 ||
         static_cast<HeldPlayer*>(context)->quit.load();
}

void HeldUnderrun(void*) { SayUnderrun(nullptr); }

// Ends the program from the player thread: the device closed, the
// terminal given back.
[[noreturn]] void EndHeldBySignal(HeldPlayer& held, int signal) {
  ClosePcm(held.device);
  GiveTerminalBack();
  EndBySignal(signal);
}

[[noreturn]] void FailHeldWrite(HeldPlayer& held, const PcmError& err) {
  FailedWrite(held.device, err);
  GiveTerminalBack();
  fflush(stdout);
  fflush(stderr);
  _exit(1);
}

// Ctrl-C silences, also a tone asked for before it that has yet to start;
// another signal ends the program.
void TakeSignal(HeldPlayer& held) {
  const int signal = TakeToneSignal();
  if (signal == 0) return;
  if (signal != SIGINT) EndHeldBySignal(held, signal);
  std::lock_guard<std::mutex> hold(held.lock);
  if (held.switching && held.nextAfterSignals < ToneSignalsCaught()) {
    held.switching = false;
    held.sounding = false;
  }
}

void RunHeldPlayer(HeldPlayer* held) {
  HeldSource source;
  SizeHeldSource(source, held->device);
  source.lock = &held->lock;
  source.switching = &held->switching;
  source.next = &held->next;
  PlayControl control;
  control.stopped = HeldStopped;
  control.underrun = HeldUnderrun;
  control.context = held;
  for (;;) {
    pollfd wake = {held->wakeFd, POLLIN, 0};
    poll(&wake, 1, -1);
    uint64_t count = 0;
    if (read(held->wakeFd, &count, sizeof count) < 0) {
      // Nothing to read: woken by another turn of the loop.
    }
    TakeSignal(*held);
    if (held->quit) return;
    {
      std::lock_guard<std::mutex> hold(held->lock);
      if (!held->switching) continue;
      source.held = HeldTone();
      source.held.tone = std::move(held->next);
      held->switching = false;
    }
    PcmError err;
    if (!PreparePcm(held->device, &err) ||
        !PLAY(held->device, HeldFrames(source), control, nullptr, &err)) {
      FailHeldWrite(*held, err);
    }
    {
      std::lock_guard<std::mutex> hold(held->lock);
      if (!held->switching) held->sounding = false;
    }
    TakeSignal(*held);
  }
}

// Stops the player thread and closes its device.
void StopHeldPlayer() {
  if (player == nullptr || !player->thread.joinable()) return;
  player->quit = true;
  Wake(*player);
  player->thread.join();
  player->quit = false;
  ClosePcm(player->device);
}

// Starts the player thread on the settings' device, with every signal
// blocked in it so that they reach the console's thread.
void StartHeldPlayer(ToneSettings& settings) {
  player->device = OpenDevice(settings);
  player->deviceName = settings.deviceName;
  if (!AllocateWriteBuffers(player->device)) {
    fprintf(stderr, "not enough memory for a held tone\n");
    ClosePcm(player->device);
    exit(1);
  }
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &before);
  player->thread = std::thread(RunHeldPlayer, player);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

// Ctrl-C typed at the console: the tone is silenced, and its status goes
// from the line being typed at once.
void SilenceHeld(int signal) {
  NoteToneSignal(signal);
  std::lock_guard<std::mutex> hold(player->lock);
  player->sounding = false;
}

// The held tone's status, for the right of the line being typed: its
// frequency, the whole seconds since its play command and how to stop it;
// redrawn at the next whole second.
long HeldStatusAtRight(std::string* text) {
  std::lock_guard<std::mutex> hold(player->lock);
  if (!player->sounding) return -1;
  const long held = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - player->soundingSince)
          .count());
  *text =
      HeldStatus(player->soundingFrequency, held / 1000, kCtrlCSilencesXEnds);
  return 1000 - held % 1000;
}

// The console's play command under --hold: starts the tone, or switches
// to it, and returns.
bool PlayHeldInConsole(ToneSettings& settings) {
  // A Ctrl-C from here on comes after this request.
  const int signalsBefore = ToneSignalsCaught();
  printf("Frequency = %.2f Hz\n", settings.frequency);
  fflush(stdout);
  if (player == nullptr) {
    player = new HeldPlayer;
    player->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (player->wakeFd < 0) {
      fprintf(stderr, "larkhorn: no event descriptor for a held tone\n");
      exit(1);
    }
    CatchHeldToneSignals(player->wakeFd);
    SetInterruptHook(SilenceHeld);
    SetRightStatus(HeldStatusAtRight);
  }
  // Another device: the tone on the old one ends, and the new one opens.
  if (player->thread.joinable() && player->deviceName != settings.deviceName) {
    StopHeldPlayer();
  }
  if (!player->thread.joinable()) StartHeldPlayer(settings);
  HintPitchAtDeviceRate(settings);
  Tone tone = SettingsTone(settings, kEndless);
  {
    std::lock_guard<std::mutex> hold(player->lock);
    player->next = std::move(tone);
    player->nextAfterSignals = signalsBefore;
    player->switching = true;
    player->sounding = true;
    player->soundingFrequency = settings.frequency;
    player->soundingSince = std::chrono::steady_clock::now();
  }
  Wake(*player);
  return true;
}

}  // namespace

bool PlayTone(ToneSettings& settings) {
  if (settings.hold && !settings.oneShot) return PlayHeldInConsole(settings);
  printf("Frequency = %.2f Hz\n", settings.frequency);
  fflush(stdout);
  // From here on a signal lets the device be dropped and closed first.
  CatchToneSignals();
  // The device first: the tone is made at the rate it settles on, so that
  // it plays in tune and lasts as long as asked.
  PcmDevice device = OpenDevice(settings);
  HintPitchAtDeviceRate(settings);
  const int32_t n =
      settings.hold ? 0
                    : FrameCount(settings.sampleRate, settings.lengthSeconds);

  PackedBuffer packed = NewPackedBuffer(n);
  if (!packed || !AllocateWriteBuffers(device)) {
    ClosePcm(device);
    fprintf(stderr, "not enough memory for a tone of %i frames\n", n);
    EndToneSignals(settings);
    return false;
  }
  HeldSource held;
  FrameSource source;
  if (settings.hold) {
    held.held.tone = SettingsTone(settings, kEndless);
    SizeHeldSource(held, device);
    source = HeldFrames(held);
  } else {
    MakePackedTone(packed.get(), SettingsTone(settings, n), n);
    source = WholeTone(packed.get(), n);
  }
  Countdown countdown = StartCountdown(
      settings.frequency,
      settings.hold ? INFINITY : double(n) / settings.sampleRate);
  PlayControl control;
  control.stopped = ToneSignalCaught;
  control.progress = UpdateCountdown;
  control.underrun = OneShotUnderrun;
  control.context = &countdown;
  PcmError err;
  const bool played = PLAY(device, source, control, nullptr, &err);
  EraseCountdown(countdown);
  if (!played) {
    FailedWrite(device, err);
    exit(1);
  }
  // Closing the device lets a recording through ALSA's file plugin keep what
  // it got (its header is written at close).
  ClosePcm(device);
  EndToneSignals(settings);
  return true;
}

void EndHeldTone() {
  if (player == nullptr) return;
  StopHeldPlayer();
  const int signal = ReleaseToneSignals();
  SetInterruptHook(nullptr);
  SetRightStatus(nullptr);
  if (signal != 0 && signal != SIGINT) EndBySignal(signal);
}
