#include "app/line_editor.h"

#include <histedit.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cwchar>

struct LineEditor {
  EditLine* editLine = nullptr;
  History* history = nullptr;
};

namespace {

const int kRecalledLines = 100;

// What the terminal sends for Ctrl-C, and what a SIGINT while reading is
// taken for: bound to CancelLine.
const wchar_t kCancelKey = L'\003';
// What the reader hands libedit when the right status changes, bound to
// RedrawLine: a C1 control no terminal sends as a key.
const wchar_t kRedrawKey = L'\x9d';
const wchar_t kEscape = L'\033';

// What the signal handlers need: the terminal and the settings it had
// before libedit took it, and the actions the signals had before reading.
int terminalFd = -1;
struct termios terminalSettings;
struct sigaction previousActions[NSIG];
bool caught[NSIG];

// What the signals that reading acts on itself ask for, done between keys.
volatile sig_atomic_t interrupted = 0;
volatile sig_atomic_t continued = 0;
volatile sig_atomic_t resized = 0;
// Set by CancelLine: the line el_gets returns is dropped.
bool cancelled = false;

// The signal mask before reading, and the one while waiting for a key.
sigset_t maskBefore;
sigset_t waitingMask;

// Whether a signal's default action leaves the program running: stopping,
// continuing and the ones ignored by default. The rest end it.
bool Survivable(int signal) {
  for (int kept : {SIGCHLD, SIGCONT, SIGURG, SIGWINCH, SIGSTOP, SIGTSTP,
                   SIGTTIN, SIGTTOU, SIGKILL}) {
    if (signal == kept) return true;
  }
  return false;
}

// Any signal that would end the program gives the terminal back first, and
// then acts on this process alone (libedit's own handlers would resend it
// to the whole process group).
void EndReading(int signal) {
  tcsetattr(terminalFd, TCSANOW, &terminalSettings);
  sigaction(signal, &previousActions[signal], nullptr);
  raise(signal);  // delivered with the old action when this returns
}

void Interrupt(int) { interrupted = 1; }
void Continue(int) { continued = 1; }
void Resize(int) { resized = 1; }

// Told of each Ctrl-C, besides the line being dropped.
void (*interruptHook)(int) = nullptr;
// Whether the terminal is the editor's now.
bool editing = false;
// What the right of the line shows, and the text last shown there.
long (*rightStatus)(std::string*) = nullptr;
std::string rightText;
// The last character handed to libedit: after an Escape, the rest of a key
// sequence or a Meta key is awaited, and a redraw would break it.
wchar_t lastHanded = 0;

// Ctrl-Z: stopped with the terminal as it was, editing again once
// continued.
void SuspendReading(int) {
  struct termios editing;
  tcgetattr(terminalFd, &editing);
  tcsetattr(terminalFd, TCSANOW, &terminalSettings);
  struct sigaction here;
  sigaction(SIGTSTP, &previousActions[SIGTSTP], &here);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, SIGTSTP);
  raise(SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);  // stopped until continued
  sigprocmask(SIG_BLOCK, &only, nullptr);
  sigaction(SIGTSTP, &here, nullptr);
  tcsetattr(terminalFd, TCSANOW, &editing);
}

// The signals that reading acts on itself: blocked while libedit works,
// let in only while it waits for a key.
struct ReadingSignal {
  int signal;
  void (*handler)(int);
};
const ReadingSignal kReadingSignals[] = {{SIGINT, Interrupt},
                                         {SIGTSTP, SuspendReading},
                                         {SIGCONT, Continue},
                                         {SIGWINCH, Resize}};

// The handler a signal gets while reading, or nullptr to leave it as it
// is: a reading signal's own where it is not ignored, EndReading where it
// would end the program.
void (*HandlerWhileReading(int signal, const struct sigaction& before))(int) {
  if (before.sa_handler == SIG_IGN) return nullptr;
  for (const ReadingSignal& reading : kReadingSignals) {
    if (reading.signal == signal) return reading.handler;
  }
  if (Survivable(signal) || before.sa_handler != SIG_DFL) return nullptr;
  return EndReading;
}

// Installs the handlers for the time of one read, keeping the old actions.
void CatchSignals() {
  sigset_t reading;
  sigemptyset(&reading);
  for (const ReadingSignal& signal : kReadingSignals) {
    sigaddset(&reading, signal.signal);
  }
  sigprocmask(SIG_BLOCK, &reading, &maskBefore);
  waitingMask = maskBefore;
  for (const ReadingSignal& signal : kReadingSignals) {
    sigdelset(&waitingMask, signal.signal);
  }
  for (int signal = 1; signal < NSIG; ++signal) {
    caught[signal] = false;
    if (sigaction(signal, nullptr, &previousActions[signal]) != 0) continue;
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = HandlerWhileReading(signal, previousActions[signal]);
    if (action.sa_handler == nullptr) continue;
    caught[signal] = sigaction(signal, &action, nullptr) == 0;
  }
}

void ReleaseSignals() {
  for (int signal = 1; signal < NSIG; ++signal) {
    if (caught[signal]) sigaction(signal, &previousActions[signal], nullptr);
  }
  sigprocmask(SIG_SETMASK, &maskBefore, nullptr);
  interrupted = continued = resized = 0;
}

// Whether the count bytes typed so far make a character. Bytes that cannot
// begin one are dropped, as libedit's own reader drops them, all but the
// last, which may begin the next character or be one (an Enter).
bool DecodeTyped(char* bytes, size_t* count, wchar_t* character) {
  for (;;) {
    mbstate_t state{};
    const size_t used = mbrtowc(character, bytes, *count, &state);
    if (used != size_t(-1) && used != size_t(-2)) return true;
    if (used == size_t(-2) && *count < MB_LEN_MAX) return false;
    if (used == size_t(-2) || *count == 1) {
      *count = 0;
      return false;
    }
    bytes[0] = bytes[*count - 1];
    *count = 1;
  }
}

