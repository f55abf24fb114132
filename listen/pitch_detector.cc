// The pitch detector. The period comes from McLeod's normalized square
// difference function (NSDF), its autocorrelation computed through FFTW;
// the partials then guard against a period half the true one; the
// frequency is refined from how the phase of the lowest strong partial
// moves from frame to frame, as a strobe tuner shows it, over up to a
// second of the note.
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>

#include "listen/listen.h"

namespace {

const double kTwoPi = 6.283185307179586;
const uint32_t kLowestRate = 8000;
const uint32_t kHighestRate = 384000;
// The period is looked for in the last three periods of the lowest pitch.
const double kWindowPeriods = 3;
// and only once the note has lasted this many periods, so that a period
// twice as long could have been seen.
const double kLeastPeriods = 4;
// Sound quieter than this (RMS, full scale 1) has no pitch.
const double kSilenceRms = 1e-4;
// McLeod's choice among the NSDF's peaks: the first one at least this
// share of the highest, so that a period twice the true one, almost as
// alike, is not taken.
const double kPeakShare = 0.9;
// Below this the sound is too unlike itself to have a pitch: noise, or a
// note fallen into it.
const double kMinClarity = 0.85;
// A note begins after a period quieter than this share of what followed.
const double kQuiet = 0.1;
// What NoteStart looks at, at least: a short period is too few frames.
const double kLeastOnsetSeconds = 0.002;
// Frames for the partials span a whole, even number of periods of the
// fundamental, so that the other partials and the points halfway between
// them fall on the zeros of the Hann window's spectrum: at least this many,
// and enough to fill kLeastFrameSeconds, against noise. Successive frames
// are an eighth of a frame apart: the first reading needs two frames after
// the onset, a frame and an eighth.
const double kFramePeriods = 4;
const size_t kHopsPerFrame = 8;
const double kLeastFrameSeconds = 0.02;
const int kMostPartials = 8;
// The share of the sound's energy those partials must hold: a sound with
// a pitch has most of its energy there.
const double kLeastExplained = 0.25;
// Partials halfway between those of the period found, with this share of
// their power, mean that the period is half the true one; odd partials
// this weak against the even ones, that it is twice the true one.
const double kOctaveShare = 0.05;
// The partial followed is the lowest with this share of the strongest's
// power: the fundamental unless it is weak or missing.
const double kPartialShare = 0.1;
// The phase is followed over at most this long, back to the note's onset
// or to where it leaves the line fitted so far by this many radians: where
// the pitch changed.
const double kMostSpanSeconds = 1.0;
const double kMostResidual = 0.5;
const double kHistorySeconds =
    kMostSpanSeconds + kFramePeriods / kLowestPitchHz;

double HighestPitch(uint32_t rate) {
  return std::min(kHighestPitchHz, 0.45 * rate);
}

size_t PowerOfTwo(size_t n) {
  size_t size = 1;
  while (size < n) size *= 2;
  return size;
}

// Where the note heard last began, within the last span frames: after the
// last stretch of a period that stayed below kQuiet of the loudest sound
// since, which finds an onset out of silence to the frame. An onset out of
// noise shows as a period below kQuiet of the loudest period's power
// instead, found only to the period: then the note is taken to begin
// margin frames after it. A frame across the onset would bend the
// partial's phase.
size_t NoteStart(const float* sound, size_t count, size_t span, size_t period,
                 size_t margin) {
  float loudest = 0;
  size_t quiet = 0;
  for (size_t i = count; i > count - span; --i) {
    const float level = std::fabs(sound[i - 1]);
    loudest = std::max(loudest, level);
    quiet = level < kQuiet * loudest ? quiet + 1 : 0;
    if (quiet >= period) return i - 1 + quiet;
  }
  double loudestPower = 0;
  for (size_t end = count; end >= count - span + period; end -= period) {
    double power = 0;
    for (size_t i = end - period; i < end; ++i) power += sound[i] * sound[i];
    loudestPower = std::max(loudestPower, power);
    if (power < kQuiet * loudestPower) return std::min(end + margin, count);
  }
  return count - span;
}

// A peak of the NSDF, at a lag in frames between samples.
struct Peak {
  double lag = 0;
  double value = 0;
};

// The peak at lag `at`, moved to the top of a parabola through it and its
// neighbours.
Peak Interpolated(const std::vector<double>& nsdf, size_t at) {
  const double a = nsdf[at - 1], b = nsdf[at], c = nsdf[at + 1];
  const double curvature = a - 2 * b + c;
  if (curvature >= 0) return {double(at), b};
  const double shift = 0.5 * (a - c) / curvature;
  return {double(at) + shift, b - 0.25 * (a - c) * shift};
}

// McLeod's key maxima: the highest point of each stretch above zero after
// the NSDF first falls below it, from minLag on.
std::vector<Peak> KeyMaxima(const std::vector<double>& nsdf, size_t minLag) {
  const size_t maxLag = nsdf.size() - 1;
  std::vector<Peak> peaks;
  size_t lag = 1;
  while (lag < maxLag && nsdf[lag] > 0) ++lag;
  size_t best = 0;
  for (; lag < maxLag; ++lag) {
    if (nsdf[lag] > 0) {
      if (best == 0 || nsdf[lag] > nsdf[best]) best = lag;
    } else if (best != 0) {
      if (best >= minLag) peaks.push_back(Interpolated(nsdf, best));
      best = 0;
    }
  }
  // A stretch still rising at the last lag has no peak within reach.
  if (best != 0 && best + 1 < maxLag && best >= minLag) {
    peaks.push_back(Interpolated(nsdf, best));
  }
  return peaks;
}

// The NSDF's key maxima over the last `used` frames of sound (at most the
// detector's window); none for silence.
std::vector<Peak> PeriodPeaks(PitchDetector& detector, const float* last,
                              size_t used) {
  double* x = detector.timeData.get();
  std::fill(x, x + detector.fftFrames, 0.0);
  double mean = 0;
  for (size_t i = 0; i < used; ++i) mean += last[i];
  mean /= double(used);
  double energy = 0;
  std::vector<double> squares(used);
  for (size_t i = 0; i < used; ++i) {
    x[i] = last[i] - mean;
    squares[i] = x[i] * x[i];
    energy += squares[i];
  }
  if (std::sqrt(energy / double(used)) < kSilenceRms) return {};

  // The autocorrelation, as the inverse transform of the power spectrum.
  fftw_execute(detector.forward.get());
  fftw_complex* spectrum =
      reinterpret_cast<fftw_complex*>(detector.spectrum.get());
  for (size_t k = 0; k <= detector.fftFrames / 2; ++k) {
    spectrum[k][0] =
        spectrum[k][0] * spectrum[k][0] + spectrum[k][1] * spectrum[k][1];
    spectrum[k][1] = 0;
  }
  fftw_execute(detector.backward.get());
  const double scale = 1.0 / double(detector.fftFrames);

  const size_t maxLag =
      std::min<size_t>(used / 2, size_t(detector.rate / kLowestPitchHz) + 2);
  if (maxLag < 3) return {};
  std::vector<double> nsdf(maxLag + 1);
  double m = 2 * energy;
  for (size_t lag = 0; lag <= maxLag; ++lag) {
    if (lag > 0) m -= squares[lag - 1] + squares[used - lag];
    nsdf[lag] = m > 0 ? 2 * x[lag] * scale / m : 0;
  }
  const size_t minLag =
      std::max<size_t>(1, size_t(detector.rate / HighestPitch(detector.rate)));
  return KeyMaxima(nsdf, minLag);
}

// McLeod's choice: the first peak with kPeakShare of the highest's value.
Peak ChosenPeak(const std::vector<Peak>& peaks) {
  double highest = 0;
  for (const Peak& peak : peaks) highest = std::max(highest, peak.value);
  for (const Peak& peak : peaks) {
    if (peak.value >= kPeakShare * highest) return peak;
  }
  return {};
}

// The Hann window times e^(-i omega j) over a frame of length frames: what
// a frame's samples are summed against for its spectrum at omega radians a
// frame.
std::vector<std::complex<double>> FrameKernel(size_t length, double omega) {
  std::vector<std::complex<double>> kernel(length);
  const std::complex<double> step = std::polar(1.0, -omega);
  const std::complex<double> windowStep = std::polar(1.0, kTwoPi / length);
  std::complex<double> turn = 1;
  std::complex<double> windowTurn = std::polar(1.0, 0.5 * kTwoPi / length);
  for (size_t j = 0; j < length; ++j) {
    kernel[j] = (0.5 - 0.5 * windowTurn.real()) * turn;
    turn *= step;
    windowTurn *= windowStep;
  }
  return kernel;
}

// The spectrum of the frame at start through kernel, its phase referred to
// frame `reference`.
std::complex<double> Spectrum(const float* sound, size_t start,
                              const std::vector<std::complex<double>>& kernel,
                              double omega, double reference) {
  double re = 0, im = 0;
  for (size_t j = 0; j < kernel.size(); ++j) {
    re += kernel[j].real() * sound[start + j];
    im += kernel[j].imag() * sound[start + j];
  }
  return std::complex<double>(re, im) *
         std::polar(1.0, -omega * (double(start) - reference));
}

// A whole, even number of periods, at least kFramePeriods and
// kLeastFrameSeconds.
size_t FrameLength(double fundamental, uint32_t rate) {
  const double periods = std::max(
      kFramePeriods, 2 * std::ceil(kLeastFrameSeconds * fundamental / 2));
  return std::max<size_t>(8, size_t(std::lround(periods * rate / fundamental)));
}

// The powers of partials 1, 2, ... of fundamental in the last frame, and
// of the points halfway below each.
struct Partials {
  std::vector<double> power;
  std::vector<double> below;
  // What a partial holding all the frame's sound would show: a pure tone's
  // partial shows a third of the windowed frame's energy (the Hann
  // window's main lobe) times its length.
  double whole = 0;
};

Partials PartialPowers(const float* sound, size_t count, double fundamental,
                       uint32_t rate) {
  Partials partials;
  const size_t length = std::min(count, FrameLength(fundamental, rate));
  const std::vector<std::complex<double>> window = FrameKernel(length, 0);
  for (size_t j = 0; j < length; ++j) {
    const double windowed = window[j].real() * sound[count - length + j];
    partials.whole += windowed * windowed;
  }
  partials.whole *= double(length) / 3;
  for (int n = 1; n <= kMostPartials && n * fundamental < 0.45 * rate; ++n) {
    for (double k : {double(n), n - 0.5}) {
      const double omega = kTwoPi * k * fundamental / rate;
      const double power = std::norm(Spectrum(
          sound, count - length, FrameKernel(length, omega), omega, 0));
      (k == n ? partials.power : partials.below).push_back(power);
    }
  }
  return partials;
}

double Sum(const std::vector<double>& values) {
  double sum = 0;
  for (double value : values) sum += value;
  return sum;
}

// Whether the sound holds partials halfway between those of period, and
// its NSDF is at least as high at twice the period: then that is the
// period.
bool PeriodIsHalf(const Partials& partials, const Peak& period,
                  const std::vector<Peak>& peaks) {
  if (Sum(partials.below) <= kOctaveShare * Sum(partials.power)) return false;
  for (const Peak& peak : peaks) {
    if (std::fabs(peak.lag - 2 * period.lag) < 0.02 * period.lag &&
        peak.value >= period.value) {
      return true;
    }
  }
  return false;
}

// Whether the odd partials of the period found are missing, as when the
// NSDF's peak at the true period, a few frames long, falls between two
// frames and looks lower than the next: then half that is the period.
bool PeriodIsDouble(const Partials& partials) {
  double odd = 0, even = 0;
  for (size_t i = 0; i < partials.power.size(); ++i) {
    (i % 2 == 0 ? odd : even) += partials.power[i];
  }
  return odd < kOctaveShare * even;
}

// The lowest partial with kPartialShare of the strongest's power.
int PartialToFollow(const Partials& partials) {
  const std::vector<double>& power = partials.power;
  const double strongest = *std::max_element(power.begin(), power.end());
  for (size_t i = 0; i < power.size(); ++i) {
    if (power[i] >= kPartialShare * strongest) return int(i) + 1;
  }
  return 1;
}

// A straight line fitted by weighted least squares: phase against time.
struct LineFit {
  double w = 0, wt = 0, wtt = 0, wp = 0, wtp = 0;
  int points = 0;
};

void AddPoint(LineFit& fit, double t, double phase, double weight) {
  fit.w += weight;
  fit.wt += weight * t;
  fit.wtt += weight * t * t;
  fit.wp += weight * phase;
  fit.wtp += weight * t * phase;
  ++fit.points;
}

double Slope(const LineFit& fit) {
  const double d = fit.w * fit.wtt - fit.wt * fit.wt;
  return d > 0 ? (fit.w * fit.wtp - fit.wt * fit.wp) / d : 0;
}

double PhaseAt(const LineFit& fit, double t) {
  const double slope = Slope(fit);
  return (fit.wp - slope * fit.wt) / fit.w + slope * t;
}

// The frequency of the partial near hz: the slope of its phase, frame by
// frame from the newest back to the note's onset at frame first, or to
// where the phase leaves the line. False until two frames lie wholly after
// the onset: the NSDF's period alone is a few cents out, and a frame across
// the onset bends the phase.
bool FollowPhase(const float* sound, size_t count, size_t first, double hz,
                 double fundamental, uint32_t rate, double* followed) {
  const size_t length = FrameLength(fundamental, rate);
  const size_t hop = std::max<size_t>(length / kHopsPerFrame, 1);
  const double reference = double(count);
  const double omega = kTwoPi * hz / rate;
  const std::vector<std::complex<double>> kernel = FrameKernel(length, omega);
  LineFit fit;
  double newest = 0;
  for (size_t end = count; end >= first + length; end -= hop) {
    const size_t start = end - length;
    const std::complex<double> z =
        Spectrum(sound, start, kernel, omega, reference);
    if (z == 0.0) break;
    const double t = start + 0.5 * length - reference;
    double phase = std::arg(z);
    if (fit.points > 0) {
      const double expected = fit.points >= 2 ? PhaseAt(fit, t) : newest;
      phase = expected + std::remainder(phase - expected, kTwoPi);
      if (fit.points >= 2 && std::fabs(phase - expected) > kMostResidual) {
        break;
      }
    }
    newest = phase;
    // Each phase counts by its signal-to-noise ratio.
    AddPoint(fit, t, phase, std::norm(z));
  }
  if (fit.points < 2) return false;
  *followed = hz + Slope(fit) * rate / kTwoPi;
  return true;
}

}  // namespace

