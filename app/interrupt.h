// Signals while a tone plays. SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGALRM,
// SIGUSR1 and SIGUSR2 are caught for the length of a tone so that the device
// can be dropped and closed before the program ends, and SIGXFSZ is ignored
// so that a write past a file-size limit fails instead; in the console
// Ctrl-C stops only the tone.
#ifndef LARKHORN_APP_INTERRUPT_H_
#define LARKHORN_APP_INTERRUPT_H_

#include <csignal>

// Handles the signal of the one-second timer below (SIGRTMIN) for the rest
// of the run, so that one that comes before a tone or late after it does
// nothing: it neither ends the program nor the read it finds. Called at
// start-up, and by CatchToneSignals if not yet.
void HandleTimerSignal();

// Catches those signals from now on, forgetting any caught before; those
// the caller ignores stay ignored. A second one before ReleaseToneSignals,
// or one second after the first, ends the program at once by the
// first: playback may be stuck inside the sound library.
void CatchToneSignals();

// As CatchToneSignals, for a tone that sounds while the console reads: a
// read they interrupt goes on, and each one caught is also told of by a
// write to wakeFd (an eventfd), so that a player waiting on it sees it.
void CatchHeldToneSignals(int wakeFd);

// The signal caught, or 0, forgotten so that the next can be caught: Ctrl-C
// silences a held tone and the console goes on.
int TakeToneSignal();

// How many signals have been caught in the run: a Ctrl-C that a player
// takes late silences the requests made before it, not those after.
int ToneSignalsCaught();

// Takes signal as caught, unless one is already: for a reader that handles
// Ctrl-C itself.
void NoteToneSignal(int signal);

// Nonzero once one of them has been caught: what playback checks.
const volatile sig_atomic_t* ToneSignalFlag();

// Gives the signals back the actions they had, stops the one-second timer
// and returns the one caught since CatchToneSignals, or 0.
int ReleaseToneSignals();

// Ends the process as the signal would have, standard output flushed.
[[noreturn]] void EndBySignal(int signal);

#endif  // LARKHORN_APP_INTERRUPT_H_
