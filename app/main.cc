#include <cstdio>

#include "app/console.h"
#include "app/settings.h"
#include "app/tone_request.h"

int main(int argc, char** argv) {
  const int infoStatus = PrintInfo(argc, argv);
  if (infoStatus >= 0) return infoStatus;
  ToneSettings settings;
  ParseCommandLine(argc, argv, settings);
  if (settings.oneShot) return PlayTone(settings) ? 0 : 1;
  RunConsole(settings, stdin, PlayTone);
  return 0;
}
