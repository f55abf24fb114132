#include "testing/pitch_estimate.h"

#include <cmath>
#include <utility>

namespace {

const double kTwoPi = 6.283185307179586;

// Solves the k-by-k system m x = v in place (v becomes x) by Gaussian
// elimination with partial pivoting; false when it is singular.
bool Solve(double m[4][4], double v[4], int k) {
  for (int col = 0; col < k; ++col) {
    int pivot = col;
    for (int r = col + 1; r < k; ++r) {
      if (std::fabs(m[r][col]) > std::fabs(m[pivot][col])) pivot = r;
    }
    if (m[pivot][col] == 0) return false;
    std::swap(m[pivot], m[col]);
    std::swap(v[pivot], v[col]);
    for (int r = col + 1; r < k; ++r) {
      const double factor = m[r][col] / m[col][col];
      for (int c = col; c < k; ++c) m[r][c] -= factor * m[col][c];
      v[r] -= factor * v[col];
    }
  }
  for (int r = k - 1; r >= 0; --r) {
    for (int c = r + 1; c < k; ++c) v[r] -= m[r][c] * v[c];
    v[r] /= m[r][r];
  }
  return true;
}

// Period in samples from a least-squares line through the linearly
// interpolated upward zero crossings; 0 when there are fewer than two.
double ZeroCrossingPeriod(const std::vector<int32_t>& samples, size_t count) {
  double n = 0, sumK = 0, sumT = 0, sumKK = 0, sumKT = 0;
  for (size_t i = 0; i + 1 < count; ++i) {
    const double a = samples[i];
    const double b = samples[i + 1];
    if (!(a < 0 && b >= 0)) continue;
    const double t = static_cast<double>(i) + a / (a - b);
    sumK += n;
    sumT += t;
    sumKK += n * n;
    sumKT += n * t;
    n += 1;
  }
  if (n < 2) return 0;
  return (n * sumKT - sumK * sumT) / (n * sumKK - sumK * sumK);
}

}  // namespace

SineFit FitSine(const std::vector<int32_t>& samples, size_t count) {
  SineFit fit;
  const double period = ZeroCrossingPeriod(samples, count);
  if (!(period > 0)) return fit;

  // Time is counted from the middle of the signal, and the frequency step
  // scaled to it, to keep the normal equations well conditioned.
  const double center = (static_cast<double>(count) - 1) / 2;
  double omega = kTwoPi / period;
  double a = 0, b = 0;  // the fit is a cos(omega t) + b sin(omega t) + c
  // The first pass fits amplitude and offset only; each later pass also
  // corrects omega, linearised about the previous fit.
  for (int pass = 0; pass < 50; ++pass) {
    const int k = pass == 0 ? 3 : 4;
    double m[4][4] = {};
    double v[4] = {};
    for (size_t i = 0; i < count; ++i) {
      const double t = static_cast<double>(i) - center;
      const double c = std::cos(omega * t);
      const double s = std::sin(omega * t);
      const double column[4] = {c, s, 1, t / center * (b * c - a * s)};
      for (int r = 0; r < k; ++r) {
        v[r] += column[r] * samples[i];
        for (int q = 0; q < k; ++q) m[r][q] += column[r] * column[q];
      }
    }
    if (!Solve(m, v, k)) return fit;
    a = v[0];
    b = v[1];
    if (k == 4) {
      const double step = v[3] / center;
      omega += step;
      if (std::fabs(step) <= 1e-12 * omega) {
        fit.converged = true;
        break;
      }
    }
  }
  fit.cyclesPerSample = omega / kTwoPi;
  fit.amplitude = std::hypot(a, b);
  // a cos + b sin = amplitude sin(omega t + atan2(a, b)); move to i = 0.
  fit.phase = std::remainder(std::atan2(a, b) - omega * center, kTwoPi);
  return fit;
}

double Cents(double measured, double reference) {
  return 1200 * std::log2(measured / reference);
}
