#include "app/options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/hint.h"
#include "app/listen_request.h"
#include "audio/devices.h"
#include "pitch/note.h"

namespace {

const char kA4Option[] = "--a4";
const char kTemperamentOption[] = "--temperament";
const char kNoteOption[] = "--note";
const char kTimbreOption[] = "--timbre";
const char kWithOption[] = "--with";
const char kCentsOption[] = "--cents";
const char kTransposeOption[] = "--transpose";
const char kListenOption[] = "--listen";
const char kListCaptureDevicesOption[] = "--list-capture-devices";
const char kHoldOption[] = "--hold";
const char kDeviceOption[] = "--device";

// Every standard from baroque to the highest orchestral pitch, with room.
const double kLowestConcertPitch = 380;
const double kHighestConcertPitch = 500;

// A semitone either way; two octaves either way.
const double kMostCents = 100;
const int kMostSemitones = 24;

// Notes sounding with the tone, besides its own.
const size_t kMostWithNotes = 3;

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

// A number that takes up the whole text.
bool ParseWholeDouble(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = strtod(text.c_str(), &end);
  return end == text.c_str() + text.size();
}

bool ApplyConcertPitch(const std::string& value, ToneSettings& settings,
                       CommandLine&) {
  double pitch = 0;
  if (!ParseWholeDouble(value, &pitch) ||
      !(pitch >= kLowestConcertPitch && pitch <= kHighestConcertPitch)) {
    return false;
  }
  settings.tuning.concertPitch = pitch;
  return true;
}

bool ApplyTemperament(const std::string& value, ToneSettings& settings,
                      CommandLine&) {
  const Temperament* temperament = FindTemperament(value);
  if (temperament == nullptr) return false;
  settings.tuning.temperament = temperament;
  return true;
}

bool ApplyTimbre(const std::string& value, ToneSettings& settings,
                 CommandLine&) {
  const Timbre* timbre = FindTimbre(value);
  if (timbre == nullptr) return false;
  settings.timbre = timbre;
  return true;
}

// Scientific names separated by commas, none of them empty.
bool ApplyWith(const std::string& value, ToneSettings& settings, CommandLine&) {
  std::vector<NamedNote> notes;
  size_t start = 0;
  while (notes.size() < kMostWithNotes) {
    const size_t comma = std::min(value.find(',', start), value.size());
    NamedNote note;
    if (!ParseScientificName(value.substr(start, comma - start), &note.noteName,
                             &note.octave)) {
      return false;
    }
    notes.push_back(note);
    if (comma == value.size()) {
      settings.withNotes = notes;
      return true;
    }
    start = comma + 1;
  }
  return false;
}

bool ApplyCents(const std::string& value, ToneSettings& settings,
                CommandLine&) {
  double cents = 0;
  if (!ParseWholeDouble(value, &cents) ||
      !(cents >= -kMostCents && cents <= kMostCents)) {
    return false;
  }
  settings.tuning.cents = cents;
  return true;
}

bool ApplyTranspose(const std::string& value, ToneSettings& settings,
                    CommandLine&) {
  if (value.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long semitones = strtol(value.c_str(), &end, 10);
  if (end != value.c_str() + value.size() || errno != 0 ||
      semitones < -kMostSemitones || semitones > kMostSemitones) {
    return false;
  }
  settings.tuning.transpose = static_cast<int>(semitones);
  return true;
}

// The note's frequency is worked out once every option is read.
bool ApplyNote(const std::string& value, ToneSettings& settings,
               CommandLine& line) {
  if (!ParseScientificName(value, &settings.noteName, &settings.octave)) {
    return false;
  }
  line.noteGiven = true;
  return true;
}

bool ApplyListen(const std::string&, ToneSettings& settings, CommandLine&) {
  settings.listen = true;
  return true;
}

bool ApplyHold(const std::string&, ToneSettings& settings, CommandLine&) {
  settings.hold = true;
  return true;
}

bool ApplyDevice(const std::string& value, ToneSettings& settings,
                 CommandLine& line) {
  if (value.empty()) return false;
  settings.deviceName = value;
  line.deviceGiven = true;
  return true;
}

// The usage error for a device argument after --device.
std::string DeviceNamedTwice(const char* arg) {
  return "the device is named twice, by " + std::string(kDeviceOption) +
         " and by " + Printable(arg);
}

// A tone's arguments, its frequency (or nullptr for a note) first, when
// an option names the device or holds the tone: no argument may then name
// the device, nor give a held tone a length.
bool CheckArguments(const std::vector<const char*>& args,
                    const ToneSettings& settings, const CommandLine& line,
                    const char* shape, std::string* err) {
  const size_t deviceAt = 2;
  if (settings.hold && args.size() > 1) {
    *err = std::string("a held tone has no length, ") + Printable(args[1]) +
           ": with " + kHoldOption + " the arguments are " + shape;
    return false;
  }
  if (line.deviceGiven && args.size() > deviceAt) {
    *err = DeviceNamedTwice(args[deviceAt]);
    return false;
  }
  return true;
}

std::string OptionWithValue(const Option& option) {
  if (option.valueName == nullptr) return option.name;
  return std::string(option.name) + " " + option.valueName;
}

// "a, b and c", or with another last word.
std::string Listing(const std::vector<std::string>& items, const char* last) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0)
      text += i + 1 == items.size() ? std::string(" ") + last + " " : ", ";
    text += items[i];
  }
  return text;
}

