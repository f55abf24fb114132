// Randomized robustness: the built binary is fed seeded streams of hostile
// tokens (NaN, infinities, hexadecimal floats, huge and tiny exponents, odd
// integers, long and binary tokens) mixed with real commands, and a few
// hostile command lines. Every run must end with status 0, print nothing on
// standard error (so no sanitizer report) and print only the program's own
// texts with well-formed, finite numbers.
//
// LARKHORN_ROBUST_CASES sets the number of cases (default 400) and
// LARKHORN_ROBUST_SEED the seed; case i depends only on the seed and i.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "testing/process.h"

namespace {

const uint64_t kDefaultSeed = 20261207;
const uint64_t kDefaultCases = 400;
const int kShards = 4;

uint64_t EnvNumber(const char* name, uint64_t fallback) {
  const char* text = getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  return strtoull(text, nullptr, 0);
}

// ---- The token grammar ----------------------------------------------------

struct Gen {
  std::mt19937_64 rng;
};

size_t Below(Gen& gen, size_t n) {
  return std::uniform_int_distribution<size_t>(0, n - 1)(gen.rng);
}

bool Chance(Gen& gen, double p) {
  return std::uniform_real_distribution<double>(0, 1)(gen.rng) < p;
}

template <size_t N>
std::string Pick(Gen& gen, const char* const (&list)[N]) {
  return list[Below(gen, N)];
}

std::string Pick(Gen& gen, const std::vector<std::string>& list) {
  return list[Below(gen, list.size())];
}

// The words of a space-separated list.
std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> words;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(' ', start);
    if (end == std::string::npos) end = list.size();
    if (end > start) words.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

const std::vector<std::string> kSpecialNumbers = Split(
    "nan NaN NAN -nan +nan nan() nan(0x7ff) nan(abc_123) inf -inf +inf "
    "INF Infinity -INFINITY 1e309 -1e309 1e39 -1e39 3.4028235e38 "
    "3.4028236e38 -3.4028236e38 1.7976931348623157e308 0x1.fffffep+127 "
    "0x1p128 -0x1p128 1e99999999999999999999 0x1p-1074 -0x1p-1074 "
    "4.9e-324 1e-400 1e-310 1e-45 1e-46 0x1p-149 0x1p-150 0 -0 +0 0.0 "
    "-0.0 0x0 0e0 .0 0. 1 1.0 0.999 0.9999999 1.0000001 119.99999 120 "
    "120.00001 120.001 100 100.0000001 99.9999 -25600 -25601 -30000 "
    "-1e9 -2147483648 440 -440 22050 22049.999 22050.001 44100 1e6 0x1 "
    "0x1p0 0X1P+0 0x.8p1 0xA 0x1.8p1 -0x1p-3 27.5");

// Near-numbers: none of them is a whole number.
const std::vector<std::string> kMalformedNumbers = Split(
    "1e 1e+ - + . e5 0x 0xp1 1.2.3 1e5x 12abc --1 +-1 1,5 0x1p nanx "
    "infx in nan( nan(1 1_000 \xe2\x88\x92"
    "1 1e0x 0x1g");

const std::vector<std::string> kOctaveEntries = Split(
    "-4 1 2 -5 0x1 0X1 -0x4 010 08 09 -0 +1 0 007 0x7fffffff 2147483647 "
    "2147483648 -2147483648 -2147483649 4294967295 4294967296 "
    "4294967297 18446744073709551617 99999999999999999999 0xffffffff "
    "0x100000001 037777777777 -0x80000000 1.0 1e0 0x 0x1p0 +-1 -1 -2 -3");

// Lengths that clamp to at most two seconds, so tones stay cheap.
const std::vector<std::string> kShortLengths = Split(
    "1 1.0 0 -0 nan -nan -inf -1e309 0x1p-1074 1e-400 0.999 1.0000001 "
    "1.5 2 0x1p0 -120 0.5 nan(1)");

const std::vector<std::string> kNoteNames =
    Split("a a# bb b c c# db d d# eb e f f# gb g g# ab");

const std::vector<std::string> kPresets =
    Split("G1 G2 G3 G4 G5 G6 B1 B2 B3 B4");

const std::vector<std::string> kOddWords = Split(
    "A B g1 b# cb e# fb G7 B0 G pp xx ss P X S help exit quit %s %n "
    "%s%s%s%n %99999999d %.9999f \xc3\xa9 a\xe2\x99\xaf \xef\xbd\x81 "
    "G6x B4\x01");

std::string Digits(Gen& gen, size_t count, const char* alphabet, size_t n) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += alphabet[Below(gen, n)];
  return out;
}

