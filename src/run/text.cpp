// Text helpers shared by the core.
#include "run/text.h"

#include <cstdarg>
#include <cstdio>

namespace {

char FoldAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool EqualsIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (FoldAscii(*a) != FoldAscii(*b)) return false;
  }
  return *a == *b;
}

bool StartsWithIgnoringCase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (*text == '\0' || FoldAscii(*text) != FoldAscii(*prefix)) return false;
  }
  return true;
}

bool FormatText(char* out, std::size_t capacity, const char* format, ...) {
  if (capacity == 0) return false;
  va_list args;
  va_start(args, format);
  const int written = std::vsnprintf(out, capacity, format, args);
  va_end(args);
  if (written < 0 || static_cast<std::size_t>(written) >= capacity) {
    out[0] = '\0';
    return false;
  }
  return true;
}
