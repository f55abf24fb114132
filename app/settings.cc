#include "app/settings.h"

#include <cmath>

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
  if (seconds > 120.0f) return 120.0f;
  if (!(seconds >= 1.0f)) return 1.0f;
  return seconds;
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