std::string RandomDecimal(Gen& gen) {
  std::string out = Pick(gen, {"", "", "-", "+"});
  out += Digits(gen, 1 + Below(gen, 25), "0123456789", 10);
  if (Chance(gen, 0.5)) {
    out += "." + Digits(gen, Below(gen, 25), "0123456789", 10);
  }
  if (Chance(gen, 0.4)) {
    out += Pick(gen, {"e", "E"}) + Pick(gen, {"", "-", "+"}) +
           Digits(gen, 1 + Below(gen, 6), "0123456789", 10);
  }
  return out;
}

std::string RandomHexFloat(Gen& gen) {
  const char kHex[] = "0123456789abcdefABCDEF";
  std::string out = Pick(gen, {"", "-", "+"}) + Pick(gen, {"0x", "0X"});
  out += Digits(gen, Below(gen, 20), kHex, 22);
  if (Chance(gen, 0.4)) out += "." + Digits(gen, Below(gen, 20), kHex, 22);
  if (Chance(gen, 0.6)) {
    out += Pick(gen, {"p", "P"}) + Pick(gen, {"", "-", "+"}) +
           Digits(gen, 1 + Below(gen, 5), "0123456789", 10);
  }
  return out;
}

// Numbers thousands of digits long, some beyond the stored token length.
std::string LongNumber(Gen& gen) {
  const size_t sizes[] = {400, 5000, 65535, 65536, 70000};
  const size_t size = sizes[Below(gen, 5)];
  switch (Below(gen, 4)) {
    case 0:
      return "1" + std::string(size, '0');
    case 1:
      return "0." + std::string(size, '0') + "1";
    case 2:
      return std::string(size, '0') + "1";
    default:
      return "-" + Digits(gen, size, "0123456789", 10) + "e-" +
             Digits(gen, 3, "0123456789", 10);
  }
}

std::string HostileNumber(Gen& gen) {
  const size_t kind = Below(gen, 20);
  if (kind < 9) return Pick(gen, kSpecialNumbers);
  if (kind < 13) return RandomDecimal(gen);
  if (kind < 16) return RandomHexFloat(gen);
  if (kind < 19) return Pick(gen, kMalformedNumbers);
  return LongNumber(gen);
}

std::string OctaveEntry(Gen& gen) {
  if (Chance(gen, 0.3)) return std::to_string(int(Below(gen, 10)) - 6);
  if (Chance(gen, 0.1)) return HostileNumber(gen);
  return Pick(gen, kOctaveEntries);
}

// Any byte but whitespace, NUL included.
std::string BinaryToken(Gen& gen, size_t size) {
  std::string out;
  while (out.size() < size) {
    char c = static_cast<char>(Below(gen, 256));
    if (c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
        c == '\r') {
      continue;
    }
    out += c;
  }
  return out;
}

std::string LongWord(Gen& gen) {
  const size_t sizes[] = {3, 4, 15, 16, 65535, 65536, 65537, 100000};
  const size_t size = sizes[Below(gen, 8)];
  if (Chance(gen, 0.3)) return BinaryToken(gen, size);
  return std::string(size, Pick(gen, {"a", "p", "G", "#", "\x80"})[0]);
}

std::string Word(Gen& gen) {
  switch (Below(gen, 8)) {
    case 0:
    case 1:
      return Pick(gen, kNoteNames);
    case 2:
      return Pick(gen, kPresets);
    case 3:
      return Pick(gen, kOddWords);
    case 4:
      return BinaryToken(gen, 1 + Below(gen, 12));
    case 5:
      return LongWord(gen);
    default:
      return HostileNumber(gen);
  }
}

