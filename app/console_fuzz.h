// A libFuzzer target for the console: arbitrary bytes as its input, with a
// tone request that plays nothing but checks what it would have played.
#ifndef LARKHORN_APP_CONSOLE_FUZZ_H_
#define LARKHORN_APP_CONSOLE_FUZZ_H_

#include <cstddef>
#include <cstdint>

#include "app/console.h"

// The stand-in tone request: aborts with a message unless the length is
// within 1..120 s, the volume within -100..100 %, the frequency
// finite, the octave one of -4..1 and every token within the stored limit;
// then synthesises and packs the first few thousand frames of the tone.
bool CheckedTone(ToneSettings& settings);

// Runs the console on data (standard output goes wherever it is pointed;
// the fuzzer sends it to /dev/null) and checks the settings it ends with.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

#endif  // LARKHORN_APP_CONSOLE_FUZZ_H_