std::string OptionLines() {
  size_t width = 0;
  for (const Option& option : Options()) {
    width = std::max(width, OptionWithValue(option).size());
  }
  std::string text;
  for (const Option& option : Options()) {
    std::string name = OptionWithValue(option);
    size_t start = 0;
    while (start <= option.help.size()) {
      size_t end = option.help.find('\n', start);
      if (end == std::string::npos) end = option.help.size();
      text += Format("  %-*s  %s\n", static_cast<int>(width), name.c_str(),
                     option.help.substr(start, end - start).c_str());
      name.clear();
      start = end + 1;
    }
  }
  return text;
}

// The beats of two notes at the default tuning: where partial a of the
// lower meets partial b of the upper.
double BeatsPerSecond(const char* lower, int a, const char* upper, int b) {
  std::string name;
  double octave = 0;
  ParseScientificName(lower, &name, &octave);
  const double low = NoteFrequency(name, octave, Tuning());
  ParseScientificName(upper, &name, &octave);
  return std::fabs(a * low - b * NoteFrequency(name, octave, Tuning()));
}

std::string TimbresHelp() {
  std::string text = Format(
      "\nTimbres (%s), each note's harmonics below %g times the rate (a "
      "note\nwith none is silent, but for a lone sine):\n",
      kTimbreOption, kHighestPartialShare);
  for (const Timbre& timbre : Timbres()) {
    text += Format("  %-7s %s\n", timbre.name, timbre.help.c_str());
  }
  text +=
      "Laptop and small speakers play little below 150-200 Hz, so a low "
      "string's\n"
      "sine is barely heard on them; bright's harmonics are, and the ear "
      "hears the\n"
      "note from them. warm and bright fade in and out over whole cycles.\n";
  text += Format(
      "\nTuning by beats with %s: two notes beat where their partials "
      "nearly meet.\n"
      "In equal temperament C4 and G4 beat %.2f times a second (C4's third "
      "partial\n"
      "against G4's second), C4 and E4 %.2f times (fifth against fourth); "
      "a pure\n"
      "fifth or third does not beat. Use warm or bright: a sine has no "
      "partials.\n",
      kWithOption, BeatsPerSecond("C4", 3, "G4", 2),
      BeatsPerSecond("C4", 5, "E4", 4));
  text += Format(
      "\nTransposing instruments (%s): -2 Bb clarinet, trumpet, soprano "
      "sax;\n"
      "-3 A clarinet; -7 horn in F; -9 Eb alto sax; -14 tenor sax; -21 "
      "baritone sax.\n",
      kTransposeOption);
  return text;
}

