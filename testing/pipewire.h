// Test helpers: a private, headless PipeWire sound server and a recorder of
// what its one sink plays.
#ifndef LARKHORN_TESTING_PIPEWIRE_H_
#define LARKHORN_TESTING_PIPEWIRE_H_

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "testing/process.h"

// PipeWire and WirePlumber under their own D-Bus session, with runtime,
// configuration and state under dir: a null sink "larkhorn-sink" is the
// only output and the graph runs at 44100 Hz. Started on construction
// (running tells whether it came up, log holds its output), and its whole
// process group is ended on destruction.
struct PipeWireServer {
  explicit PipeWireServer(const TestDir& dir);
  ~PipeWireServer();
  bool running = false;
  std::string runtimeDir;
  std::string log;
  pid_t group = -1;
};

// pw-record capturing what the sink plays, to a 32-bit stereo WAV file at
// 44100 Hz. Construction returns once the capture is running (running
// tells whether it came up within a bounded time, log holds its output);
// Stop lets it catch up with the sink, then ends it and waits for it.
struct SinkRecorder {
  SinkRecorder(const PipeWireServer& server, const std::string& wavPath);
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

#endif  // LARKHORN_TESTING_PIPEWIRE_H_
