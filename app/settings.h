// The settings record, and the number and pitch rules that the command line
// and the console share.
#ifndef LARKHORN_APP_SETTINGS_H_
#define LARKHORN_APP_SETTINGS_H_

#include <cstdint>
#include <string>

#include "pitch/temperament.h"

enum class PitchMode { Note = 1, Frequency = 2 };
enum class BannerState { Title = 0, Plain = 1, Help = 2 };

// Everything the user can set, for the whole run.
struct ToneSettings {
  uint32_t sampleRate = 44100;
  float lengthSeconds = 8.0f;
  float frequency = 0.0f;
  float volumePercent = 25.0f;
  std::string noteName = "a";
  double octave = 0.0;
  std::string deviceName = "default";
  PitchMode pitchMode = PitchMode::Note;
  BannerState banner = BannerState::Title;
  bool oneShot = false;
  std::string command;
  double concertPitch = 440.0;  // A in octave 0, in Hz
  const Temperament* temperament = &Temperaments().front();
};

// The lengths a tone may have, in seconds.
const float kShortestSeconds = 1.0f;
const float kLongestSeconds = 120.0f;

// A string of a guitar or a bass: the console's word for it, and the note
// name and octave it plays.
struct StringPreset {
  const char* word;
  const char* noteName;
  double octave;
};

// The preset of a word, G1 to G6 for the guitar's strings from the highest
// to the lowest and B1 to B4 for the bass's; nullptr for any other word.
const StringPreset* FindPreset(const std::string& word);

// Whether the concert pitch or the temperament is not the default.
bool OtherTuning(const ToneSettings& settings);

// The frequency of the settings' note name and octave at their concert
// pitch and temperament, rounded to single precision.
float NotePitch(const ToneSettings& settings);

// text in single quotes for a message: bytes that do not print shown as ?,
// and cut short after a few dozen.
std::string Printable(const std::string& text);

// Rounds to single precision; magnitudes beyond its range become infinite.
float ToSingle(double value);

// Clamps a length in seconds to kShortestSeconds..kLongestSeconds; NaN
// counts as below range.
float ClampLength(float seconds);

// The hint for a frequency that plays as half the sample rate; empty when
// it plays as it is.
std::string HalfRateHint(const ToneSettings& settings);

#endif  // LARKHORN_APP_SETTINGS_H_
