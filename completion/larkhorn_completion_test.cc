// The bash completion, run in bash with and without bash-completion
// loaded: the options of the option table for an option prefix, the names
// of the temperament and timbre tables after their options in either form,
// and at the device argument the devices larkhorn lists, each quoted so
// that the shell reads back its name and runs nothing in it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/listen_request.h"
#include "app/options.h"
#include "testing/process.h"

namespace {

const char kBashCompletion[] = "/usr/share/bash-completion/bash_completion";

// Runs script in bash with the test's ALSA configuration: what it prints.
std::string RunBash(const TestDir& dir, const std::string& script) {
  const std::string path = dir.path + "/complete.sh";
  std::ofstream(path) << script;
  const std::string command = "HOME=" + dir.path +
                              " XDG_CONFIG_HOME=" + dir.path +
                              " LC_ALL=C PULSE_SERVER=unix:" + dir.path +
                              "/no-pulseaudio bash --norc " + path + " 2>&1";
  FILE* bash = popen(command.c_str(), "r");
  EXPECT_NE(bash, nullptr);
  if (bash == nullptr) return "";
  std::string out;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, bash)) > 0) {
    out.append(buffer, got);
  }
  EXPECT_EQ(pclose(bash), 0);
  return out;
}

TEST(CompletionTest, OptionsTemperamentsAndDevicesAsData) {
  TestDir dir;
  const std::string ran = dir.path + "/ran";
  const std::vector<std::string> hostile = {
      "lark$(touch " + ran + ")", "lark`touch " + ran + "`", "lark two words",
      "lark'quote", "lark*"};
  std::string asoundrc =
      "pcm.!default { type null }\n"
      "pcm.larkhorn_hinted { type null hint { show on "
      "description \"Larkhorn test device\" } }\n";
  for (const std::string& name : hostile) {
    asoundrc += "pcm.\"" + name + "\" { type null hint { show on } }\n";
  }
  WriteAlsaConfig(dir, asoundrc);
  // Each line of output: what the shell reads from each completion of the
  // line's last word, sorted, joined by |. The words are as bash splits
  // the line: at = too.
  const std::string completions =
      "complete_line() {\n"
      "  COMP_LINE=$1 COMP_POINT=${#1}\n"
      "  shift\n"
      "  COMP_WORDS=(\"$@\") COMP_CWORD=$(($# - 1)) COMPREPLY=()\n"
      "  _larkhorn \"$1\" \"${@: -1}\" \"${@: -2:1}\"\n"
      "  local reply\n"
      "  for reply in \"${COMPREPLY[@]}\"; do\n"
      "    eval \"printf '%s\\n' $reply\"\n"
      "  done | sort | paste -sd '|'\n"
      "}\n"
      "source " LARKHORN_COMPLETION
      "\n"
      "l=" LARKHORN_BINARY
      "\n"
      "complete_line \"$l --l\" $l --l\n"
      "complete_line \"$l -\" $l -\n"
      "complete_line \"$l --temperament \" $l --temperament ''\n"
      "complete_line \"$l --temperament=w\" $l --temperament = w\n"
      "complete_line \"$l --timbre \" $l --timbre ''\n"
      "complete_line \"$l --transpose -2 --with G4 --timbre=b\" $l "
      "--transpose -2 --with G4 --timbre = b\n"
      "complete_line \"$l 440 2 \" $l 440 2 ''\n"
      "complete_line \"$l 440 2 lark\" $l 440 2 lark\n"
      "complete_line \"$l --a4=442 --cents -5 440 \" $l --a4 = 442 --cents -5 "
      "440 ''\n"
      "complete_line \"$l --note E2 1 lark\" $l --note E2 1 lark\n"
      "complete_line \"$l --listen 1 lark\" $l --listen 1 lark\n"
      "complete_line \"$l --listen \" $l --listen ''\n"
      "complete_line \"$l --listen n\" $l --listen n\n"
      "complete_line \"$l --hold --device lark\" $l --hold --device lark\n"
      "complete_line \"$l --device=lark\" $l --device = lark\n"
      "complete_line \"$l --device=x 440 1 lark\" $l --device = x 440 1 "
      "lark\n"
      "complete_line \"$l --listen --device lark\" $l --listen --device "
      "lark\n";
  // Every name the device list gives, the machine's plugins included.
  std::istringstream listed(RunLarkhorn(dir, {"--list-devices"}).out);
  std::vector<std::string> names, larkNames;
  for (std::string line; std::getline(listed, line);) {
    names.push_back(line.substr(0, line.find("  ")));
    if (names.back().rfind("lark", 0) == 0) larkNames.push_back(names.back());
  }
  auto joined = [](std::vector<std::string> items) {
    std::sort(items.begin(), items.end());
    std::string text;
    for (const std::string& item : items) text += item + "|";
    text.back() = '\n';
    return text;
  };
  ASSERT_EQ(larkNames.size(), hostile.size() + 1) << joined(names);
  std::vector<std::string> options, temperaments, timbres;
  for (const Option& option : Options()) options.push_back(option.name);
  for (const AloneOption& option : AloneOptions()) {
    options.push_back(option.name);
    if (option.alias != nullptr) options.push_back(option.alias);
  }
  for (const Temperament& temperament : Temperaments()) {
    temperaments.push_back(temperament.name);
  }
  for (const Timbre& timbre : Timbres()) timbres.push_back(timbre.name);
  // With --listen the capture devices: here the same, as every device of
  // this configuration captures.
  std::istringstream capture(RunLarkhorn(dir, {"--list-capture-devices"}).out);
  std::vector<std::string> captureLark;
  for (std::string line; std::getline(capture, line);) {
    if (line.rfind("lark", 0) == 0) {
      captureLark.push_back(line.substr(0, line.find("  ")));
    }
  }
  const std::string expected =
      "--list-capture-devices|--list-devices|--listen\n" + joined(options) +
      joined(temperaments) + "werckmeister3\n" + joined(timbres) + "bright\n" +
      joined(names) + joined(larkNames) + "\n" + joined(larkNames) +
      joined(captureLark) + "inf|" + kListenUntilStopped + "\n" +
      kListenUntilStopped + "\n" + joined(larkNames) + joined(larkNames) +
      "\n" + joined(captureLark);
  EXPECT_EQ(RunBash(dir, completions), expected);
  if (access(kBashCompletion, R_OK) == 0) {
    EXPECT_EQ(RunBash(dir, std::string("source ") + kBashCompletion + "\n" +
                               completions),
              expected);
  }
  EXPECT_NE(access(ran.c_str(), F_OK), 0) << "a device name was run";
}

}  // namespace