std::string OptionsHelp() {
  std::string text = Format(
      "\nOptions come before the other arguments, as %s 442 or %s=442:\n",
      kA4Option, kA4Option);
  text += OptionLines();
  text += Format(
      "Note names, string presets, %s and %s follow %s, %s,\n"
      "%s and %s; a frequency in Hz plays as given.\n",
      kNoteOption, kWithOption, kA4Option, kTemperamentOption, kCentsOption,
      kTransposeOption);
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
  text += TimbresHelp();
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

std::string HelpText() {
  return "larkhorn <frequency in Hz> <time in seconds> <soundcard device>\n"
         "Without arguments larkhorn runs an interactive menu; enter h there "
         "for help.\n"
         "To record a WAV file instead, give the device as "
         "file:NAME.wav,wav\n"
         "larkhorn --list-devices lists the soundcard device names\n" +
         UsageLine() + "\n" + OptionsHelp();
}

std::string VersionText() { return "Larkhorn " LARKHORN_VERSION "\n"; }

std::string DeviceLines(const std::vector<HintedDevice>& devices) {
  std::string text;
  for (const HintedDevice& device : devices) {
    text += device.name;
    if (!device.description.empty()) text += "  " + device.description;
    text += "\n";
  }
  return text;
}

std::string DevicesText() { return DeviceLines(PlaybackDevices()); }

std::string CaptureDevicesText() { return DeviceLines(CaptureDevices()); }

// The option at argv[*index], its value as --name=value or --name value
// (then *index moves on to it); *missing when the value is not there. Null
// when the argument is no option.
const Option* ReadOption(int argc, const char* const* argv, int* index,
                         std::string* value, bool* missing) {
  const std::string arg = argv[*index];
  *missing = false;
  for (const Option& option : Options()) {
    if (option.valueName == nullptr) {
      if (arg == option.name) return &option;
      continue;
    }
    const std::string prefix = std::string(option.name) + "=";
    if (arg.compare(0, prefix.size(), prefix) == 0) {
      *value = arg.substr(prefix.size());
      return &option;
    }
    if (arg != option.name) continue;
    *missing = *index + 1 >= argc;
    if (!*missing) *value = argv[++*index];
    return &option;
  }
  return nullptr;
}

std::string UnrecognisedOption(const std::string& arg) {
  std::vector<std::string> options, alone;
  for (const Option& option : Options()) {
    options.push_back(OptionWithValue(option));
  }
  for (const AloneOption& option : AloneOptions()) {
    alone.push_back(option.name);
  }
  return "unrecognised option " + Printable(arg) + ": the options are " +
         Listing(options, "and") + ", before the other arguments, or " +
         Listing(alone, "or") + " alone";
}

// Reads the option at argv[*index] into settings and line.
bool ParseOption(int argc, const char* const* argv, int* index,
                 ToneSettings& settings, CommandLine& line, std::string* err) {
  std::string value;
  bool missing = false;
  const Option* option = ReadOption(argc, argv, index, &value, &missing);
  if (option == nullptr) {
    *err = UnrecognisedOption(argv[*index]);
    return false;
  }
  if (missing) {
    *err = std::string(option->name) + " needs a value: " + option->accepted;
    return false;
  }
  if (!option->apply(value, settings, line)) {
    *err = std::string(option->name) + " " + Printable(value) + " is not " +
           option->accepted;
    return false;
  }
  return true;
}

// Listening's arguments: [seconds [device]].
bool ParseListenArguments(const std::vector<const char*>& args,
                          ToneSettings& settings, std::string* err) {
  if (args.size() > 2) {
    *err = "one argument too many, " + Printable(args[2]) + ": with " +
           kListenOption + " the arguments are [seconds [device]]";
    return false;
  }
  if (!args.empty()) {
    double seconds = 0;
    // inf or none listens until stopped, on a device named after it.
    if (strcmp(args[0], kListenUntilStopped) == 0) {
      seconds = INFINITY;
    } else if (!ParseWholeDouble(args[0], &seconds) ||
               !(seconds >= kShortestListenSeconds)) {
      *err = std::string("the seconds to listen for, ") + Printable(args[0]) +
             ", are not a number from " + Format("%g", kShortestListenSeconds) +
             " up, inf or " + kListenUntilStopped;
      return false;
    }
    settings.listenSeconds = seconds;
  }
  if (args.size() == 2) settings.deviceName = args[1];
  return true;
}

// The hint for a first argument in which strtod finds no number.
std::string NotAFrequency(const std::string& arg) {
  const std::string note = std::string(kNoteOption) + " ";
  std::string meant = "a note by name is " + note + "E2";
  std::string name;
  double octave = 0;
  // A note's letter may come in either case: the menu's names are in lower
  // case, and a scientific name is shown with a capital.
  std::string scientific = arg, menuName = arg;
  if (!arg.empty()) {
    scientific[0] =
        static_cast<char>(toupper(static_cast<unsigned char>(arg[0])));
    menuName[0] =
        static_cast<char>(tolower(static_cast<unsigned char>(arg[0])));
  }
  if (const StringPreset* preset = FindPreset(arg)) {
    meant = "the string " + arg + " is " + note +
            ScientificName(preset->noteName, static_cast<int>(preset->octave)) +
            ", the note " + arg + " " + note + arg;
  } else if (ParseScientificName(arg, &name, &octave)) {
    meant = "the note " + scientific + " is " + note + scientific;
  } else if (IsNoteName(menuName)) {
    meant = "the note " + menuName + " in the menu's octave 0 is " + note +
            ScientificName(menuName, 0);
  }
  return Printable(arg) + kNotAFrequency + meant;
}

std::string LengthClamped(const std::string& arg, float seconds) {
  return Format("%s%s%g to %g seconds: the tone lasts %g s",
                Printable(arg).c_str(), kNotALength, kShortestSeconds,
                kLongestSeconds, seconds);
}

}  // namespace