bool MakePitchDetector(uint32_t rate, PitchDetector* detector,
                       std::string* err) {
  if (rate < kLowestRate || rate > kHighestRate) {
    *err = "cannot measure pitch at " + std::to_string(rate) +
           " frames a second: the rate must be from " +
           std::to_string(kLowestRate) + " to " + std::to_string(kHighestRate);
    return false;
  }
  detector->rate = rate;
  detector->history.clear();
  detector->history.reserve(size_t(2 * kHistorySeconds * rate));
  detector->windowFrames = size_t(kWindowPeriods * rate / kLowestPitchHz);
  // Room for the window and as many zeros, so that the autocorrelation
  // does not wrap around.
  detector->fftFrames = PowerOfTwo(2 * detector->windowFrames);
  const size_t n = detector->fftFrames;
  detector->timeData = {fftw_alloc_real(n), fftw_free};
  detector->spectrum = {
      reinterpret_cast<double*>(fftw_alloc_complex(n / 2 + 1)), fftw_free};
  if (!detector->timeData || !detector->spectrum) {
    *err = "not enough memory to measure pitch";
    return false;
  }
  fftw_complex* spectrum =
      reinterpret_cast<fftw_complex*>(detector->spectrum.get());
  detector->forward = {fftw_plan_dft_r2c_1d(int(n), detector->timeData.get(),
                                            spectrum, FFTW_ESTIMATE),
                       fftw_destroy_plan};
  detector->backward = {
      fftw_plan_dft_c2r_1d(int(n), spectrum, detector->timeData.get(),
                           FFTW_ESTIMATE),
      fftw_destroy_plan};
  if (!detector->forward || !detector->backward) {
    *err = "cannot plan the transforms to measure pitch";
    return false;
  }
  return true;
}

