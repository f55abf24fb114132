#include "app/options.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <utility>
#include <vector>

#include "app/hint.h"
#include "pitch/note.h"

namespace {

ToneSettings Parse(std::vector<const char*> args,
                   std::vector<std::string>* hints = nullptr) {
  args.insert(args.begin(), "larkhorn");
  ToneSettings settings;
  std::string error;
  std::vector<std::string> said;
  EXPECT_TRUE(ParseCommandLine(static_cast<int>(args.size()), args.data(),
                               settings, &error, hints ? hints : &said))
      << error;
  return settings;
}

// --device names the device as the last argument does, for a tone, a held
// tone, the console and listening; --hold alone is the console's.
TEST(ParseCommandLineTest, HoldAndDevice) {
  ToneSettings held = Parse({"--hold", "--device", "hw:1", "-440"});
  EXPECT_TRUE(held.hold && held.oneShot);
  EXPECT_EQ(held.deviceName, "hw:1");
  EXPECT_EQ(held.frequency, -440.0f);
  EXPECT_EQ(Parse({"--device=hw:2", "--note", "E2", "3"}).deviceName, "hw:2");
  EXPECT_EQ(Parse({"--device", "hw:3", "--listen", "2"}).deviceName, "hw:3");
  const ToneSettings console = Parse({"--hold"});
  EXPECT_TRUE(console.hold && !console.oneShot);
}

TEST(ParseCommandLineTest, ArgumentsFromTheLeft) {
  ToneSettings none = Parse({});
  EXPECT_FALSE(none.oneShot);
  EXPECT_EQ(none.lengthSeconds, 8.0f);
  EXPECT_EQ(none.volumePercent, 25.0f);
  EXPECT_EQ(none.deviceName, "default");
  EXPECT_EQ(none.noteName, "a");
  EXPECT_EQ(none.sampleRate, 44100u);

  ToneSettings one = Parse({"-440"});
  EXPECT_TRUE(one.oneShot);
  EXPECT_EQ(one.frequency, -440.0f);
  EXPECT_EQ(one.lengthSeconds, 8.0f);

  ToneSettings three = Parse({"27.5", "2.5", "file:/home/me/a440.wav,wav"});
  EXPECT_EQ(three.frequency, 27.5f);
  EXPECT_EQ(three.lengthSeconds, 2.5f);
  EXPECT_EQ(three.deviceName, "file:/home/me/a440.wav,wav");

  ToneSettings four = Parse({"440", "2", "hw:1", "4"});
  EXPECT_EQ(four.lengthSeconds, 2.0f);
  EXPECT_EQ(four.deviceName, "default");

  // strtod takes the longest leading number; text gives 0.
  EXPECT_EQ(Parse({"440Hz"}).frequency, 440.0f);
  EXPECT_TRUE(std::isnan(Parse({"nan"}).frequency));
  EXPECT_EQ(Parse({"-1e39"}).frequency, -INFINITY);  // beyond single precision
  EXPECT_EQ(Parse({"440", "1e300"}).lengthSeconds, 120.0f);
}

std::string Info(std::vector<const char*> args) {
  args.insert(args.begin(), "larkhorn");
  return InfoText(static_cast<int>(args.size()), args.data());
}

TEST(InfoTextTest, OnlyALoneOptionAsksForText) {
  EXPECT_EQ(Info({"--version"}), "Larkhorn " LARKHORN_VERSION "\n");
  const std::string help = Info({"--help"});
  EXPECT_EQ(help.find("larkhorn <frequency in Hz> <time in seconds> "
                      "<soundcard device>\n"),
            0u);
  EXPECT_EQ(Info({"-h"}), help);
  // Every option and temperament, with the pitch range, from where they
  // are defined.
  for (const char* text :
       {"--a4 HZ", "--temperament NAME", "--note NAME", "380 to 500 Hz",
        "C4 (middle C) is c in octave -1", "violin", "drop D"}) {
    EXPECT_NE(help.find(text), std::string::npos) << text;
  }
  for (const Temperament& temperament : Temperaments()) {
    EXPECT_NE(help.find("\n  " + std::string(temperament.name) + " "),
              std::string::npos)
        << temperament.name;
  }

  // Everything else still means a tone (or, bare, the console).
  const std::vector<std::vector<const char*>> others = {
      {},           {"-440"},
      {"--helpx"},  {"-H"},
      {"-help"},    {"--Version"},
      {"-v"},       {"help"},
      {"--"},       {"--help", "2"},
      {"-h", "-h"}, {"440", "--version"},
      {""},         {"--version", "1", "null"},
      {"--list"},   {"--list-devices", "1"}};
  for (const std::vector<const char*>& args : others) {
    EXPECT_EQ(Info(args), "") << (args.empty() ? "(none)" : args[0]);
  }
}

// Each row of the table reaches the usage line, the help, and the messages
// for an unknown option and a missing value.
TEST(OptionTableTest, EveryOptionIsShownAndParsed) {
  const std::string help = Info({"--help"});
  std::string unknown;
  ToneSettings settings;
  const char* bogus[] = {"larkhorn", "--bogus"};
  std::vector<std::string> hints;
  EXPECT_FALSE(ParseCommandLine(2, bogus, settings, &unknown, &hints));
  for (const Option& option : Options()) {
    std::string shown = option.name;
    if (option.valueName) shown += std::string(" ") + option.valueName;
    EXPECT_NE(UsageLine().find("[" + shown), std::string::npos) << shown;
    EXPECT_NE(help.find("\n  " + shown + " "), std::string::npos) << shown;
    EXPECT_NE(unknown.find(shown), std::string::npos) << shown;
    const char* alone[] = {"larkhorn", option.name};
    std::string missing;
    // An option without a value is complete alone.
    EXPECT_EQ(ParseCommandLine(2, alone, settings, &missing, &hints),
              option.valueName == nullptr)
        << shown;
    if (option.valueName) {
      EXPECT_EQ(missing, std::string(option.name) +
                             " needs a value: " + option.accepted);
    }
  }
  for (const AloneOption& option : AloneOptions()) {
    EXPECT_NE(unknown.find(option.name), std::string::npos) << option.name;
    EXPECT_NE(Info({option.name}), "") << option.name;
  }
}

TEST(ParseCommandLineTest, ToneOptions) {
  // A Bb instrument's written C4 sounds Bb3; 10 cents sharp.
  ToneSettings note =
      Parse({"--transpose=-2", "--cents", "10", "--note", "C4", "1"});
  EXPECT_EQ(note.frequency,
            static_cast<float>(Get_Freq("a#", -1) * std::exp2(10.0 / 1200)));
  // A frequency in Hz plays as given.
  EXPECT_EQ(Parse({"--transpose", "24", "--cents=-100", "440"}).frequency,
            440.0f);

  ToneSettings chord = Parse({"--timbre", "bright", "--with", "E4,Bb4,C#5"});
  EXPECT_EQ(chord.timbre, FindTimbre("bright"));
  ASSERT_EQ(chord.withNotes.size(), 3u);
  EXPECT_EQ(chord.withNotes[1].noteName, "bb");
  EXPECT_EQ(chord.withNotes[1].octave, 0);
  EXPECT_EQ(chord.withNotes[2].noteName, "c#");
  EXPECT_EQ(chord.withNotes[2].octave, 0);
  EXPECT_FALSE(chord.oneShot);
}

TEST(ParseCommandLineTest, LengthIsClamped) {
  EXPECT_EQ(Parse({"440", "0.2"}).lengthSeconds, 1.0f);
  EXPECT_EQ(Parse({"440", "500"}).lengthSeconds, 120.0f);
  EXPECT_EQ(Parse({"440", "120"}).lengthSeconds, 120.0f);
  EXPECT_EQ(Parse({"440", "1"}).lengthSeconds, 1.0f);
  EXPECT_EQ(Parse({"440", "seconds"}).lengthSeconds, 1.0f);
  EXPECT_EQ(Parse({"440", "nan"}).lengthSeconds, 1.0f);
  EXPECT_EQ(Parse({"440", "inf"}).lengthSeconds, 120.0f);
  EXPECT_EQ(Parse({"440", "-inf"}).lengthSeconds, 1.0f);
}

// Arguments that do not play as a newcomer may expect are named: a first
// one that is no number (with the --note it means when it names a note),
// a length out of range, a frequency above half the rate.
TEST(ParseCommandLineTest, HintsForSurprisingArguments) {
  auto hints = [](std::vector<const char*> args) {
    std::vector<std::string> said;
    Parse(args, &said);
    std::string lines;
    for (const std::string& line : said) lines += line + "\n";
    return lines;
  };
  EXPECT_EQ(hints({"440Hz", "120"}) + hints({"--note", "E2", "1"}), "");
  const std::pair<const char*, const char*> notes[] = {
      {"G6", "the string G6 is --note E2, the note G6 --note G6"},
      {"g6", "the note G6 is --note G6"},
      {"E2", "the note E2 is --note E2"},
      {"a", "the note a in the menu's octave 0 is --note A4"},
      {"Bb", "the note bb in the menu's octave 0 is --note Bb4"},
      {"-H", "a note by name is --note E2"}};
  for (const auto& [arg, meant] : notes) {
    EXPECT_EQ(hints({arg}), Printable(arg) + kNotAFrequency + meant + "\n");
  }
  // Whether a frequency plays as given waits for the device's rate.
  EXPECT_EQ(hints({"44100.1"}) + hints({"--with", "A4", "19845"}), "");
  EXPECT_EQ(hints({"440", "500"}),
            "'500'" + std::string(kNotALength) +
                "1 to 120 seconds: the tone lasts 120 s\n");
}

TEST(ParseCommandLineTest, EdgeNumbers) {
  // Frequencies are stored as typed, rounded to single precision: beyond
  // its range they become infinite (the synthesis limits them to half the
  // rate), below its smallest step they become zero.
  EXPECT_EQ(Parse({"inf"}).frequency, INFINITY);
  EXPECT_EQ(Parse({"-inf"}).frequency, -INFINITY);
  EXPECT_EQ(Parse({"1e309"}).frequency, INFINITY);
  EXPECT_EQ(Parse({"1e39"}).frequency, INFINITY);
  EXPECT_EQ(Parse({"-1e39"}).frequency, -INFINITY);
  EXPECT_EQ(Parse({"3.4028235e38"}).frequency, FLT_MAX);
  EXPECT_EQ(Parse({"0x1p-1074"}).frequency, 0.0f);
  EXPECT_FALSE(std::signbit(Parse({"0x1p-1074"}).frequency));
  EXPECT_TRUE(std::signbit(Parse({"-0"}).frequency));
  EXPECT_EQ(Parse({"0x1p8"}).frequency, 256.0f);
  EXPECT_TRUE(std::isnan(Parse({"-nan"}).frequency));

  // Lengths at and around both ends, and beyond any range.
  const std::pair<const char*, float> lengths[] = {{"1e309", 120.0f},
                                                   {"-1e309", 1.0f},
                                                   {"-0", 1.0f},
                                                   {"0x1p-1074", 1.0f},
                                                   {"0.99999994", 1.0f},
                                                   {"1", 1.0f},
                                                   {"1.0000001", 1.0000001f},
                                                   {"119.99999", 119.99999f},
                                                   {"120.00001", 120.0f},
                                                   {"0x1.ep6", 120.0f},
                                                   {"nan(1)", 1.0f}};
  for (const auto& [text, length] : lengths) {
    EXPECT_EQ(Parse({"440", text}).lengthSeconds, length) << text;
  }
}

}  // namespace