// `s` would name another device and `x` would end the run early; both come
// only where the grammar puts them on purpose.
std::string Clean(Gen& gen, std::string token) {
  while (token.empty() || token == "s" || token == "x") token = Word(gen);
  return token;
}

std::string Separator(Gen& gen) {
  if (Chance(gen, 0.7)) return Chance(gen, 0.5) ? " " : "\n";
  std::string out;
  const size_t count = 1 + Below(gen, 3);
  for (size_t i = 0; i < count; ++i) {
    out += Pick(gen, {" ", "\t", "\n", "\r", "\v", "\f", "\r\n"});
  }
  return out;
}

// The token a prompt gets, or nothing at all so that the next command
// comes in its place.
std::string PromptAnswer(Gen& gen, const std::string& answer) {
  if (Chance(gen, 0.1)) return "";
  if (Chance(gen, 0.1)) return Separator(gen) + Clean(gen, Word(gen));
  return Separator(gen) + Clean(gen, answer);
}

std::string Item(Gen& gen) {
  switch (Below(gen, 16)) {
    case 0:
    case 1:
      return "p";
    case 2:
      return "h";
    case 3:
    case 4:
      return "o" + PromptAnswer(gen, OctaveEntry(gen));
    case 5:
    case 6: {
      std::string length =
          Chance(gen, 0.85) ? Pick(gen, kShortLengths) : HostileNumber(gen);
      return "l" + PromptAnswer(gen, length);
    }
    case 7:
    case 8:
      return "v" + PromptAnswer(gen, HostileNumber(gen));
    case 9:
    case 10:
      return "z" + PromptAnswer(gen, HostileNumber(gen));
    case 11:
      return Pick(gen, kPresets);
    default:
      return Clean(gen, Word(gen));
  }
}

std::string ConsoleInput(Gen& gen) {
  std::string input;
  if (Chance(gen, 0.3)) input += Separator(gen);
  if (Chance(gen, 0.8)) input += "l 1" + Separator(gen);
  size_t items = 1 + Below(gen, 12);
  if (Chance(gen, 0.25)) items = 13 + Below(gen, 48);
  if (Chance(gen, 0.04)) items = 61 + Below(gen, 240);
  for (size_t i = 0; i < items; ++i) {
    if (i > 0) input += Separator(gen);
    input += Item(gen);
  }
  const size_t ending = Below(gen, 20);
  if (ending < 8) {
    input += Separator(gen) + "x";
    if (Chance(gen, 0.3)) input += Separator(gen) + "p G6 s nosuchdevice p";
  } else if (ending < 11) {
    input += Separator(gen) + Pick(gen, {"z", "l", "v", "o"});
  }
  if (Chance(gen, 0.5)) input += Separator(gen);
  return input;
}

std::vector<std::string> CommandLine(Gen& gen) {
  std::vector<std::string> args;
  const size_t count = 1 + Below(gen, 5);
  for (size_t i = 0; i < count; ++i) {
    std::string arg;
    if (i == 0) arg = Chance(gen, 0.8) ? HostileNumber(gen) : Word(gen);
    if (i == 1) {
      arg = Chance(gen, 0.9) ? Pick(gen, kShortLengths) : HostileNumber(gen);
    }
    // A third argument is the device only when it is the last one.
    if (i == 2) arg = count == 3 ? Pick(gen, {"default", "null"}) : Word(gen);
    if (i > 2) arg = Word(gen);
    arg.erase(std::remove(arg.begin(), arg.end(), '\0'), arg.end());
    args.push_back(arg);
  }
  return args;
}

// ---- What the program may print -------------------------------------------

// Readable form of input: control and non-ASCII bytes escaped, long runs of
// one byte shortened.
std::string Escape(const std::string& input) {
  std::string out;
  for (size_t i = 0; i < input.size();) {
    size_t run = 1;
    while (i + run < input.size() && input[i + run] == input[i]) ++run;
    std::string one;
    const unsigned char c = static_cast<unsigned char>(input[i]);
    if (c == '\n') {
      one = "\\n";
    } else if (c == '\t') {
      one = "\\t";
    } else if (c == '\\') {
      one = "\\\\";
    } else if (c < 0x20 || c >= 0x7f) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      one = hex;
    } else {
      one = std::string(1, static_cast<char>(c));
    }
    if (run > 16) {
      out += "[" + std::to_string(run) + " x " + one + "]";
      i += run;
    } else {
      out += one;
      ++i;
    }
  }
  return out;
}

