// Test helpers: run the built larkhorn binary and give it its own ALSA
// configuration, so tests never depend on the machine's sound set-up.
#ifndef LARKHORN_TESTING_PROCESS_H_
#define LARKHORN_TESTING_PROCESS_H_

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct RunResult {
  int exitStatus = -1;  // -1 when the process did not exit normally
  bool hung = false;    // killed after running for kHangSeconds
  int signal = 0;       // the signal that ended it, if one did
  std::string out;
  std::string err;
  double wallSeconds = 0;
  double cpuSeconds = 0;  // user plus system time
};

// A run still going after this long is killed as hung.
const int kHangSeconds = 60;

// A private directory that serves as HOME and XDG_CONFIG_HOME for the
// binary; removed with everything in it on destruction.
struct TestDir {
  TestDir();
  ~TestDir();
  std::string path;
};

// Writes asoundrc as the ALSA user configuration under dir.
void WriteAlsaConfig(const TestDir& dir, const std::string& asoundrc);

// An ALSA configuration whose default device records raw frames to file.
std::string RecordingDefault(const std::string& file);

// ALSA configuration that names the test sound card's plugin type,
// larkhorn_test (options in testing/test_card.cc).
std::string TestCardType();

// What a run may have besides its arguments and input: descriptors (of 0,
// 1 and 2) closed and signals ignored before it starts, limits on the size
// of files it writes and on its address space, standard error on a
// pseudo-terminal or in out with standard output, standard input on a pipe
// that stays open while it runs, standard input and output on another
// pseudo-terminal (its controlling terminal: the input is typed there, and
// what the terminal shows comes back as out), and something to do while it
// runs, given its process id and where more can be typed (that terminal's
// typing side or the pipe's writing side, else -1) and what a terminal
// shows read.
struct RunExtras {
  std::vector<int> closed;
  std::vector<int> ignoredSignals;
  long fileSizeLimit = -1;      // bytes, as ulimit -f sets it; -1 for none
  long addressSpaceLimit = -1;  // bytes, as ulimit -v sets it; -1 for none
  bool stderrOnTerminal = false;
  bool stderrInOut = false;
  bool inputOnPipe = false;  // closed once whileRunning returns
  bool consoleOnTerminal = false;
  std::function<void(pid_t pid, int typing)> whileRunning;
};

// Runs the larkhorn binary with args, feeding it input on standard input,
// with dir as its home and configuration directory and env ("NAME=value")
// added to its environment. A run still going after kHangSeconds is killed,
// so a hang fails the test instead of the suite.
RunResult RunLarkhorn(const TestDir& dir, const std::vector<std::string>& args,
                      const std::string& input = "",
                      const std::vector<std::string>& env = {},
                      const RunExtras& extras = {});

std::string ReadFile(const std::string& path);

// How many times part stands in text, overlapping ones too.
size_t Count(const std::string& text, const std::string& part);

// Polls until condition holds, or 20 s have passed; whether it held.
bool WaitFor(const std::function<bool()>& condition);

// Appends to *shown what a terminal's descriptor has for reading now,
// without waiting for more.
void ReadAvailable(int terminal, std::string* shown);

// Waits until the file at path holds at least bytes, or process pid has
// ended, or 20 s have passed.
void WaitForBytes(const std::string& path, size_t bytes, pid_t pid);

// Standard error less the hints (app/hint.h), the lines in which the
// program says what it did not understand or plays otherwise than asked:
// what is left is a real error.
std::string WithoutHints(const std::string& err);

// Whether bytes are a WAV file whose RIFF and data sizes count what it
// holds, as ALSA's file plugin writes them when the device is closed.
bool WavSizesMatch(const std::string& bytes);

// Decodes interleaved S24_3LE frames of the given channel count; fails the
// test if the channels differ or the size is not a whole number of frames.
std::vector<int32_t> MonoFromFrames24(const std::string& bytes, int channels);

// MonoFromFrames24 for stereo.
std::vector<int32_t> MonoFromStereo24(const std::string& bytes);

// The samples the program should produce for a tone.
std::vector<int32_t> ExpectedTone(float frequency, uint32_t rate,
                                  int32_t frames, float volume);

#endif  // LARKHORN_TESTING_PROCESS_H_