void AddSound(PitchDetector& detector, const float* samples, size_t count) {
  std::vector<float>& history = detector.history;
  const size_t keep = size_t(kHistorySeconds * detector.rate);
  history.insert(history.end(), samples, samples + count);
  // Dropping the oldest now and then, not at every call, keeps this cheap.
  if (history.size() > 2 * keep) {
    history.erase(history.begin(), history.end() - keep);
  }
}

PitchReading MeasurePitch(PitchDetector& detector) {
  PitchReading reading;
  const uint32_t rate = detector.rate;
  const float* sound = detector.history.data();
  const size_t count = detector.history.size();
  const size_t span = std::min(count, size_t(kMostSpanSeconds * detector.rate));
  if (span == 0) return reading;
  // The note heard last, back to its onset: what came before is not its
  // pitch.
  const size_t noteFrames =
      count - NoteStart(sound, count, span, size_t(rate / kLowestPitchHz), 0);
  const size_t used = std::min(noteFrames, detector.windowFrames);
  if (used == 0) return reading;
  const std::vector<Peak> peaks =
      PeriodPeaks(detector, sound + count - used, used);
  Peak period = ChosenPeak(peaks);
  reading.clarity = period.value;
  if (period.lag == 0 || period.value < kMinClarity ||
      kLeastPeriods * period.lag > double(noteFrames)) {
    return reading;
  }
  Partials partials = PartialPowers(sound, count, rate / period.lag, rate);
  if (PeriodIsHalf(partials, period, peaks)) {
    period.lag *= 2;
    partials = PartialPowers(sound, count, rate / period.lag, rate);
  } else {
    // A high note's period spans few frames, and the NSDF may show it best
    // at two or four periods: halve until the odd partials are there.
    while (PeriodIsDouble(partials) &&
           2 * rate / period.lag < HighestPitch(rate)) {
      period.lag /= 2;
      partials = PartialPowers(sound, count, rate / period.lag, rate);
    }
  }
  const double fundamental = rate / period.lag;
  // Above what the rate carries (a tone near half of it) there is no
  // partial to follow; a period whose partials hold little of the sound
  // is not its pitch (as for such a tone, which looks periodic at the
  // beat with its mirror image at half the rate).
  if (fundamental >= HighestPitch(rate) ||
      Sum(partials.power) < kLeastExplained * partials.whole) {
    return reading;
  }
  const int n = PartialToFollow(partials);
  // A high note's period is a few frames, which may all fall near its zero
  // crossings: the onset is looked for in whole periods of a few
  // milliseconds.
  const size_t block = size_t(
      period.lag * std::ceil(kLeastOnsetSeconds * rate / period.lag) + 0.5);
  const size_t first = NoteStart(sound, count, span, block, block);
  double followed = 0;
  if (!FollowPhase(sound, count, first, n * fundamental, fundamental, rate,
                   &followed)) {
    return reading;
  }
  reading.found = true;
  reading.hz = followed / n;
  return reading;
}