std::string Excerpt(const std::string& text) {
  const size_t kLimit = 2000;
  if (text.size() <= kLimit) return Escape(text);
  return Escape(text.substr(0, kLimit)) + "... (" +
         std::to_string(text.size()) + " bytes)";
}

// line is prefix, a number in printf's %.Nf form, suffix; the number goes
// to value.
bool NumberLine(const std::string& line, const std::string& prefix,
                const std::string& suffix, int decimals, double* value) {
  if (line.size() < prefix.size() + suffix.size() + 1 ||
      line.compare(0, prefix.size(), prefix) != 0 ||
      line.compare(line.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return false;
  }
  const std::string number =
      line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
  size_t i = number[0] == '-' ? 1 : 0;
  const size_t integerStart = i;
  while (i < number.size() && isdigit(static_cast<unsigned char>(number[i]))) {
    ++i;
  }
  if (i == integerStart) return false;
  if (decimals > 0) {
    if (i >= number.size() || number[i] != '.') return false;
    ++i;
    const size_t fractionStart = i;
    while (i < number.size() &&
           isdigit(static_cast<unsigned char>(number[i]))) {
      ++i;
    }
    if (i - fractionStart != size_t(decimals)) return false;
  }
  if (i != number.size()) return false;
  *value = strtod(number.c_str(), nullptr);
  return true;
}

const char* const kHelpBlock[] = {
    "",
    "-------------------------------------",
    "Larkhorn " LARKHORN_VERSION,
    "",
    "This program may be run with command line arguments as follows:",
    "larkhorn <frequency in Hz> <time in seconds> <soundcard device>",
    "",
    "Or, run the program interactively using the commands below.",
    "Enter the note a,b,c,d,e,f,g plus '#' for a sharp and 'b' for a flat.",
    "For example: f# gb",
    "",
    "Enter G1 G2 G3 G4 G5 or G6 for guitar string tuning",
    "Enter B1 B2 B3 or B4 for bass string tuning",
    "-------------------------------------"};

struct OutputCheck {
  std::vector<std::string> lines;
  size_t next = 0;
  std::string error;  // empty while the output is as it may be
  int tones = 0;

  bool AtEnd() const { return next >= lines.size(); }
  const std::string& Line() const { return lines[next]; }
  bool Fail(const std::string& why) {
    if (error.empty()) {
      error = "line " + std::to_string(next + 1) + ": " + why;
      if (!AtEnd()) error += ": \"" + Escape(Line()) + "\"";
    }
    return false;
  }
  // The lines up to and just after the one that failed.
  std::string Context() const {
    std::string out;
    const size_t first = next > 9 ? next - 9 : 0;
    for (size_t i = first; i < lines.size() && i <= next + 1; ++i) {
      out += "\n  " + std::to_string(i + 1) + ": " + Escape(lines[i]);
    }
    return out;
  }
  bool Expect(const std::string& line) {
    if (AtEnd() || Line() != line) return Fail("expected \"" + line + "\"");
    ++next;
    return true;
  }
};

// A menu whose numbers are well formed and in range; its frequency goes to
// frequency.
bool Menu(OutputCheck& check, double* frequency) {
  double value = 0;
  if (check.AtEnd() ||
      !NumberLine(check.Line(), "Enter 'p' to play current note (", " Hz)", 1,
                  frequency)) {
    return check.Fail("expected the menu's current note");
  }
  ++check.next;
  if (!check.Expect("Enter 'o' to change the octave")) return false;
  if (check.AtEnd() ||
      !NumberLine(check.Line(), "Enter 'l' to change playback length from ",
                  " seconds", 1, &value)) {
    return check.Fail("expected the menu's length");
  }
  if (value < 1.0 || value > 120.0) return check.Fail("length out of range");
  ++check.next;
  if (!check.Expect("Enter 'z' to play a specific frequency") ||
      !check.Expect("Enter 's' to change soundcard device from 'default'")) {
    return false;
  }
  if (check.AtEnd() ||
      !NumberLine(check.Line(), "Enter 'v' to change output volume from ",
                  " percent.", 0, &value)) {
    return check.Fail("expected the menu's volume");
  }
  if (value > 100.0 || value < -100.0) {
    return check.Fail("volume out of range");
  }
  ++check.next;
  return check.Expect("Enter 'h' for help and options") &&
         check.Expect("Enter 'x' to exit");
}

// After a tone the menu shows the frequency just played.
bool MenuAfterTone(OutputCheck& check, double played) {
  double shown = 0;
  if (!Menu(check, &shown)) return false;
  if (std::fabs(shown - played) > 0.06) {
    check.next -= 8;
    return check.Fail("menu does not show the frequency just played");
  }
  return true;
}

bool FrequencyLine(OutputCheck& check, double* frequency) {
  if (check.AtEnd() ||
      !NumberLine(check.Line(), "Frequency = ", " Hz", 2, frequency)) {
    return check.Fail("expected a finite frequency line");
  }
  ++check.next;
  ++check.tones;
  return true;
}

// Title and menu, then per command read: nothing, a prompt, a tone's
// frequency line or the help block, each followed by the next menu. The
// output may end after a menu or a prompt (end of input).
OutputCheck CheckConsoleOutput(const std::string& out) {
  OutputCheck check;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) {
      check.lines.push_back(out.substr(start));
      check.Fail("output does not end with a newline");
      return check;
    }
    check.lines.push_back(out.substr(start, end - start));
    start = end + 1;
  }
  double frequency = 0;
  if (!check.Expect("") || !check.Expect("Larkhorn") || !check.Expect("") ||
      !Menu(check, &frequency)) {
    return check;
  }
  while (!check.AtEnd()) {
    const std::string line = check.Line();
    if (line == "Enter frequency in Hz") {
      ++check.next;
      if (check.AtEnd()) break;
      if (!FrequencyLine(check, &frequency) ||
          !MenuAfterTone(check, frequency)) {
        break;
      }
    } else if (line == "Enter octave -4 to 1" ||
               line == "Enter length in seconds" ||
               line == "Enter output volume in percent of full scale") {
      ++check.next;
      if (!check.AtEnd() && !Menu(check, &frequency)) break;
    } else if (line.compare(0, 12, "Frequency = ") == 0) {
      if (!FrequencyLine(check, &frequency) ||
          !MenuAfterTone(check, frequency)) {
        break;
      }
    } else if (line.empty()) {
      bool help = true;
      for (const char* helpLine : kHelpBlock)
        help = help && check.Expect(helpLine);
      if (!help || !Menu(check, &frequency)) break;
    } else if (!Menu(check, &frequency)) {
      break;
    }
  }
  return check;
}

