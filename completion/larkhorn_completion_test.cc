// The bash completion, run in bash with bash-completion loaded: the options
// of the option table for an option prefix, the temperament and timbre
// names of their tables, the devices larkhorn lists at the device argument.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/options.h"
#include "testing/process.h"

namespace {

// The words sorted and joined by spaces, as complete_last prints them.
std::string Sorted(std::vector<std::string> words) {
  std::sort(words.begin(), words.end());
  std::string line;
  for (const std::string& word : words)
    line += (line.empty() ? "" : " ") + word;
  return line;
}

const char kBashCompletion[] = "/usr/share/bash-completion/bash_completion";

TEST(CompletionTest, OptionsAndDevices) {
  if (access(kBashCompletion, R_OK) != 0) {
    GTEST_SKIP() << "bash-completion is not installed";
  }
  TestDir dir;
  WriteAlsaConfig(dir,
                  "pcm.!default { type null }\n"
                  "pcm.larkhorn_hinted { type null hint { show on "
                  "description \"Larkhorn test device\" } }\n");
  // Each line of output: the sorted completions of the last word.
  const std::string script = dir.path + "/complete.sh";
  std::ofstream(script)
      << "source " << kBashCompletion << "\n"
      << "source " << LARKHORN_COMPLETION << "\n"
      << "complete_last() {\n"
         "  COMP_WORDS=(\"$@\") COMP_CWORD=$(($# - 1)) COMPREPLY=()\n"
         "  COMP_LINE=\"$*\" COMP_POINT=${#COMP_LINE}\n"
         "  _larkhorn \"$1\" \"${@: -1}\" \"${@: -2:1}\"\n"
         "  printf '%s\\n' \"${COMPREPLY[@]}\" | sort | paste -sd ' '\n"
         "}\n"
         "larkhorn=" LARKHORN_BINARY
         "\n"
         "complete_last $larkhorn --l\n"
         "complete_last $larkhorn -\n"
         "complete_last $larkhorn --temperament ''\n"
         "complete_last $larkhorn --timbre ''\n"
         "complete_last $larkhorn --transpose -2 --with G4 --timbre b\n"
         "complete_last $larkhorn 440 2 ''\n"
         "complete_last $larkhorn 440 2 lark\n"
         "complete_last $larkhorn --a4 442 --cents -5 440 2 ''\n"
         "complete_last $larkhorn --note E2 1 lark\n"
         "complete_last $larkhorn --listen 1 lark\n";
  // The binary reads the test's ALSA configuration, not the machine's.
  const std::string command = "HOME=" + dir.path +
                              " XDG_CONFIG_HOME=" + dir.path +
                              " LC_ALL=C PULSE_SERVER=unix:" + dir.path +
                              "/no-pulseaudio bash " + script + " 2>&1";
  FILE* bash = popen(command.c_str(), "r");
  ASSERT_NE(bash, nullptr);
  std::string out;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, bash)) > 0) {
    out.append(buffer, got);
  }
  EXPECT_EQ(pclose(bash), 0);
  // Every name the device list gives, the machine's plugins included.
  std::istringstream listed(RunLarkhorn(dir, {"--list-devices"}).out);
  std::vector<std::string> names;
  for (std::string line; std::getline(listed, line);) {
    names.push_back(line.substr(0, line.find("  ")));
  }
  const std::string devices = Sorted(names);
  EXPECT_NE(devices.find("larkhorn_hinted"), std::string::npos) << devices;
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
  EXPECT_EQ(out, "--list-devices --listen\n" + Sorted(options) + "\n" +
                     Sorted(temperaments) + "\n" + Sorted(timbres) +
                     "\nbright\n" + devices + "\nlarkhorn_hinted\n" + devices +
                     "\nlarkhorn_hinted\nlarkhorn_hinted\n");
}

}  // namespace
