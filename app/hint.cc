#include "app/hint.h"

#include <cstdarg>
#include <cstdio>

void Hint(const char* format, ...) {
  fflush(stdout);
  va_list args;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
  fputc('\n', stderr);
}