// ---- Running the cases ----------------------------------------------------

class ConsoleRobustTest : public testing::TestWithParam<int> {};

TEST_P(ConsoleRobustTest, HostileInputNeverBreaksTheProgram) {
  const uint64_t seed = EnvNumber("LARKHORN_ROBUST_SEED", kDefaultSeed);
  const uint64_t cases = EnvNumber("LARKHORN_ROBUST_CASES", kDefaultCases);
  const int shard = GetParam();

  TestDir dir;
  WriteAlsaConfig(dir, "pcm.!default { type null }\n");
  uint64_t tried = 0;
  uint64_t tones = 0;
  int failures = 0;
  for (uint64_t index = shard; index < cases && failures < 3;
       index += kShards) {
    std::seed_seq seq{seed, seed >> 32, index, index >> 32};
    Gen gen{std::mt19937_64(seq)};
    std::vector<std::string> args;
    std::string input;
    if (Chance(gen, 0.1)) {
      args = CommandLine(gen);
    } else {
      input = ConsoleInput(gen);
    }

    RunResult run = RunLarkhorn(dir, args, input);
    ++tried;
    std::string error;
    std::string shownOut = Excerpt(run.out);
    // Two leading hyphens make an option, and no hostile one is valid.
    const bool badOption = !args.empty() && args[0].rfind("--", 0) == 0;
    if (badOption) {
      if (run.exitStatus != 2 || !run.out.empty() ||
          run.err.find("\nusage: larkhorn ") == std::string::npos) {
        error = "a bad option must end with status 2 and the usage";
      }
    } else if (run.exitStatus != 0) {
      error = "exit status " + std::to_string(run.exitStatus) + ", signal " +
              std::to_string(run.signal);
    } else if (!WithoutHints(run.err).empty()) {
      error = "standard error holds more than the hints";
    } else if (!args.empty()) {
      const float frequency =
          static_cast<float>(strtod(args[0].c_str(), nullptr));
      char expected[512];
      snprintf(expected, sizeof expected, "Frequency = %.2f Hz\n", frequency);
      if (run.out != expected) error = "expected " + Escape(expected);
      ++tones;
    } else {
      OutputCheck check = CheckConsoleOutput(run.out);
      error = check.error;
      if (!error.empty()) shownOut = check.Context();
      tones += check.tones;
    }
    if (error.empty()) continue;

    ++failures;
    std::string shownArgs;
    for (const std::string& arg : args) shownArgs += " '" + Escape(arg) + "'";
    ADD_FAILURE() << "case " << index << " of seed " << seed
                  << " (rerun with LARKHORN_ROBUST_SEED=" << seed
                  << " LARKHORN_ROBUST_CASES=" << index + 1 << "): " << error
                  << "\narguments:" << shownArgs
                  << "\ninput: " << Excerpt(input)
                  << "\nstderr: " << Excerpt(run.err)
                  << "\nstdout: " << shownOut;
  }
  printf("seed %llu, shard %d of %d: %llu cases run, %llu tones, %d failing\n",
         static_cast<unsigned long long>(seed), shard, kShards,
         static_cast<unsigned long long>(tried),
         static_cast<unsigned long long>(tones), failures);
}

