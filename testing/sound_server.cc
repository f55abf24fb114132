#include "testing/sound_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

namespace {

// The graph clock is fixed at 44100 Hz, so nothing is resampled.
const char kPipeWireConfig[] = R"(context.properties = {
    default.clock.rate = 44100
    default.clock.allowed-rates = [ 44100 ]
}
context.objects = [
    { factory = adapter
      args = {
          factory.name = support.null-audio-sink
          node.name = "larkhorn-sink"
          media.class = "Audio/Sink"
          audio.position = [ FL FR ]
          object.linger = true
      }
    }
]
)";

// WirePlumber starts once PipeWire's socket is there (for at most 10 s).
const char kPipeWireLaunch[] =
    "pipewire & i=0; "
    "while [ ! -S \"$XDG_RUNTIME_DIR/pipewire-0\" ] && [ $i -lt 200 ]; "
    "do sleep 0.05; i=$((i+1)); done; "
    "wireplumber & wait";

const double kFrameBytes = 8;  // 32-bit stereo

// Runs argv in a process group of its own, with env ("NAME=value") added
// and its output to logPath.
pid_t Spawn(const std::vector<std::string>& argv,
            const std::vector<std::string>& env, const std::string& logPath) {
  std::vector<std::string> args = argv;
  std::vector<char*> pointers;
  for (std::string& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    int in = open("/dev/null", O_RDONLY);
    int out = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    unsetenv("PIPEWIRE_REMOTE");
    unsetenv("PULSE_SERVER");
    for (const std::string& setting : env) {
      const size_t equals = setting.find('=');
      setenv(setting.substr(0, equals).c_str(),
             setting.substr(equals + 1).c_str(), 1);
    }
    execvp(pointers[0], pointers.data());
    dprintf(2, "cannot run %s: %s\n", pointers[0], strerror(errno));
    _exit(127);
  }
  if (pid > 0) setpgid(pid, pid);
  return pid;
}

