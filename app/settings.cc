#include "app/settings.h"

#include <cmath>
#include <cstdio>

#include "pitch/note.h"

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
  if (seconds > kLongestSeconds) return kLongestSeconds;
  if (!(seconds >= kShortestSeconds)) return kShortestSeconds;
  return seconds;
}

std::string PitchHint(const ToneSettings& settings) {
  char text[160];
  if (settings.timbre == &Timbres().front() && settings.withNotes.empty()) {
    const float nyquist = settings.sampleRate / 2.0f;
    if (!(std::fabs(settings.frequency) > nyquist)) return "";
    snprintf(text, sizeof text,
             "%.2f Hz is above half the sample rate: it plays as %.2f Hz",
             settings.frequency, nyquist);
    return text;
  }
  const double highest = kHighestPartialShare * settings.sampleRate;
  if (!(std::fabs(settings.frequency) >= highest)) return "";
  snprintf(text, sizeof text,
           "%.2f Hz is not below %g times the sample rate: in a timbre or "
           "with other notes it is silent",
           settings.frequency, kHighestPartialShare);
  return text;
}

const StringPreset* FindPreset(const std::string& word) {
  // Guitar strings from the highest to the lowest, then the bass strings.
  static const StringPreset kStringPresets[] = {
      {"G1", "e", -1}, {"G2", "b", -1}, {"G3", "g", -2}, {"G4", "d", -2},
      {"G5", "a", -2}, {"G6", "e", -3}, {"B1", "g", -3}, {"B2", "d", -3},
      {"B3", "a", -3}, {"B4", "e", -4},
  };
  for (const StringPreset& preset : kStringPresets) {
    if (word == preset.word) return &preset;
  }
  return nullptr;
}

bool OtherTuning(const ToneSettings& settings) {
  const Tuning standard;
  return settings.tuning.concertPitch != standard.concertPitch ||
         settings.tuning.temperament != standard.temperament ||
         settings.tuning.cents != standard.cents ||
         settings.tuning.transpose != standard.transpose ||
         settings.timbre != &Timbres().front() || !settings.withNotes.empty();
}

float NotePitch(const ToneSettings& settings, const NamedNote& note) {
  return static_cast<float>(
      NoteFrequency(note.noteName, note.octave, settings.tuning));
}

float NotePitch(const ToneSettings& settings) {
  return NotePitch(settings, {settings.noteName, settings.octave});
}

TunedPitch TunePitch(const ToneSettings& settings, double hz) {
  if (settings.listenToNote) {
    const double reference =
        NoteFrequency(settings.noteName, settings.octave, settings.tuning);
    return {ScientificName(settings.noteName, settings.octave),
            1200 * std::log2(hz / reference)};
  }
  const NearestNote nearest = FindNearestNote(hz, settings.tuning);
  return {ScientificName(nearest.noteName, nearest.octave), nearest.cents};
}
