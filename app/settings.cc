#include "app/settings.h"

#include <cfloat>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/devices.h"
#include "pitch/note.h"

namespace {

const char kA4Option[] = "--a4";
const char kTemperamentOption[] = "--temperament";
const char kNoteOption[] = "--note";

// Every standard from baroque to the highest orchestral pitch, with room.
const double kLowestConcertPitch = 380;
const double kHighestConcertPitch = 500;

std::string Number(double value) {
  char text[32];
  snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string ConcertPitchRange() {
  return "a concert pitch in Hz from " + Number(kLowestConcertPitch) + " to " +
         Number(kHighestConcertPitch);
}

// printf into a std::string, for the help's aligned lines.
std::string Format(const char* format, ...)
    __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  const int size = vsnprintf(nullptr, 0, format, args);
  std::string text(size > 0 ? size : 0, '\0');
  vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  va_end(args);
  return text;
}

std::string OptionsHelp() {
  std::string text = Format(
      "\nOptions come before the other arguments, as %s 442 or %s=442:\n",
      kA4Option, kA4Option);
  text += Format("  %-18s  the frequency of A4, %g to %g Hz (default %g)\n",
                 (std::string(kA4Option) + " HZ").c_str(), kLowestConcertPitch,
                 kHighestConcertPitch, kStandardConcertPitch);
  text += Format("  %-18s  how the twelve notes are tuned (default %s)\n",
                 (std::string(kTemperamentOption) + " NAME").c_str(),
                 Temperaments().front().name);
  text += Format(
      "  %-18s  play one note by its scientific pitch name, as E2 or C#4:\n"
      "  %-18s  a letter A-G, an optional # or b, an octave 0-9;\n"
      "  %-18s  then the arguments are [seconds [device]]\n",
      (std::string(kNoteOption) + " NAME").c_str(), "", "");
  text += Format(
      "Note names, string presets and %s follow %s and %s;\n"
      "a frequency in Hz plays as given.\n",
      kNoteOption, kA4Option, kTemperamentOption);
  text +=
      "\nTemperaments, by the eleven fifths of the chain "
      "Eb-Bb-F-C-G-D-A-E-B-F#-C#-G#:\n"
      "each is a pure fifth (3/2) narrowed by a share of the Pythagorean "
      "comma PC\n"
      "(23.46 cents), the syntonic comma SC (21.51 cents) or the schisma "
      "PC-SC\n"
      "(1.95 cents); the fifths not named are pure. A keeps the concert "
      "pitch.\n";
  for (const Temperament& temperament : Temperaments()) {
    text += Format("  %-14s %s: %s\n", temperament.name, temperament.title,
                   temperament.definition);
  }
  text += Format(
      "\nOctaves in the menu run from A to G#: octave 0 from A4 (the concert "
      "pitch)\n"
      "to G#5. Scientific octaves start at C, so C4 (middle C) is c in octave "
      "-1.\n"
      "  A0-G#1 -4   A1-G#2 -3   A2-G#3 -2   A3-G#4 -1   A4-G#5 0   A5-G#6 "
      "1\n"
      "\nOther strings, as notes and octaves in the menu (or with %s):\n",
      kNoteOption);
  text +=
      "  violin           G3 D4 A4 E5     g -2, d -1, a 0, e 0\n"
      "  viola            C3 G3 D4 A4     c -2, g -2, d -1, a 0\n"
      "  cello            C2 G2 D3 A3     c -3, g -3, d -2, a -1\n"
      "  ukulele          G4 C4 E4 A4     g -1, c -1, e -1, a 0\n"
      "  7-string guitar  B1 below G6     b -3\n"
      "  5-string bass    B0 below B4     b -4\n"
      "  drop D           D2 for G6       d -3 (the B2 preset)\n";
  return text;
}

}  // namespace

std::string UsageLine() {
  return Format(
      "usage: larkhorn [%s HZ] [%s NAME] [%s NAME | frequency] "
      "[seconds [device]]",
      kA4Option, kTemperamentOption, kNoteOption);
}

std::string Printable(const std::string& text) {
  const size_t kShownBytes = 40;
  std::string shown = "'";
  for (size_t i = 0; i < text.size() && i < kShownBytes; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    // No byte of the user's may drive the terminal.
    shown += c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?';
  }
  if (text.size() > kShownBytes) shown += "...";
  return shown + "'";
}

float ToSingle(double value) {
  // Halfway between FLT_MAX and the next power of two rounds to infinity.
  const double overflow = 0x1.ffffffp127;
  if (value >= overflow) return INFINITY;
  if (value <= -overflow) return -INFINITY;
  return static_cast<float>(value);
}

float ClampLength(float seconds) {
  if (seconds > 120.0f) return 120.0f;
  if (!(seconds >= 1.0f)) return 1.0f;
  return seconds;
}

