#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>

#include "app/console.h"
#include "app/options.h"
#include "app/settings.h"
#include "app/tone_request.h"

namespace {

// Opens /dev/null on each closed standard descriptor, so that no file ALSA
// opens later lands on 0, 1 or 2 and takes the program's output. Checked in
// order, so the lowest free descriptor is the one being filled.
bool FillClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", O_RDWR);
    if (opened != fd) {
      if (opened >= 0) close(opened);
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // The user's character set, so that text typed at a terminal passes the
  // line editor whole; numbers keep the C locale's point.
  setlocale(LC_CTYPE, "");
  // Without /dev/null there is no safe place for a message either.
  if (!FillClosedStandardDescriptors()) return 1;
  const int infoStatus = PrintInfo(argc, argv);
  if (infoStatus >= 0) return infoStatus;
  ToneSettings settings;
  std::string error;
  if (!ParseCommandLine(argc, argv, settings, &error)) {
    fprintf(stderr, "larkhorn: %s\n%s\n", error.c_str(), UsageLine().c_str());
    return 2;
  }
  if (settings.oneShot) return PlayTone(settings) ? 0 : 1;
  RunConsole(settings, stdin, PlayTone);
  return 0;
}
