#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/hint.h"
#include "app/interrupt.h"
#include "app/listen_request.h"
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

// The program, from its arguments to its exit status.
int Run(int argc, char** argv) {
  // Without /dev/null there is no safe place for a message either.
  if (!FillClosedStandardDescriptors()) return 1;
  const int infoStatus = PrintInfo(argc, argv);
  if (infoStatus >= 0) return infoStatus;
  ToneSettings settings;
  std::string error;
  std::vector<std::string> hints;
  if (!ParseCommandLine(argc, argv, settings, &error, &hints)) {
    fprintf(stderr, "larkhorn: %s\n%s\n", error.c_str(), UsageLine().c_str());
    return 2;
  }
  for (const std::string& hint : hints) Hint("%s", hint.c_str());
  if (settings.listen) return Listen(settings);
  if (settings.oneShot) return PlayTone(settings) ? 0 : 1;
  RunConsole(settings, stdin, PlayTone);
  // x or the end of input silences a tone held on.
  EndHeldTone();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The user's character set, so that text typed at a terminal passes the
  // line editor whole; numbers keep the C locale's point.
  setlocale(LC_CTYPE, "");
  HandleTimerSignal();
  // Nothing in the program throws, but the standard library does when
  // memory runs out: the program then ends with a message, not an abort.
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    fflush(stdout);
    fputs("larkhorn: not enough memory\n", stderr);
    return 1;
  }
}