INSTANTIATE_TEST_SUITE_P(Shards, ConsoleRobustTest, testing::Range(0, kShards));

// The checker itself must catch what it is there to catch.
TEST(ConsoleOutputCheckTest, RejectsWhatTheProgramMustNotPrint) {
  const std::string title = "\nLarkhorn\n\n";
  const std::string menu =
      "Enter 'p' to play current note (440.0 Hz)\n"
      "Enter 'o' to change the octave\n"
      "Enter 'l' to change playback length from 1.0 seconds\n"
      "Enter 'z' to play a specific frequency\n"
      "Enter 's' to change soundcard device from 'default'\n"
      "Enter 'v' to change output volume from 25 percent.\n"
      "Enter 'h' for help and options\n"
      "Enter 'x' to exit\n";
  auto with = [&](const std::string& from, const std::string& to) {
    std::string changed = menu;
    changed.replace(changed.find(from), from.size(), to);
    return changed;
  };
  EXPECT_EQ(CheckConsoleOutput(title + menu).error, "");
  EXPECT_EQ(CheckConsoleOutput(title + menu + "Enter frequency in Hz\n" +
                               "Frequency = 440.00 Hz\n" + menu +
                               "Enter length in seconds\n")
                .error,
            "");
  for (const std::string& bad : {
           title + with("440.0", "nan"),
           title + with("440.0", "-inf"),
           title + with("1.0 seconds", "nan seconds"),
           title + with("1.0 seconds", "0.5 seconds"),
           title + with("25 percent", "-nan percent"),
           title + with("25 percent", "101 percent"),
           title + with("25 percent", "-101 percent"),
           title + with("'default'", "'hw:0'"),
           title + menu + "Frequency = inf Hz\n" + with("440.0", "inf"),
           title + menu + "Frequency = 440.00 Hz\n" + with("440.0", "220.0"),
           title + menu + "Frequency = 440.00 Hz\n",
           title + menu + "Enter soundcard device name\n",
           title + menu + "RX\n" + menu,
           title + menu.substr(0, menu.size() - 1),
           menu,
       }) {
    EXPECT_NE(CheckConsoleOutput(bad).error, "") << Escape(bad);
  }
}

}  // namespace
