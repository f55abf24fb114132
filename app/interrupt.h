// Signals while a tone plays. SIGINT, SIGTERM and SIGHUP are caught for the
// length of a tone so that the device can be dropped and closed before the
// program ends; in the console Ctrl-C stops only the tone.
#ifndef LARKHORN_APP_INTERRUPT_H_
#define LARKHORN_APP_INTERRUPT_H_

#include <csignal>

// Catches SIGINT, SIGTERM and SIGHUP from now on, forgetting any caught
// before; those the caller ignores stay ignored. A second one before
// ReleaseToneSignals ends the program at once.
void CatchToneSignals();

// Nonzero once one of them has been caught: what playback checks.
const volatile sig_atomic_t* ToneSignalFlag();

// Gives the signals back the actions they had and returns the one caught
// since CatchToneSignals, or 0.
int ReleaseToneSignals();

// Ends the process as the signal would have, standard output flushed.
[[noreturn]] void EndBySignal(int signal);

#endif  // LARKHORN_APP_INTERRUPT_H_
