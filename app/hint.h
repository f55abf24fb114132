// Hints: what the program made of input that it could not take as it
// stands, said on standard error, so that standard output, which scripts
// read, stays as it always was.
#ifndef LARKHORN_APP_HINT_H_
#define LARKHORN_APP_HINT_H_

// Prints the line on standard error, standard output flushed first so that
// a transcript of both streams is in the order things happened.
void Hint(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif  // LARKHORN_APP_HINT_H_
