// The program playing through real sound servers, each a private one that
// the test starts and ends itself; skipped, with the reason, where the
// server or its ALSA plugin is not installed.
#include "testing/sound_server.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "testing/process.h"

namespace {

// Whether ALSA, configured as the program would be with dir as its home
// and env added, makes the PCM device name a PulseAudio one. Learnt in a
// child process, so that the configuration's hooks run with that
// environment and this process's own stays as it is.
bool IsPulseDevice(const TestDir& dir, const std::vector<std::string>& env,
                   const char* name) {
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("HOME", dir.path.c_str(), 1);
    setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1);
    for (const std::string& setting : env) {
      const size_t equals = setting.find('=');
      setenv(setting.substr(0, equals).c_str(),
             setting.substr(equals + 1).c_str(), 1);
    }
    snd_config_update_free_global();
    snd_config_t* device = nullptr;
    snd_config_t* type = nullptr;
    const char* typeName = nullptr;
    _exit(snd_config_update() >= 0 &&
                  snd_config_search_definition(snd_config, "pcm", name,
                                               &device) >= 0 &&
                  snd_config_search(device, "type", &type) >= 0 &&
                  snd_config_get_string(type, &typeName) >= 0 &&
                  strcmp(typeName, "pulse") == 0
              ? 0
              : 1);
  }
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// Plays a 1 s, 440 Hz tone on device while recording the server's sink,
// and checks that the run ended well and the sink received exactly the
// tone, after whatever silence it played before the program started.
void PlayAndCheck(const TestDir& dir, const SoundServer& server,
                  const std::string& device) {
  SinkRecorder recorder(server, dir.path + "/sink.wav");
  EXPECT_TRUE(recorder.running)
      << ReadFile(recorder.log) << ReadFile(server.log);
  if (!recorder.running) return;
  const RunResult run =
      RunLarkhorn(dir, {"440", "1", device}, "", server.clientEnv);
  recorder.Stop();
  EXPECT_FALSE(run.hung);
  EXPECT_EQ(run.exitStatus, 0) << run.err << ReadFile(server.log);
  EXPECT_EQ(run.out, "Frequency = 440.00 Hz\n");
  EXPECT_EQ(run.err, "");
  // A drain that locks up may still return, long after: a 1 s tone that
  // takes ten times as long has hung.
  EXPECT_LE(run.wallSeconds, 10.0);

  const std::vector<int32_t> sink = MonoFromWav32(ReadFile(recorder.path));
  const std::vector<int32_t> tone = ExpectedTone(440.0f, 44100, 44100, 25.0f);
  // The tone's first frame is silent, its second is not.
  size_t start = 0;
  while (start < sink.size() && sink[start] == 0) ++start;
  EXPECT_GT(start, 0u) << "the capture missed the start of the tone";
  EXPECT_LT(start, sink.size()) << "no tone reached the sink";
  if (start == 0 || start == sink.size()) return;
  --start;
  EXPECT_GE(sink.size(), start + tone.size()) << "the tone was cut short";
  int32_t worst = 0;
  for (size_t i = 0; i < tone.size() && start + i < sink.size(); ++i) {
    worst = std::max(worst, std::abs(sink[start + i] - tone[i]));
  }
  EXPECT_LE(worst, 1) << "largest difference from the tone";
  for (size_t i = start + tone.size(); i < sink.size(); ++i) {
    if (sink[i] != 0) {
      ADD_FAILURE() << "sound after the tone at frame " << i - start;
      break;
    }
  }
}

// Nothing the test does not mean to reach plays on the machine's card.
const char kNullDefault[] = "pcm.!default { type null }\n";

// On a private PipeWire server, as on a current desktop: the program plays
// on ALSA's "pipewire" device in real time. The plugin comes unpacked from
// its package into the build tree (testing/fetch-alsa-plugin), never
// installed: on Debian 12 installing it removes PulseAudio.
TEST(PipeWireTest, PlaysThroughARealSoundServer) {
  TestDir dir;
  const std::string plugin = LARKHORN_PIPEWIRE_ALSA_PLUGIN;
  if (access(plugin.c_str(), R_OK) != 0) {
    GTEST_SKIP() << "the PipeWire ALSA plugin is not at " << plugin
                 << " (testing/fetch-alsa-plugin puts it there)";
  }
  SoundServer server(ServerKind::kPipeWire, dir);
  if (!server.missing.empty()) {
    GTEST_SKIP() << "PipeWire needs " << server.missing
                 << ", which is not installed";
  }
  ASSERT_TRUE(server.running) << ReadFile(server.log);
  WriteAlsaConfig(dir, std::string(kNullDefault) +
                           "pcm_type.pipewire { lib \"" + plugin +
                           "\" }\n"
                           "pcm.!pipewire { type pipewire }\n");
  PlayAndCheck(dir, server, "pipewire");
}

// On a private PulseAudio, as on desktops that still run it, plays on
// device.
void PlayOnPulseAudio(const std::string& device) {
  TestDir dir;
  SoundServer server(ServerKind::kPulseAudio, dir);
  if (!server.missing.empty()) {
    GTEST_SKIP() << "PulseAudio needs " << server.missing
                 << ", which is not installed";
  }
  ASSERT_TRUE(server.running) << ReadFile(server.log);
  // For "default" the test's configuration leaves the device as installed.
  WriteAlsaConfig(dir, device == "default" ? "" : kNullDefault);
  if (!IsPulseDevice(dir, server.clientEnv, "pulse")) {
    GTEST_SKIP() << "ALSA has no \"pulse\" device: its PulseAudio plugin "
                    "(libasound2-plugins) is not installed";
  }
  if (device == "default" && !IsPulseDevice(dir, server.clientEnv, "default")) {
    GTEST_SKIP() << "the installed ALSA configuration does not route "
                    "\"default\" to a running PulseAudio";
  }
  PlayAndCheck(dir, server, device);
}

// The interleaved path.
TEST(PulseAudioTest, PlaysOnPulse) { PlayOnPulseAudio("pulse"); }

TEST(PulseAudioTest, PlaysOnPlugPulse) { PlayOnPulseAudio("plug:pulse"); }

// Where the installed configuration routes "default" to PulseAudio while
// a server runs, as Debian's PulseAudio ALSA plugin does.
TEST(PulseAudioTest, PlaysOnDefault) { PlayOnPulseAudio("default"); }

}  // namespace
