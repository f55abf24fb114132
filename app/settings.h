// The settings record, and the number and pitch rules that the command line
// and the console share.
#ifndef LARKHORN_APP_SETTINGS_H_
#define LARKHORN_APP_SETTINGS_H_

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "pitch/note.h"
#include "synth/tone.h"

enum class PitchMode { Note = 1, Frequency = 2 };
enum class BannerState { Title = 0, Plain = 1, Help = 2 };

// A note by the console's name and octave.
struct NamedNote {
  std::string noteName;
  double octave;
};

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
  // --hold: each tone sounds until it is stopped, or in the console until
  // the next play command switches to another.
  bool hold = false;
  std::string command;
  Tuning tuning;
  const Timbre* timbre = &Timbres().front();
  std::vector<NamedNote> withNotes;  // sound together with every tone
  // --listen: measure the pitch heard instead of playing, for listenSeconds
  // of sound (infinite: until stopped), against the note of --note when
  // listenToNote, else against the nearest note.
  bool listen = false;
  double listenSeconds = INFINITY;
  bool listenToNote = false;
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

// Whether any of the tuning, the timbre and the notes sounding with every
// tone is not the default.
bool OtherTuning(const ToneSettings& settings);

// The frequency of a note name and octave in the settings' tuning, rounded
// to single precision.
float NotePitch(const ToneSettings& settings, const NamedNote& note);

// NotePitch of the settings' own note name and octave.
float NotePitch(const ToneSettings& settings);

// How a pitch of hz reads in the settings' tuning: the scientific name of
// the nearest note (with --note, of that note) and how many cents hz lies
// above it. Every option that changes the tuning applies here.
struct TunedPitch {
  std::string note;
  double cents = 0;
};
TunedPitch TunePitch(const ToneSettings& settings, double hz);

// text in single quotes for a message: bytes that do not print shown as ?,
// and cut short after a few dozen.
std::string Printable(const std::string& text);

// Rounds to single precision; magnitudes beyond its range become infinite.
float ToSingle(double value);

// Clamps a length in seconds to kShortestSeconds..kLongestSeconds; NaN
// counts as below range.
float ClampLength(float seconds);

// The hint for a frequency that does not play as it is: a lone sine above
// half the sample rate plays as half the rate; in a timbre or a chord, a
// note with no harmonic below the highest partial is silent. Empty when it
// plays as it is.
std::string PitchHint(const ToneSettings& settings);

#endif  // LARKHORN_APP_SETTINGS_H_
