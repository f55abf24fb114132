#include "app/interrupt.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

const int kToneSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t caughtSignal = 0;

void Catch(int signal) { caughtSignal = signal; }

void SetAction(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a wait on the device returns at once to see the signal.
  action.sa_flags = 0;
  for (int signal : kToneSignals) sigaction(signal, &action, nullptr);
}

}  // namespace

void CatchToneSignals() {
  caughtSignal = 0;
  SetAction(Catch);
}

const volatile sig_atomic_t* ToneSignalFlag() { return &caughtSignal; }

int ReleaseToneSignals() {
  SetAction(SIG_DFL);
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