const std::vector<Option>& Options() {
  static const std::vector<Option> options = {
      {kA4Option, "HZ", false,
       Format("the frequency of A4, %g to %g Hz (default %g)",
              kLowestConcertPitch, kHighestConcertPitch, kStandardConcertPitch),
       Format("a concert pitch in Hz from %g to %g", kLowestConcertPitch,
              kHighestConcertPitch),
       ApplyConcertPitch},
      {kTemperamentOption, "NAME", false,
       Format("how the twelve notes are tuned (default %s)",
              Temperaments().front().name),
       "one of the temperaments " + TemperamentNames(), ApplyTemperament},
      {kCentsOption, "C", false,
       Format("move every named note C cents, %g to %g (default 0)",
              -kMostCents, kMostCents),
       Format("a number of cents from %g to %g", -kMostCents, kMostCents),
       ApplyCents},
      {kTransposeOption, "N", false,
       Format("named notes are written for a transposing instrument\n"
              "and sound N semitones away, %d to %d (default 0)",
              -kMostSemitones, kMostSemitones),
       Format("a whole number of semitones from %d to %d", -kMostSemitones,
              kMostSemitones),
       ApplyTranspose},
      {kTimbreOption, "NAME", false,
       Format("how each note sounds (default %s)", Timbres().front().name),
       "one of the timbres " + TimbreNames(), ApplyTimbre},
      {kWithOption, "NOTES", false,
       Format("1 to %zu more notes that sound with every tone, by\n"
              "scientific name, separated by commas: G4 or E4,G4",
              kMostWithNotes),
       Format("1 to %zu note names separated by commas, as G4 or E4,G4",
              kMostWithNotes),
       ApplyWith},
      {kNoteOption, "NAME", true,
       "play one note by its scientific pitch name, as E2 or C#4:\n"
       "a letter A-G, an optional # or b, an octave 0-9;\n"
       "then the arguments are [seconds [device]]",
       "a note name: a letter A-G, an optional # or b and an octave 0-9, as "
       "E2 or C#4",
       ApplyNote},
      {kListenOption, nullptr, false,
       "measure the pitch heard on the device, playing nothing:\n"
       "the nearest note in the tuning (or --note's), its cents;\n"
       "then the arguments are [seconds [device]], and without\n"
       "seconds (or with inf or none) it listens until Ctrl-C;\n" +
           std::string(kListCaptureDevicesOption) +
           " lists the devices to listen on",
       "", ApplyListen},
      {kHoldOption, nullptr, false,
       "play each tone until it is stopped (Ctrl-C), instead of\n"
       "for a length; in the menu the next play command switches\n"
       "to its tone at once, and Ctrl-C silences it",
       "", ApplyHold},
      {kDeviceOption, "NAME", false,
       "the soundcard device to play on or listen to, as the\n"
       "device argument names it (default default)",
       "a device name", ApplyDevice},
  };
  return options;
}

