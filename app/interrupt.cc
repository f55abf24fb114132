#include "app/interrupt.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

const int kToneSignals[] = {SIGINT, SIGTERM, SIGHUP};
const int kSignalCount = sizeof kToneSignals / sizeof kToneSignals[0];

volatile sig_atomic_t caughtSignal = 0;
// The actions the signals had before, restored after the tone.
struct sigaction previous[kSignalCount];
bool caught[kSignalCount];

// A second signal during the same tone ends the program at once, in case
// playback is stuck inside the sound library and never sees the first.
void Catch(int signal) {
  if (caughtSignal != 0) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigaction(signal, &action, nullptr);
    raise(signal);  // delivered when this handler returns
    return;
  }
  caughtSignal = signal;
}

}  // namespace

void CatchToneSignals() {
  caughtSignal = 0;
  struct sigaction action {};
  action.sa_handler = Catch;
  sigemptyset(&action.sa_mask);
  for (int signal : kToneSignals) sigaddset(&action.sa_mask, signal);
  // No SA_RESTART: sleeps and waits return early to see the signal.
  action.sa_flags = 0;
  for (int i = 0; i < kSignalCount; ++i) {
    sigaction(kToneSignals[i], nullptr, &previous[i]);
    // A signal the caller ignores (nohup, a background job) stays ignored.
    caught[i] = previous[i].sa_handler != SIG_IGN;
    if (caught[i]) sigaction(kToneSignals[i], &action, nullptr);
  }
}

const volatile sig_atomic_t* ToneSignalFlag() { return &caughtSignal; }

int ReleaseToneSignals() {
  for (int i = 0; i < kSignalCount; ++i) {
    if (caught[i]) sigaction(kToneSignals[i], &previous[i], nullptr);
    caught[i] = false;
  }
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
