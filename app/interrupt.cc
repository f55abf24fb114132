#include "app/interrupt.h"

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Those that would end the program during a tone, and leave a recording
// half written: a closed output pipe, an alarm, the user signals, as well as
// the interactive and hang-up ones.
const int kToneSignals[] = {SIGINT,  SIGTERM, SIGHUP, SIGPIPE,
                            SIGALRM, SIGUSR1, SIGUSR2};
const int kSignalCount = sizeof kToneSignals / sizeof kToneSignals[0];
// A file-size limit makes the write fail instead, and that is reported.
const int kIgnoredSignal = SIGXFSZ;
// A device stuck inside the sound library never lets playback see a
// signal: this long after the first, the program ends as a second would.
const time_t kStuckSeconds = 1;

volatile sig_atomic_t caughtSignal = 0;
// Every signal caught, so that a request can tell whether one came after
// it; lock-free, and so safe in a handler.
std::atomic<int> signalsCaught{0};
static_assert(ATOMIC_INT_LOCK_FREE == 2, "a handler needs a lock-free count");
// The actions the signals had before, restored after the tone.
struct sigaction previous[kSignalCount];
bool caught[kSignalCount];
struct sigaction previousIgnored;
bool ignoring = false;

// Told of each signal caught while a held tone sounds in the console.
int wakeFd = -1;

// Fires kStuckSeconds after the first signal of a tone.
timer_t stuckTimer;
volatile sig_atomic_t timerArmed = 0;
bool timerMade = false;
bool timerSignalHandled = false;

// Ends the program now by the signal caught, as its default action does.
void EndNow() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigaction(caughtSignal, &action, nullptr);
  raise(caughtSignal);  // delivered when the handler returns
}

// A second signal during the same tone ends the program at once, in case
// playback is stuck inside the sound library and never sees the first.
void Catch(int signal) {
  ++signalsCaught;
  // Compared and set at once: in the held console the player thread takes
  // the signal (TakeToneSignal) while this runs in the console's thread.
  int none = 0;
  if (!__atomic_compare_exchange_n(&caughtSignal, &none, signal, false,
                                   __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
    // Ctrl-C again before the player silenced the tone asks the same; a
    // stuck player is still ended by the timer.
    if (wakeFd >= 0 && signal == SIGINT && none == SIGINT) return;
    EndNow();
    return;
  }
  if (timerMade) {
    itimerspec when{};
    when.it_value.tv_sec = kStuckSeconds;
    timerArmed = 1;
    timer_settime(stuckTimer, 0, &when, nullptr);
  }
  if (wakeFd >= 0) {
    const int savedErrno = errno;
    const uint64_t one = 1;
    if (write(wakeFd, &one, sizeof one) < 0) {
      // Full: the player has yet to read the earlier ones.
    }
    errno = savedErrno;
  }
}

// The timer's signal: a late one, after the tone, does nothing.
void Expire(int) {
  if (timerArmed && caughtSignal != 0) EndNow();
}

int TimerSignal() { return SIGRTMIN; }

// The signals held off while a handler of one of them runs.
sigset_t HandlersMask() {
  sigset_t mask;
  sigemptyset(&mask);
  for (int signal : kToneSignals) sigaddset(&mask, signal);
  sigaddset(&mask, TimerSignal());
  return mask;
}

// Makes the timer, once its signal is handled.
void MakeStuckTimer() {
  sigevent event{};
  event.sigev_notify = SIGEV_SIGNAL;
  event.sigev_signo = TimerSignal();
  timerMade = timerSignalHandled &&
              timer_create(CLOCK_MONOTONIC, &event, &stuckTimer) == 0;
}

}  // namespace

void HandleTimerSignal() {
  if (timerSignalHandled) return;
  struct sigaction action {};
  action.sa_handler = Expire;
  action.sa_mask = HandlersMask();
  // One at the console's prompt must not end the read it finds.
  action.sa_flags = SA_RESTART;
  timerSignalHandled = sigaction(TimerSignal(), &action, nullptr) == 0;
}

namespace {

void CatchSignals(int flags) {
  caughtSignal = 0;
  timerArmed = 0;
  struct sigaction action {};
  action.sa_handler = Catch;
  action.sa_mask = HandlersMask();
  action.sa_flags = flags;
  HandleTimerSignal();
  MakeStuckTimer();
  for (int i = 0; i < kSignalCount; ++i) {
    sigaction(kToneSignals[i], nullptr, &previous[i]);
    // A signal the caller ignores (nohup, a background job) stays ignored.
    caught[i] = previous[i].sa_handler != SIG_IGN;
    if (caught[i]) sigaction(kToneSignals[i], &action, nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ignoring = sigaction(kIgnoredSignal, &ignore, &previousIgnored) == 0;
}

}  // namespace

// No SA_RESTART: sleeps and waits return early to see the signal.
void CatchToneSignals() { CatchSignals(0); }

void CatchHeldToneSignals(int fd) {
  wakeFd = fd;
  CatchSignals(SA_RESTART);
}

int ToneSignalsCaught() { return signalsCaught.load(); }

int TakeToneSignal() {
  timerArmed = 0;
  // Read and cleared at once, so that a signal caught in between is kept.
  return __atomic_exchange_n(&caughtSignal, 0, __ATOMIC_SEQ_CST);
}

// Typed, not sent: a second Ctrl-C before the first is taken is the same
// request, and never ends the program.
void NoteToneSignal(int signal) {
  if (caughtSignal == 0) Catch(signal);
}

const volatile sig_atomic_t* ToneSignalFlag() { return &caughtSignal; }

int ReleaseToneSignals() {
  timerArmed = 0;
  wakeFd = -1;
  if (timerMade) timer_delete(stuckTimer);
  timerMade = false;
  for (int i = 0; i < kSignalCount; ++i) {
    if (caught[i]) sigaction(kToneSignals[i], &previous[i], nullptr);
    caught[i] = false;
  }
  if (ignoring) sigaction(kIgnoredSignal, &previousIgnored, nullptr);
  ignoring = false;
  return caughtSignal;
}

void EndBySignal(int signal) {
  fflush(stdout);
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigaction(signal, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  _exit(128 + signal);
}
