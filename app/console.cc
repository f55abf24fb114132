#include "app/console.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "app/hint.h"
#include "app/line_editor.h"
#include "app/settings.h"
#include "pitch/note.h"

namespace {

// A longer token is still consumed whole, but only this much is kept.
const size_t kMaxTokenBytes = 65536;

// Whitespace-separated tokens from a stream; a prompt that finds no number
// hands its token back to be read as the next command.
struct TokenReader {
  FILE* in = nullptr;
  // At a terminal lines come through the editor, nullptr elsewhere; the
  // line being taken apart and how much of it has been taken.
  LineEditor* editor = nullptr;
  std::string line;
  size_t lineTaken = 0;
  std::optional<std::string> pending;
};

// The next byte of input, or EOF.
int NextChar(TokenReader& reader) {
  if (reader.editor == nullptr) return getc(reader.in);
  while (reader.lineTaken == reader.line.size()) {
    if (!ReadEditedLine(reader.editor, &reader.line)) return EOF;
    reader.lineTaken = 0;
  }
  return static_cast<unsigned char>(reader.line[reader.lineTaken++]);
}

bool IsSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// Reads the next token; false at the end of input.
bool ReadToken(TokenReader& reader, std::string* token) {
  if (reader.pending) {
    *token = std::move(*reader.pending);
    reader.pending.reset();
    return true;
  }
  // Prompts must be on screen before the program waits for an answer.
  fflush(stdout);
  int c;
  while ((c = NextChar(reader)) != EOF && IsSpace(c)) {
  }
  if (c == EOF) return false;  // *token keeps its value
  std::string text;
  do {
    if (text.size() < kMaxTokenBytes) text.push_back(static_cast<char>(c));
  } while ((c = NextChar(reader)) != EOF && !IsSpace(c));
  *token = std::move(text);
  return true;
}

// A number in strtof's syntax that takes up the whole token, rounded once
// to single precision as %f reads it: strtod and then narrowing would round
// twice and can land one step off. Beyond single precision it is infinite.
bool ParseWholeNumber(const std::string& token, float* value) {
  if (token.empty()) return false;
  char* end = nullptr;
  *value = strtof(token.c_str(), &end);
  return end == token.c_str() + token.size();
}

// An integer in scanf's %i syntax (decimal, 0x hexadecimal, leading-0
// octal, optional sign) that takes up the whole token. One beyond 32 bits
// comes back saturated: out of range either way.
bool ParseWholeInteger(const std::string& token, int32_t* value) {
  const size_t digits = token.find_first_not_of("+-") == 1 ? 1 : 0;
  // Newer C libraries also read 0b binary, which %i does not.
  if (token.compare(digits, 2, "0b") == 0 ||
      token.compare(digits, 2, "0B") == 0) {
    return false;
  }
  if (token.empty()) return false;
  char* end = nullptr;
  const long long v = strtoll(token.c_str(), &end, 0);
  if (end != token.c_str() + token.size()) return false;
  *value = static_cast<int32_t>(
      std::min<long long>(INT32_MAX, std::max<long long>(INT32_MIN, v)));
  return true;
}

enum class Answer { EndOfInput, NotANumber, Number };

// Prints prompt and reads a number; a token that is not one stays in the
// input.
Answer AskNumber(TokenReader& reader, const char* prompt, float* value) {
  printf("%s\n", prompt);
  std::string token;
  if (!ReadToken(reader, &token)) return Answer::EndOfInput;
  if (ParseWholeNumber(token, value)) return Answer::Number;
  reader.pending = std::move(token);
  return Answer::NotANumber;
}

bool IsCommandLetter(const std::string& token) {
  for (const char* letter : {"p", "h", "z", "x", "o", "l", "s", "v"}) {
    if (token == letter) return true;
  }
  return false;
}

// The line after the title that names the options in force.
void PrintTuning(const ToneSettings& settings) {
  const Tuning& tuning = settings.tuning;
  printf("Tuning: A4 = %g Hz, %s", tuning.concertPitch,
         tuning.temperament->title);
  if (tuning.cents != 0) printf(", %+g cents", tuning.cents);
  if (tuning.transpose != 0) {
    printf(", transposed %+d semitones", tuning.transpose);
  }
  if (settings.timbre != &Timbres().front()) {
    printf(", %s timbre", settings.timbre->name);
  }
  const char* separator = ", with ";
  for (const NamedNote& note : settings.withNotes) {
    printf("%s%s", separator,
           ScientificName(note.noteName, note.octave).c_str());
    separator = " ";
  }
  printf("\n");
}

void PrintBanner(const ToneSettings& settings) {
  const BannerState banner = settings.banner;
  if (banner == BannerState::Title) {
    printf("\nLarkhorn\n\n");
    if (OtherTuning(settings)) PrintTuning(settings);
  }
  if (banner != BannerState::Help) return;
  printf("\n-------------------------------------\n");
  printf("Larkhorn " LARKHORN_VERSION "\n");
  printf("\nThis program may be run with command line arguments as follows:\n");
  printf("larkhorn <frequency in Hz> <time in seconds> <soundcard device>\n");
  printf("\nOr, run the program interactively using the commands below.\n");
  printf(
      "Enter the note a,b,c,d,e,f,g plus '#' for a sharp and 'b' for a "
      "flat.\n");
  printf("For example: f# gb\n");
  printf("\n");
  printf("Enter G1 G2 G3 G4 G5 or G6 for guitar string tuning\n");
  printf("Enter B1 B2 B3 or B4 for bass string tuning\n");
  printf("-------------------------------------\n");
}

void PrintMenu(const ToneSettings& settings) {
  printf("Enter 'p' to play current note (%.1f Hz)\n", settings.frequency);
  printf("Enter 'o' to change the octave\n");
  printf("Enter 'l' to change playback length from %.1f seconds\n",
         settings.lengthSeconds);
  printf("Enter 'z' to play a specific frequency\n");
  printf("Enter 's' to change soundcard device from '%s'\n",
         settings.deviceName.c_str());
  printf("Enter 'v' to change output volume from %.0f percent.\n",
         settings.volumePercent);
  printf("Enter 'h' for help and options\n");
  printf("Enter 'x' to exit\n");
}

void HintNotANumber(const std::optional<std::string>& token,
                    const char* setting) {
  if (!token) return;
  Hint("%s%s%s stays as it was", Printable(*token).c_str(), kNotANumber,
       setting);
}

// A word that is no command, preset or note name still becomes the note
// name, and sounds as A.
void HintUnknownWord(const std::string& word) {
  if (FindPreset(word) || IsNoteName(word)) return;
  std::string name;
  double octave = 0;
  std::string scientific;
  if (ParseScientificName(word, &name, &octave)) {
    char text[64];
    snprintf(text, sizeof text, " (%s is %s in octave %.0f)", word.c_str(),
             name.c_str(), octave);
    scientific = text;
  }
  Hint(
      "%s%s%s: enter a note as a to g in lower case with # or b (f# gb), and "
      "the octave with o",
      Printable(word).c_str(), kNotANoteName, scientific.c_str());
}

void RunMenu(ToneSettings& settings, TokenReader& reader,
             ToneRequest playTone) {
  // The last integer typed at the octave prompt, in range or not.
  std::optional<int32_t> lastOctaveEntry;

  while (settings.command != "x") {
    if (settings.pitchMode == PitchMode::Note) {
      settings.frequency = NotePitch(settings);
    }
    PrintBanner(settings);
    PrintMenu(settings);
    if (!ReadToken(reader, &settings.command)) return;
    const std::string& command = settings.command;

    bool play = false;
    if (!IsCommandLetter(command)) {
      settings.noteName = command;
      settings.pitchMode = PitchMode::Note;
      HintUnknownWord(command);
    }
    settings.banner = command == "h" ? BannerState::Help : BannerState::Plain;
    float value = 0;
    if (command == "z") {
      Answer answer = AskNumber(reader, "Enter frequency in Hz", &value);
      if (answer == Answer::EndOfInput) return;
      // NaN, or a value beyond single precision, keeps the last frequency,
      // so the menu always shows a number.
      if (answer == Answer::Number && std::isfinite(value)) {
        settings.frequency = value;
      }
      HintNotANumber(reader.pending, "frequency");
      settings.pitchMode = PitchMode::Frequency;
      play = true;
    } else if (command == "s") {
      printf("Enter soundcard device name\n");
      if (!ReadToken(reader, &settings.deviceName)) return;
    } else if (command == "p") {
      play = true;
    } else if (command == "o") {
      printf("Enter octave -4 to 1\n");
      std::string token;
      if (!ReadToken(reader, &token)) return;
      int32_t entry = 0;
      if (ParseWholeInteger(token, &entry)) {
        lastOctaveEntry = entry;
      } else {
        reader.pending = std::move(token);
      }
      if (lastOctaveEntry && *lastOctaveEntry >= -4 && *lastOctaveEntry <= 1) {
        settings.octave = *lastOctaveEntry;
      }
      if (reader.pending) {
        Hint("%s%s%.0f", Printable(*reader.pending).c_str(), kNotAWholeNumber,
             settings.octave);
      }
    } else if (command == "l") {
      Answer answer = AskNumber(reader, "Enter length in seconds", &value);
      if (answer == Answer::EndOfInput) return;
      if (answer == Answer::Number) settings.lengthSeconds = value;
      HintNotANumber(reader.pending, "length");
      settings.lengthSeconds = ClampLength(settings.lengthSeconds);
    } else if (command == "v") {
      Answer answer = AskNumber(
          reader, "Enter output volume in percent of full scale", &value);
      if (answer == Answer::EndOfInput) return;
      // NaN keeps the last volume. The magnitude is capped both ways: a
      // negative volume only inverts the phase, and beyond -100 it would
      // clip to a full-scale square wave.
      if (answer == Answer::Number && !std::isnan(value)) {
        settings.volumePercent = std::min(100.0f, std::max(-100.0f, value));
      }
      HintNotANumber(reader.pending, "volume");
    } else if (const StringPreset* preset = FindPreset(command)) {
      settings.noteName = preset->noteName;
      settings.octave = preset->octave;
      play = true;
    }

    if (play) {
      if (settings.pitchMode == PitchMode::Note) {
        settings.frequency = NotePitch(settings);
      }
      playTone(settings);
    }
  }
}

}  // namespace

void RunConsole(ToneSettings& settings, FILE* in, ToneRequest playTone) {
  TokenReader reader;
  reader.in = in;
  reader.editor = OpenLineEditor(in, stdout);
  RunMenu(settings, reader, playTone);
  CloseLineEditor(reader.editor);
}