// Reads one character for libedit as its own reader would, but waits with
// the reading signals let in, and does what they ask for here, outside
// their handlers: tells libedit the terminal's new width, redraws the line
// after a suspension, or cancels it for Ctrl-C. While there is a right
// status it waits no longer than until that changes, and then has libedit
// redraw the line as for a key, in place.
int ReadCharacter(EditLine* editLine, wchar_t* character) {
  char bytes[MB_LEN_MAX];
  size_t count = 0;
  for (;;) {
    pollfd typed = {terminalFd, POLLIN, 0};
    std::string status;
    const long changesIn = rightStatus ? rightStatus(&status) : -1;
    const timespec wait = {changesIn / 1000, changesIn % 1000 * 1000000};
    const int ready =
        ppoll(&typed, 1, changesIn >= 0 ? &wait : nullptr, &waitingMask);
    if (resized) {
      resized = 0;
      el_resize(editLine);
    }
    if (continued) {
      continued = 0;
      el_set(editLine, EL_REFRESH);
    }
    if (interrupted) {
      interrupted = 0;
      *character = kCancelKey;
      return 1;
    }
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return -1;
    if (ready == 0) {
      if (count != 0 || lastHanded == kEscape) continue;
      *character = kRedrawKey;
      return 1;
    }
    const ssize_t got = read(terminalFd, bytes + count, 1);
    if (got <= 0) return got == 0 ? 0 : -1;
    ++count;
    if (DecodeTyped(bytes, &count, character)) return 1;
  }
}

// ReadCharacter, remembering what it handed libedit.
int ReadTypedCharacter(EditLine* editLine, wchar_t* character) {
  const int got = ReadCharacter(editLine, character);
  if (got == 1) lastHanded = *character;
  return got;
}

const char* NoPrompt(EditLine*) { return ""; }

const char* RightPrompt(EditLine*) {
  rightText.clear();
  if (rightStatus) rightStatus(&rightText);
  return rightText.c_str();
}

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

// The right status changed: the line drawn again, only what differs.
unsigned char RedrawLine(EditLine*, int) { return CC_REFRESH; }

// Ctrl-C: as in a shell, the line typed so far is shown ending in ^C and
// dropped, and a new one is read.
unsigned char CancelLine(EditLine* editLine, int) {
  const LineInfo* line = el_line(editLine);
  el_cursor(editLine, static_cast<int>(line->lastchar - line->cursor));
  el_insertstr(editLine, "^C");
  el_wpush(editLine, L"\n");
  cancelled = true;
  if (interruptHook) interruptHook(SIGINT);
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
  editing = true;
  LineEditor* editor = new LineEditor;
  editor->editLine = editLine;
  editor->history = history_init();
  HistEvent event;
  history(editor->history, &event, H_SETSIZE, kRecalledLines);
  history(editor->history, &event, H_SETUNIQUE, 1);
  el_set(editLine, EL_HIST, history, editor->history);
  el_set(editLine, EL_PROMPT, NoPrompt);
  el_set(editLine, EL_RPROMPT, RightPrompt);
  el_set(editLine, EL_EDITOR, "emacs");
  el_set(editLine, EL_SIGNAL, 0);
  el_set(editLine, EL_GETCFN, ReadTypedCharacter);
  // The wide form: libedit's narrow one leaks the copies it makes.
  el_wset(editLine, EL_ADDFN, L"larkhorn-end-or-delete",
          L"End of input at an empty line, else delete a character",
          EndOrDelete);
  el_wset(editLine, EL_ADDFN, L"larkhorn-cancel-line",
          L"Drop the line typed so far and read a new one", CancelLine);
  el_wset(editLine, EL_ADDFN, L"larkhorn-redraw",
          L"Draw the line again for a new status at its right", RedrawLine);
  el_source(editLine, nullptr);  // the user's ~/.editrc, if any
  // The program's keys after it, in both of vi's maps too (an .editrc may
  // switch to vi, which binds its own keys), so that Ctrl-C, Ctrl-D and
  // the redraw do what the program says they do.
  const wchar_t redraw[] = {kRedrawKey, 0};
  for (const wchar_t* map : {L"", L"-a"}) {
    const wchar_t* const keys[][2] = {{L"^D", L"larkhorn-end-or-delete"},
                                      {L"^C", L"larkhorn-cancel-line"},
                                      {redraw, L"larkhorn-redraw"}};
    for (const auto& key : keys) {
      if (*map) {
        el_wset(editLine, EL_BIND, map, key[0], key[1], nullptr);
      } else {
        el_wset(editLine, EL_BIND, key[0], key[1], nullptr);
      }
    }
  }
  return editor;
}

bool ReadEditedLine(LineEditor* editor, std::string* line) {
  CatchSignals();
  int count = 0;
  const char* got = nullptr;
  do {
    cancelled = false;
    got = el_gets(editor->editLine, &count);
  } while (got != nullptr && cancelled);
  ReleaseSignals();
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

void SetInterruptHook(void (*hook)(int signal)) { interruptHook = hook; }

void SetRightStatus(long (*status)(std::string* text)) { rightStatus = status; }

void GiveTerminalBack() {
  if (editing) tcsetattr(terminalFd, TCSANOW, &terminalSettings);
}

void CloseLineEditor(LineEditor* editor) {
  if (editor == nullptr) return;
  editing = false;
  el_end(editor->editLine);
  history_end(editor->history);
  delete editor;
}
