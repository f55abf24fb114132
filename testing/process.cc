#include "testing/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/hint.h"
#include "synth/tone.h"

TestDir::TestDir() {
  char pattern[] = "/tmp/larkhorn-test-XXXXXX";
  const char* made = mkdtemp(pattern);
  EXPECT_NE(made, nullptr);
  path = made ? made : "/tmp";
}

TestDir::~TestDir() {
  if (path != "/tmp") {
    std::string command = "rm -rf '" + path + "'";
    if (system(command.c_str()) != 0) ADD_FAILURE() << "cannot remove " << path;
  }
}

void WriteAlsaConfig(const TestDir& dir, const std::string& asoundrc) {
  std::string alsaDir = dir.path + "/alsa";
  mkdir(alsaDir.c_str(), 0755);
  std::ofstream(alsaDir + "/asoundrc") << asoundrc;
}

std::string RecordingDefault(const std::string& file) {
  return "pcm.!default { type file slave.pcm null file \"" + file +
         "\" format raw }\n";
}

std::string TestCardType() {
  return std::string("pcm_type.larkhorn_test { lib \"") + LARKHORN_TEST_CARD +
         "\" }\n";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

bool WaitFor(const std::function<bool()>& condition) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void ReadAvailable(int terminal, std::string* shown) {
  char buffer[4096];
  pollfd ready = {terminal, POLLIN, 0};
  while (poll(&ready, 1, 0) > 0) {
    const ssize_t got = read(terminal, buffer, sizeof buffer);
    if (got <= 0) break;
    shown->append(buffer, size_t(got));
  }
}

void WaitForBytes(const std::string& path, size_t bytes, pid_t pid) {
  WaitFor([&] {
    struct stat info {};
    return (stat(path.c_str(), &info) == 0 && size_t(info.st_size) >= bytes) ||
           kill(pid, 0) != 0;
  });
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

std::string WithoutHints(const std::string& err) {
  // The last: the half-rate hint's words, as PitchHint writes them.
  const char* const kHints[] = {
      kNotAFrequency,
      kNotALength,
      kNotANoteName,
      kNotANumber,
      kNotAWholeNumber,
      kListDevicesHint,
      kPlughwHint,
      kDeviceRateHint,
      " Hz is above half the sample rate: it plays as "};
  std::string rest;
  size_t start = 0;
  while (start < err.size()) {
    size_t end = err.find('\n', start);
    end = end == std::string::npos ? err.size() : end + 1;
    const std::string line = err.substr(start, end - start);
    bool hint = false;
    for (const char* text : kHints)
      hint = hint || line.find(text) != std::string::npos;
    if (!hint) rest += line;
    start = end;
  }
  return rest;
}

bool WavSizesMatch(const std::string& bytes) {
  auto le32 = [&](size_t at) {
    uint32_t value = 0;
    memcpy(&value, bytes.data() + at, 4);
    return size_t(value);
  };
  return bytes.size() > 44 && bytes.compare(0, 4, "RIFF") == 0 &&
         le32(4) == bytes.size() - 8 && bytes.compare(36, 4, "data") == 0 &&
         le32(40) == bytes.size() - 44;
}

RunResult RunLarkhorn(const TestDir& dir, const std::vector<std::string>& args,
                      const std::string& input,
                      const std::vector<std::string>& env,
                      const RunExtras& extras) {
  const std::string inPath = dir.path + "/stdin";
  const std::string outPath = dir.path + "/stdout";
  const std::string errPath = dir.path + "/stderr";
  std::ofstream(inPath, std::ios::binary) << input;

  std::vector<char*> argv;
  std::string binary = LARKHORN_BINARY;
  argv.push_back(binary.data());
  std::vector<std::string> argsCopy = args;
  for (std::string& arg : argsCopy) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int terminal = -1, terminalSide = -1;
  if (extras.stderrOnTerminal &&
      openpty(&terminal, &terminalSide, nullptr, nullptr, nullptr) != 0) {
    ADD_FAILURE() << "no pseudo-terminal";
  }
  int console = -1, consoleSide = -1;
  if (extras.consoleOnTerminal &&
      openpty(&console, &consoleSide, nullptr, nullptr, nullptr) != 0) {
    ADD_FAILURE() << "no pseudo-terminal";
  }
  int pipeEnds[2] = {-1, -1};
  if (extras.inputOnPipe && pipe2(pipeEnds, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "no pipe";
  }
  RunResult result;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(inPath.c_str(), O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(pipeEnds[0] >= 0 ? pipeEnds[0] : in, 0);
    dup2(out, 1);
    dup2(terminalSide >= 0 ? terminalSide : err, 2);
    if (extras.stderrInOut) dup2(out, 2);
    if (terminal >= 0) close(terminal);
    if (consoleSide >= 0) {
      setsid();
      ioctl(consoleSide, TIOCSCTTY, 0);
      dup2(consoleSide, 0);
      dup2(consoleSide, 1);
      close(console);
    }
    for (int fd : extras.closed) close(fd);
    for (int signal : extras.ignoredSignals) std::signal(signal, SIG_IGN);
    if (extras.fileSizeLimit >= 0) {
      const rlimit limit = {rlim_t(extras.fileSizeLimit),
                            rlim_t(extras.fileSizeLimit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    // A hang fails the test instead of stalling the suite: the alarm
    // survives exec, and its default action ends the process.
    alarm(kHangSeconds);
    setenv("HOME", dir.path.c_str(), 1);
    setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1);
    // Debian's PulseAudio ALSA plugin gives "default" to any PulseAudio it
    // reaches, over the test's own configuration: none unless env names
    // one.
    const std::string noServer = "unix:" + dir.path + "/no-pulseaudio";
    setenv("PULSE_SERVER", noServer.c_str(), 1);
    for (const std::string& setting : env) {
      const size_t equals = setting.find('=');
      setenv(setting.substr(0, equals).c_str(),
             setting.substr(equals + 1).c_str(), 1);
    }
    // Last, so that only the program meets the limit.
    if (extras.addressSpaceLimit >= 0) {
      const rlimit limit = {rlim_t(extras.addressSpaceLimit),
                            rlim_t(extras.addressSpaceLimit)};
      setrlimit(RLIMIT_AS, &limit);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (terminalSide >= 0) close(terminalSide);
  if (consoleSide >= 0) close(consoleSide);
  if (pipeEnds[0] >= 0) close(pipeEnds[0]);
  // Writing to the pipe of a program that has ended fails instead of ending
  // the test.
  struct sigaction ignore {};
  struct sigaction before {};
  ignore.sa_handler = SIG_IGN;
  if (pipeEnds[1] >= 0) sigaction(SIGPIPE, &ignore, &before);
  const int typing = console >= 0 ? console : pipeEnds[1];
  if (typing >= 0 &&
      write(typing, input.data(), input.size()) != ssize_t(input.size())) {
    ADD_FAILURE() << "cannot type the input";
  }
  if (pid > 0 && extras.whileRunning) extras.whileRunning(pid, typing);
  if (pipeEnds[1] >= 0) {
    close(pipeEnds[1]);
    sigaction(SIGPIPE, &before, nullptr);
  }
  // Read as it comes, or the program could block on a full terminal; the
  // end (EIO) comes when it has exited.
  std::string shown;
  char buffer[4096];
  ssize_t got;
  while (console >= 0 && (got = read(console, buffer, sizeof buffer)) > 0) {
    shown.append(buffer, size_t(got));
  }
  if (console >= 0) close(console);
  int status = 0;
  rusage usage{};
  if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.hung = result.signal == SIGALRM;
  }
  result.wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  result.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                      (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  result.out = extras.consoleOnTerminal ? shown : ReadFile(outPath);
  result.err = ReadFile(errPath);
  // What the program wrote to the terminal stays readable after it ended.
  while (terminal >= 0 && (got = read(terminal, buffer, sizeof buffer)) > 0) {
    result.err.append(buffer, size_t(got));
  }
  if (terminal >= 0) close(terminal);
  return result;
}

std::vector<int32_t> MonoFromFrames24(const std::string& bytes, int channels) {
  std::vector<int32_t> mono;
  const size_t frameBytes = 3 * size_t(channels);
  EXPECT_EQ(bytes.size() % frameBytes, 0u);
  for (size_t i = 0; i + frameBytes <= bytes.size(); i += frameBytes) {
    for (size_t c = 3; c < frameBytes; c += 3) {
      EXPECT_EQ(bytes.compare(i, 3, bytes, i + c, 3), 0)
          << "channels differ at frame " << i / frameBytes;
    }
    const auto* b = reinterpret_cast<const uint8_t*>(bytes.data() + i);
    uint32_t bits = b[0] | (b[1] << 8) | (uint32_t(b[2]) << 16);
    if (bits & 0x800000) bits |= 0xFF000000u;
    mono.push_back(static_cast<int32_t>(bits));
  }
  return mono;
}

std::vector<int32_t> MonoFromStereo24(const std::string& bytes) {
  return MonoFromFrames24(bytes, 2);
}

std::vector<int32_t> ExpectedTone(float frequency, uint32_t rate,
                                  int32_t frames, float volume) {
  std::vector<int32_t> samples(frames);
  MakeTone(samples.data(), frequency, rate, frames, volume);
  for (int32_t& s : samples) s = std::min(8388607, std::max(-8388608, s));
  return samples;
}
