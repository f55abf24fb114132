// Test helpers: a private, headless sound server (PipeWire or PulseAudio)
// and a recorder of what its one sink plays.
#ifndef LARKHORN_TESTING_SOUND_SERVER_H_
#define LARKHORN_TESTING_SOUND_SERVER_H_

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "testing/process.h"

enum class ServerKind { kPipeWire, kPulseAudio };

// A server of its own, with runtime, configuration, state and socket under
// dir, never the user's: a null sink "larkhorn-sink" at 44100 Hz is its only
// output. PipeWire runs with WirePlumber under their own D-Bus session;
// PulseAudio runs without autospawn on a script of its own. Started on
// construction unless a program it needs is not installed (missing names
// it); running tells whether it came up, log holds its output, and
// clientEnv ("NAME=value") points a client at it. Its whole process group
// is ended on destruction.
struct SoundServer {
  SoundServer(ServerKind kind, const TestDir& dir);
  ~SoundServer();
  ServerKind kind;
  std::string missing;
  bool running = false;
  std::vector<std::string> clientEnv;
  std::string log;
  pid_t group = -1;
};

// pw-record or parec capturing what the sink plays, to a 32-bit stereo WAV
// file at 44100 Hz. Construction returns once the capture is running
// (running tells whether it came up within a bounded time, log holds its
// output); Stop lets it catch up with the sink, then ends it and waits for
// it.
struct SinkRecorder {
  SinkRecorder(const SoundServer& server, const std::string& wavPath);
  ~SinkRecorder();
  void Stop();
  bool running = false;
  std::string path;
  std::string log;
  pid_t pid = -1;
};

// Decodes a 32-bit stereo WAV file into 24-bit mono samples; fails the test
// if the channels differ or the file is not such a WAV.
std::vector<int32_t> MonoFromWav32(const std::string& bytes);

#endif  // LARKHORN_TESTING_SOUND_SERVER_H_