const std::vector<AloneOption>& AloneOptions() {
  static const std::vector<AloneOption> options = {
      {"--help", "-h", HelpText},
      {"--version", nullptr, VersionText},
      {"--list-devices", nullptr, DevicesText},
      {kListCaptureDevicesOption, nullptr, CaptureDevicesText},
  };
  return options;
}

std::string UsageLine() {
  std::string usage = "usage: larkhorn";
  std::string frequency;
  for (const Option& option : Options()) {
    if (option.replacesFrequency) {
      frequency += OptionWithValue(option) + " | ";
    } else {
      usage += " [" + OptionWithValue(option) + "]";
    }
  }
  return usage + " [" + frequency + "frequency] [seconds [device]]";
}

std::string InfoText(int argc, const char* const* argv) {
  if (argc != 2) return "";
  for (const AloneOption& option : AloneOptions()) {
    if (strcmp(argv[1], option.name) == 0 ||
        (option.alias != nullptr && strcmp(argv[1], option.alias) == 0)) {
      return option.text();
    }
  }
  return "";
}

int PrintInfo(int argc, const char* const* argv) {
  const std::string text = InfoText(argc, argv);
  if (text.empty()) return -1;
  // A full disk or closed pipe must not pass for success.
  const bool written = fputs(text.c_str(), stdout) >= 0 && fflush(stdout) == 0;
  return written ? 0 : 1;
}

bool ParseCommandLine(int argc, const char* const* argv, ToneSettings& settings,
                      std::string* err, std::vector<std::string>* hints) {
  int first = 1;
  CommandLine line;
  for (; first < argc && strncmp(argv[first], "--", 2) == 0; ++first) {
    if (!ParseOption(argc, argv, &first, settings, line, err)) return false;
  }
  // What follows the options keeps the rules it has without them; a note
  // takes the frequency's place.
  std::vector<const char*> args(argv + first, argv + argc);
  if (settings.listen) {
    settings.listenToNote = line.noteGiven;
    // [seconds [device]], as a tone's [length [device]] without frequency.
    if (line.deviceGiven && args.size() > 1) {
      *err = DeviceNamedTwice(args[1]);
      return false;
    }
    return ParseListenArguments(args, settings, err);
  }
  if (line.noteGiven) {
    if (args.size() > 2) {
      *err = "one argument too many, " + Printable(args[2]) + ": with " +
             kNoteOption + " the arguments are [seconds [device]]";
      return false;
    }
    settings.frequency = NotePitch(settings);
    settings.oneShot = true;
    args.insert(args.begin(), nullptr);
  } else if (!args.empty()) {
    char* end = nullptr;
    settings.frequency = ToSingle(strtod(args[0], &end));
    settings.oneShot = true;
    // Whether it plays as given is said once the device's rate is known.
    if (end == args[0]) hints->push_back(NotAFrequency(args[0]));
  }
  const char* shape = line.noteGiven ? "none after the note" : "[frequency]";
  if (!CheckArguments(args, settings, line, shape, err)) return false;
  if (args.size() >= 2) {
    const float seconds = ToSingle(strtod(args[1], nullptr));
    settings.lengthSeconds = ClampLength(seconds);
    if (!(settings.lengthSeconds == seconds)) {
      hints->push_back(LengthClamped(args[1], settings.lengthSeconds));
    }
  }
  if (args.size() == 3) settings.deviceName = args[2];
  return true;
}