std::string InfoText(int argc, const char* const* argv) {
  if (argc != 2) return "";
  if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0) {
    return "larkhorn <frequency in Hz> <time in seconds> <soundcard device>\n"
           "Without arguments larkhorn runs an interactive menu; enter h there "
           "for help.\n"
           "To record a WAV file instead, give the device as "
           "file:NAME.wav,wav\n"
           "larkhorn --list-devices lists the soundcard device names\n" +
           UsageLine() + "\n" + OptionsHelp();
  }
  if (strcmp(argv[1], "--list-devices") == 0) {
    std::string text;
    for (const HintedDevice& device : PlaybackDevices()) {
      text += device.name;
      if (!device.description.empty()) text += "  " + device.description;
      text += "\n";
    }
    return text;
  }
  if (strcmp(argv[1], "--version") == 0)
    return "Larkhorn " LARKHORN_VERSION "\n";
  return "";
}

int PrintInfo(int argc, const char* const* argv) {
  const std::string text = InfoText(argc, argv);
  if (text.empty()) return -1;
  // A full disk or closed pipe must not pass for success.
  const bool written = fputs(text.c_str(), stdout) >= 0 && fflush(stdout) == 0;
  return written ? 0 : 1;
}

bool OtherTuning(const ToneSettings& settings) {
  return settings.concertPitch != kStandardConcertPitch ||
         settings.temperament != &Temperaments().front();
}

float NotePitch(const ToneSettings& settings) {
  return static_cast<float>(NoteFrequency(settings.noteName, settings.octave,
                                          settings.concertPitch,
                                          *settings.temperament));
}

namespace {

// The value of option name at argv[*index], as --name=value or --name value
// (then *index moves on to it); *missing when the value is not there. False
// when the argument is not that option.
bool OptionValue(int argc, const char* const* argv, const char* name,
                 int* index, std::string* value, bool* missing) {
  const std::string arg = argv[*index];
  const std::string prefix = std::string(name) + "=";
  *missing = false;
  if (arg.compare(0, prefix.size(), prefix) == 0) {
    *value = arg.substr(prefix.size());
    return true;
  }
  if (arg != name) return false;
  *missing = *index + 1 >= argc;
  if (!*missing) *value = argv[++*index];
  return true;
}

// A number that takes up the whole text.
bool ParseWholeDouble(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = strtod(text.c_str(), &end);
  return end == text.c_str() + text.size();
}

// Reads the option at argv[*index] into settings; *noteGiven says that the
// note's frequency is still to be worked out, once every option is read.
// Returns what is wrong, or "".
std::string ParseOption(int argc, const char* const* argv, int* index,
                        ToneSettings& settings, bool* noteGiven) {
  std::string value;
  bool missing = false;
  const char* name = nullptr;
  std::string accepted;
  if (OptionValue(argc, argv, kA4Option, index, &value, &missing)) {
    name = kA4Option;
    accepted = ConcertPitchRange();
    double pitch = 0;
    if (!missing && ParseWholeDouble(value, &pitch) &&
        pitch >= kLowestConcertPitch && pitch <= kHighestConcertPitch) {
      settings.concertPitch = pitch;
      return "";
    }
  } else if (OptionValue(argc, argv, kTemperamentOption, index, &value,
                         &missing)) {
    name = kTemperamentOption;
    accepted = "one of the temperaments " + TemperamentNames();
    const Temperament* temperament = FindTemperament(value);
    if (!missing && temperament != nullptr) {
      settings.temperament = temperament;
      return "";
    }
  } else if (OptionValue(argc, argv, kNoteOption, index, &value, &missing)) {
    name = kNoteOption;
    accepted =
        "a note name: a letter A-G, an optional # or b and an octave 0-9, as "
        "E2 or C#4";
    std::string noteName;
    double octave = 0;
    if (!missing && ParseScientificName(value, &noteName, &octave)) {
      settings.noteName = noteName;
      settings.octave = octave;
      *noteGiven = true;
      return "";
    }
  } else {
    return "unrecognised option " + Printable(argv[*index]) +
           ": the options are " + kA4Option + " HZ, " + kTemperamentOption +
           " NAME and " + kNoteOption +
           " NAME, before the other arguments, or --help, --version or "
           "--list-devices alone";
  }
  if (missing) return std::string(name) + " needs a value: " + accepted;
  return std::string(name) + " " + Printable(value) + " is not " + accepted;
}

}  // namespace

std::string ParseCommandLine(int argc, const char* const* argv,
                             ToneSettings& settings) {
  int first = 1;
  bool noteGiven = false;
  for (; first < argc && strncmp(argv[first], "--", 2) == 0; ++first) {
    const std::string error =
        ParseOption(argc, argv, &first, settings, &noteGiven);
    if (!error.empty()) return error;
  }
  // What follows the options keeps the rules it has without them; a note
  // takes the frequency's place.
  std::vector<const char*> args(argv + first, argv + argc);
  if (noteGiven) {
    if (args.size() > 2) {
      return "one argument too many, " + Printable(args[2]) + ": with " +
             kNoteOption + " the arguments are [seconds [device]]";
    }
    settings.frequency = NotePitch(settings);
    settings.oneShot = true;
    args.insert(args.begin(), nullptr);
  } else if (!args.empty()) {
    settings.frequency = ToSingle(strtod(args[0], nullptr));
    settings.oneShot = true;
  }
  if (args.size() >= 2) {
    settings.lengthSeconds = ClampLength(ToSingle(strtod(args[1], nullptr)));
  }
  if (args.size() == 3) settings.deviceName = args[2];
  return "";
}