// Checks done() every 20 ms until it holds or the seconds have passed.
template <typename Done>
bool WaitUntil(Done done, double seconds) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Waits up to seconds for the child pid to exit, then reaps it (killing it
// first if it is still there).
void Reap(pid_t pid, double seconds) {
  const int pidFd = int(syscall(SYS_pidfd_open, pid, 0));
  if (pidFd >= 0) {
    pollfd exited = {pidFd, POLLIN, 0};
    if (poll(&exited, 1, int(seconds * 1000)) == 0) kill(pid, SIGKILL);
    close(pidFd);
  } else {
    kill(pid, SIGKILL);
  }
  waitpid(pid, nullptr, 0);
}

// Whether program is an executable file in a directory on PATH.
bool Installed(const std::string& program) {
  const char* path = getenv("PATH");
  const std::string dirs = path ? path : "/usr/bin:/bin";
  for (size_t start = 0; start <= dirs.size();) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string file = dirs.substr(start, end - start) + "/" + program;
    if (access(file.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

bool Exited(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == pid; }

double FileSize(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? double(info.st_size) : 0.0;
}

}  // namespace

SoundServer::SoundServer(ServerKind serverKind, const TestDir& dir)
    : kind(serverKind), log(dir.path + "/server.log") {
  const bool pipeWire = kind == ServerKind::kPipeWire;
  const std::vector<std::string> programs =
      pipeWire ? std::vector<std::string>{"dbus-run-session", "pipewire",
                                          "wireplumber", "pw-record"}
               : std::vector<std::string>{"pulseaudio", "parec"};
  for (const std::string& program : programs) {
    if (missing.empty() && !Installed(program)) missing = program;
  }
  if (!missing.empty()) return;

  const std::string runtimeDir = dir.path + "/run";
  const std::string config = dir.path + "/server-config";
  std::vector<std::string> env = {
      "HOME=" + dir.path, "XDG_RUNTIME_DIR=" + runtimeDir,
      "XDG_CONFIG_HOME=" + config,
      "XDG_STATE_HOME=" + dir.path + "/server-state"};
  std::vector<std::string> argv;
  std::string socket;
  if (pipeWire) {
    for (const std::string& made :
         {runtimeDir, config, config + "/pipewire",
          config + "/pipewire/pipewire.conf.d", config + "/wireplumber",
          config + "/wireplumber/main.lua.d",
          config + "/wireplumber/bluetooth.lua.d"}) {
      mkdir(made.c_str(), 0700);
    }
    std::ofstream(config + "/pipewire/pipewire.conf.d/larkhorn.conf")
        << kPipeWireConfig;
    // The session manager must not take the machine's cards, cameras or
    // Bluetooth devices: the null sink is all the server has.
    std::ofstream(config + "/wireplumber/main.lua.d/51-larkhorn.lua")
        << "alsa_monitor.enabled = false\n"
           "v4l2_monitor.enabled = false\n"
           "libcamera_monitor.enabled = false\n";
    std::ofstream(config + "/wireplumber/bluetooth.lua.d/51-larkhorn.lua")
        << "bluez_monitor.enabled = false\n";
    argv = {"dbus-run-session", "--", "sh", "-c", kPipeWireLaunch};
    socket = runtimeDir + "/pipewire-0";
    clientEnv = {"HOME=" + dir.path, "XDG_RUNTIME_DIR=" + runtimeDir};
  } else {
    for (const std::string& made : {runtimeDir, config, config + "/pulse"}) {
      mkdir(made.c_str(), 0700);
    }
    // An empty daemon.conf of its own keeps the machine's settings out.
    std::ofstream(config + "/pulse/daemon.conf");
    socket = dir.path + "/pulse-native";
    const std::string script = dir.path + "/server.pa";
    const std::string clientConfig = dir.path + "/client.conf";
    // The sink first, so that it is there once clients can connect.
    std::ofstream(script) << "load-module module-null-sink "
                             "sink_name=larkhorn-sink rate=44100 "
                             "format=s24le channels=2\n"
                             "load-module module-native-protocol-unix "
                             "auth-anonymous=1 socket="
                          << socket << "\n";
    std::ofstream(clientConfig) << "autospawn = no\n";
    env.push_back("PULSE_RUNTIME_PATH=" + runtimeDir);
    env.push_back("PULSE_STATE_PATH=" + dir.path + "/server-state");
    env.push_back("PULSE_CLIENTCONFIG=" + clientConfig);
    argv = {"pulseaudio",          "-n",
            "--daemonize=no",      "--system=no",
            "--exit-idle-time=-1", "--use-pid-file=no",
            "--realtime=no",       "--high-priority=no",
            "--log-target=stderr", "--file=" + script};
    clientEnv = {"HOME=" + dir.path, "PULSE_SERVER=unix:" + socket,
                 "PULSE_CLIENTCONFIG=" + clientConfig};
  }
  group = Spawn(argv, env, log);
  if (group <= 0) return;
  bool leaderGone = false;
  running = WaitUntil(
      [&] {
        leaderGone = Exited(group);
        return leaderGone || access(socket.c_str(), F_OK) == 0;
      },
      20.0);
  running = running && !leaderGone;
  if (leaderGone) group = -1;
}

SoundServer::~SoundServer() {
  if (group <= 0) return;
  kill(-group, SIGTERM);
  Reap(group, 5.0);
  // Whatever of the group outlived its leader.
  kill(-group, SIGKILL);
}

SinkRecorder::SinkRecorder(const SoundServer& server,
                           const std::string& wavPath)
    : path(wavPath), log(wavPath + ".log") {
  const std::vector<std::string> argv =
      server.kind == ServerKind::kPipeWire
          ? std::vector<std::string>{"pw-record",
                                     "--target",
                                     "larkhorn-sink",
                                     "-P",
                                     "{ stream.capture.sink = true }",
                                     "--rate",
                                     "44100",
                                     "--channels",
                                     "2",
                                     "--format",
                                     "s32",
                                     path}
          // Fragments of 0.5 s: with shorter ones the monitor loses the
          // start of a stream to the sink's rewind; the default, 2 s, only
          // makes the test slower.
          : std::vector<std::string>{"parec",
                                     "--device=larkhorn-sink.monitor",
                                     "--rate=44100",
                                     "--channels=2",
                                     "--format=s32le",
                                     "--latency-msec=500",
                                     "--file-format=wav",
                                     path};
  pid = Spawn(argv, server.clientEnv, log);
  if (pid <= 0) return;
  // Frames arriving show the capture is linked and running.
  bool gone = false;
  running = WaitUntil(
      [&] {
        gone = Exited(pid);
        return gone || FileSize(path) > 44 + 0.1 * 44100 * kFrameBytes;
      },
      20.0);
  running = running && !gone;
  if (gone) pid = -1;
}

void SinkRecorder::Stop() {
  if (pid <= 0) return;
  // Let the capture run on past what the sink has played so far.
  const double size = FileSize(path);
  WaitUntil([&] { return FileSize(path) > size + 0.2 * 44100 * kFrameBytes; },
            10.0);
  kill(pid, SIGINT);
  Reap(pid, 5.0);
  pid = -1;
}

SinkRecorder::~SinkRecorder() {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

std::vector<int32_t> MonoFromWav32(const std::string& bytes) {
  std::vector<int32_t> mono;
  auto u32 = [&](size_t at) {
    uint32_t value = 0;
    memcpy(&value, bytes.data() + at, 4);
    return value;
  };
  auto u16 = [&](size_t at) {
    uint16_t value = 0;
    memcpy(&value, bytes.data() + at, 2);
    return value;
  };
  if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 ||
      bytes.compare(8, 4, "WAVE") != 0) {
    ADD_FAILURE() << "not a WAV file";
    return mono;
  }
  size_t at = 12;
  bool format = false;
  while (at + 8 <= bytes.size()) {
    const std::string id = bytes.substr(at, 4);
    const size_t size = std::min<size_t>(u32(at + 4), bytes.size() - at - 8);
    const size_t body = at + 8;
    if (id == "fmt " && size >= 16) {
      format = u16(body + 2) == 2 && u16(body + 14) == 32;
    } else if (id == "data") {
      EXPECT_TRUE(format) << "not 32-bit stereo";
      for (size_t i = body; i + 8 <= body + size; i += 8) {
        const int32_t left = int32_t(u32(i));
        EXPECT_EQ(left, int32_t(u32(i + 4)))
            << "channels differ at frame " << (i - body) / 8;
        mono.push_back(left / 256);
      }
      return mono;
    }
    at = body + size + (size & 1);
  }
  ADD_FAILURE() << "no data in the WAV file";
  return mono;
}
