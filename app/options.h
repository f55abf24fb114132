// The command line: its options, each written once in one table that the
// parser, the usage line, --help's option lines and the unknown-option
// message all read, and the arguments that follow them.
#ifndef LARKHORN_APP_OPTIONS_H_
#define LARKHORN_APP_OPTIONS_H_

#include <string>
#include <vector>

#include "app/settings.h"

// What the options say about the rest of the command line.
struct CommandLine {
  bool noteGiven = false;    // a note takes the frequency's place
  bool deviceGiven = false;  // no argument may name another
};

// An option that sets something before the arguments, as --name value or
// --name=value, or as --name alone when it takes no value.
struct Option {
  const char* name;
  const char* valueName;  // what the usage line calls its value, or nullptr
  // Shown in place of the frequency argument, as its alternative.
  bool replacesFrequency;
  std::string help;      // --help's lines after the name, joined by "\n"
  std::string accepted;  // what a value must be, for the messages
  // Applies value; false when it is not accepted.
  bool (*apply)(const std::string& value, ToneSettings& settings,
                CommandLine& line);
};

// An option that prints a text and is given alone.
struct AloneOption {
  const char* name;
  const char* alias;  // or nullptr
  std::string (*text)();
};

// The options in the order --help and the usage line give them.
const std::vector<Option>& Options();
const std::vector<AloneOption>& AloneOptions();

// The line that sums up the options, printed after a bad one.
std::string UsageLine();

// Applies argv's options, then its frequency, length and device to
// settings; sets oneShot when there is a frequency or a note. False, with
// *err saying what is wrong, when an option or its value is not accepted.
// Otherwise *hints gets a line for each argument that does not play as a
// newcomer may expect: a frequency that is no number (silence; a note's
// name says which --note it means), a length out of range, a frequency
// above half the sample rate.
bool ParseCommandLine(int argc, const char* const* argv, ToneSettings& settings,
                      std::string* err, std::vector<std::string>* hints);

// The text of a lone option (--help, -h, --version, --list-devices); empty
// for every other command line, which then means a tone or the console.
std::string InfoText(int argc, const char* const* argv);

// Prints InfoText to standard output and returns the exit status: 0, or 1
// when standard output cannot be written. Returns -1, printing nothing, when
// the command line asks for no text.
int PrintInfo(int argc, const char* const* argv);

#endif  // LARKHORN_APP_OPTIONS_H_
