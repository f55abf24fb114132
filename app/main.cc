#include <cstdio>

#include "app/settings.h"

int main(int argc, char** argv) {
  ToneSettings settings;
  ParseCommandLine(argc, argv, settings);
  if (settings.oneShot) return PlayTone(settings) ? 0 : 1;
  RunConsole(settings, stdin, PlayTone);
  return 0;
}
