#include "app/line_editor.h"

#include <histedit.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>

struct LineEditor {
  EditLine* editLine = nullptr;
  History* history = nullptr;
};

namespace {

const int kRecalledLines = 100;

const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
const int kEndingCount = sizeof kEndingSignals / sizeof kEndingSignals[0];

// What the signal handlers need: the terminal and the settings it had
// before libedit took it, and the actions the signals had before reading.
int terminalFd = -1;
struct termios terminalSettings;
struct sigaction previousEnding[kEndingCount];
struct sigaction previousSuspend;

// libedit's own handlers would resend the signal to the whole process
// group; these give the terminal back and let the signal act on this
// process alone.
void EndReading(int signal) {
  tcsetattr(terminalFd, TCSANOW, &terminalSettings);
  for (int i = 0; i < kEndingCount; ++i) {
    if (kEndingSignals[i] == signal) {
      sigaction(signal, &previousEnding[i], nullptr);
    }
  }
  raise(signal);  // delivered with the old action when this returns
}

// Ctrl-Z: stopped with the terminal as it was, editing again once
// continued.
void SuspendReading(int) {
  struct termios editing;
  tcgetattr(terminalFd, &editing);
  tcsetattr(terminalFd, TCSANOW, &terminalSettings);
  struct sigaction here;
  sigaction(SIGTSTP, &previousSuspend, &here);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, SIGTSTP);
  raise(SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);  // stopped until continued
  sigprocmask(SIG_BLOCK, &only, nullptr);
  sigaction(SIGTSTP, &here, nullptr);
  tcsetattr(terminalFd, TCSANOW, &editing);
}

// Installs handler for each signal not ignored, keeping the old action.
void Catch(const int* signals, int count, struct sigaction* previous,
           void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  // The read goes on after a suspension.
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < count; ++i) {
    sigaction(signals[i], nullptr, &previous[i]);
    if (previous[i].sa_handler != SIG_IGN) {
      sigaction(signals[i], &action, nullptr);
    }
  }
}

void Release(const int* signals, int count, const struct sigaction* previous) {
  for (int i = 0; i < count; ++i) sigaction(signals[i], &previous[i], nullptr);
}

const char* NoPrompt(EditLine*) { return ""; }

// Ctrl-D: the end of input at an empty line, as at a plain terminal, which
// echoes nothing for it (libedit's own binding writes "^D"); elsewhere it
// deletes the character under the cursor.
unsigned char EndOrDelete(EditLine* editLine, int) {
  const LineInfo* line = el_line(editLine);
  if (line->buffer == line->lastchar) return CC_EOF;
  if (line->cursor == line->lastchar) return CC_ERROR;
  el_cursor(editLine, 1);
  el_deletestr(editLine, 1);
  return CC_REFRESH;
}

}  // namespace

LineEditor* OpenLineEditor(FILE* in, FILE* out) {
  const int fd = fileno(in);
  if (fd < 0 || !isatty(fd) || fileno(out) < 0 || !isatty(fileno(out)) ||
      tcgetattr(fd, &terminalSettings) != 0) {
    return nullptr;
  }
  EditLine* editLine = el_init("larkhorn", in, out, stderr);
  if (editLine == nullptr) return nullptr;
  terminalFd = fd;
  LineEditor* editor = new LineEditor;
  editor->editLine = editLine;
  editor->history = history_init();
  HistEvent event;
  history(editor->history, &event, H_SETSIZE, kRecalledLines);
  history(editor->history, &event, H_SETUNIQUE, 1);
  el_set(editLine, EL_HIST, history, editor->history);
  el_set(editLine, EL_PROMPT, NoPrompt);
  el_set(editLine, EL_EDITOR, "emacs");
  el_set(editLine, EL_SIGNAL, 0);
  // The wide form: libedit's narrow one leaks the copies it makes.
  el_wset(editLine, EL_ADDFN, L"larkhorn-end-or-delete",
          L"End of input at an empty line, else delete a character",
          EndOrDelete);
  el_set(editLine, EL_BIND, "^D", "larkhorn-end-or-delete", nullptr);
  el_source(editLine, nullptr);  // the user's ~/.editrc, if any
  return editor;
}

bool ReadEditedLine(LineEditor* editor, std::string* line) {
  Catch(kEndingSignals, kEndingCount, previousEnding, EndReading);
  const int suspend[] = {SIGTSTP};
  Catch(suspend, 1, &previousSuspend, SuspendReading);
  int count = 0;
  const char* got = el_gets(editor->editLine, &count);
  Release(suspend, 1, &previousSuspend);
  Release(kEndingSignals, kEndingCount, previousEnding);
  if (got == nullptr || count <= 0) return false;
  *line = got;
  std::string recalled = *line;
  while (!recalled.empty() &&
         (recalled.back() == '\n' || recalled.back() == '\r')) {
    recalled.pop_back();
  }
  if (recalled.find_first_not_of(" \t") != std::string::npos) {
    HistEvent event;
    history(editor->history, &event, H_ENTER, recalled.c_str());
  }
  return true;
}

void CloseLineEditor(LineEditor* editor) {
  if (editor == nullptr) return;
  el_end(editor->editLine);
  history_end(editor->history);
  delete editor;
}
