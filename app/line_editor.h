// Lines typed at a terminal, read through libedit: the arrow keys edit the
// line and recall the earlier lines of the session.
#ifndef LARKHORN_APP_LINE_EDITOR_H_
#define LARKHORN_APP_LINE_EDITOR_H_

#include <cstdio>
#include <string>

struct LineEditor;

// An editor that reads in and echoes to out when both are terminals;
// nullptr when either is not, or when libedit cannot start.
LineEditor* OpenLineEditor(FILE* in, FILE* out);

// Reads the next line, its newline included, and keeps it for recall;
// false at the end of input (Ctrl-D on an empty line). Ctrl-C (SIGINT)
// drops the line typed so far and reads another; a resize or Ctrl-Z and fg
// redraw it. Any signal that ends the program while it waits gives the
// terminal back its settings first; Ctrl-Z suspends with them too.
bool ReadEditedLine(LineEditor* editor, std::string* line);

// Has each Ctrl-C while reading also call hook(SIGINT) as the line is
// dropped; nullptr for none.
void SetInterruptHook(void (*hook)(int signal));

// Has the right of the line being typed show what status leaves in text
// ("" for nothing); status returns the milliseconds until that changes, or
// -1 for never, and the line is redrawn then. nullptr for nothing.
void SetRightStatus(long (*status)(std::string* text));

// Gives the terminal the settings it had before the editor took it, when
// one is open: for a program about to end from another thread.
void GiveTerminalBack();

// Gives the terminal back its settings and frees the editor; nullptr is
// allowed.
void CloseLineEditor(LineEditor* editor);

#endif  // LARKHORN_APP_LINE_EDITOR_H_
