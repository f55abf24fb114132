// Per-frame cost of MakeTone and NUM24_TO_CHAR for 8 s and 120 s tones at
// 44100 Hz, and of what the program does (MakePackedTone into a freshly
// allocated buffer) for the sine, a warm A4 and a bright B0 with F#1 and B1
// sounding with it, beside the floor that synthesis cannot beat: the same
// number of double-precision sin calls stored to memory. x_sin is the ratio of
// a benchmark's time per frame to that floor. Times are CPU time, which other
// load on the machine disturbs less than wall time.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <time.h>

#include <cmath>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "synth/tone.h"

namespace {

const uint32_t kRate = 44100;
const float kFrequency = 440.0f;
const float kVolume = 25.0f;
const int64_t kFrames8s = 8 * kRate;
const int64_t kFrames120s = 120 * kRate;

// The sin floor in ns per frame, by frame count; BM_SinFloor runs first.
std::map<int64_t, double> sinFloorNs;

double CpuNs() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// Runs body once per iteration and reports its CPU time in ns per frame,
// and unless this is the floor itself its ratio to the floor.
template <typename Body>
double TimePerFrame(benchmark::State& state, bool isFloor, Body body) {
  const int64_t frames = state.range(0);
  double ns = 0;
  for (auto _ : state) {
    const double start = CpuNs();
    body();
    ns += CpuNs() - start;
  }
  ns /= static_cast<double>(state.iterations()) * frames;
  state.counters["ns/frame"] = ns;
  auto floor = sinFloorNs.find(frames);
  if (!isFloor && floor != sinFloorNs.end()) {
    state.counters["x_sin"] = ns / floor->second;
  }
  return ns;
}

void BM_SinFloor(benchmark::State& state) {
  const int32_t frames = static_cast<int32_t>(state.range(0));
  const float omega =
      static_cast<float>(kFrequency * 6.283185307179586 / kRate);
  std::vector<double> out(frames);
  sinFloorNs[frames] = TimePerFrame(state, true, [&] {
    for (int32_t i = 0; i < frames; ++i) {
      out[i] = std::sin(static_cast<double>(i) * omega);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  });
}

void BM_MakeTone(benchmark::State& state) {
  const int32_t frames = static_cast<int32_t>(state.range(0));
  std::vector<int32_t> samples(frames);
  TimePerFrame(state, false, [&] {
    MakeTone(samples.data(), kFrequency, kRate, frames, kVolume);
    benchmark::DoNotOptimize(samples.data());
    benchmark::ClobberMemory();
  });
}

void BM_NUM24_TO_CHAR(benchmark::State& state) {
  const int32_t frames = static_cast<int32_t>(state.range(0));
  std::vector<int32_t> samples(frames);
  MakeTone(samples.data(), kFrequency, kRate, frames, kVolume);
  std::vector<uint8_t> packed(3 * size_t(frames));
  TimePerFrame(state, false, [&] {
    NUM24_TO_CHAR(samples.data(), packed.data(), frames);
    benchmark::DoNotOptimize(packed.data());
    benchmark::ClobberMemory();
  });
}

struct ToneCase {
  const char* timbre;
  std::vector<float> frequencies;
};

// The tone argument of BM_MakePackedToneCold.
const ToneCase kToneCases[] = {
    {"sine", {kFrequency}},
    {"warm", {kFrequency}},
    {"bright", {30.867706f, 46.249302f, 61.735413f}},  // B0, F#1, B1
};

// The program's path: a packed buffer fresh from the kernel, mapped and
// filled block by block, then freed.
void BM_MakePackedToneCold(benchmark::State& state) {
  const int32_t frames = static_cast<int32_t>(state.range(0));
  const ToneCase& tone = kToneCases[state.range(1)];
  state.SetLabel(std::string(tone.timbre) + ", " +
                 std::to_string(tone.frequencies.size()) + " notes");
  // A fixed threshold keeps malloc from serving the buffer from memory that
  // an earlier iteration freed, as it would once it raised the threshold.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  TimePerFrame(state, false, [&] {
    PackedBuffer packed = NewPackedBuffer(frames);
    MakePackedTone(packed.get(),
                   PlanTone(*FindTimbre(tone.timbre), tone.frequencies, kRate,
                            kVolume, frames),
                   frames);
    benchmark::DoNotOptimize(packed.get());
    benchmark::ClobberMemory();
  });
}

void Lengths(benchmark::internal::Benchmark* b) {
  b->ArgName("frames")->Arg(kFrames8s)->Arg(kFrames120s);
  b->Unit(benchmark::kMillisecond);
}

void LengthsAndTones(benchmark::internal::Benchmark* b) {
  b->ArgNames({"frames", "tone"});
  for (int64_t frames : {kFrames8s, kFrames120s}) {
    for (size_t tone = 0; tone < std::size(kToneCases); ++tone) {
      b->Args({frames, static_cast<int64_t>(tone)});
    }
  }
  b->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_SinFloor)->Apply(Lengths);
BENCHMARK(BM_MakeTone)->Apply(Lengths);
BENCHMARK(BM_NUM24_TO_CHAR)->Apply(Lengths);
BENCHMARK(BM_MakePackedToneCold)->Apply(LengthsAndTones);

BENCHMARK_MAIN();
