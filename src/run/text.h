// Small text helpers shared by the core. Case is folded for the ASCII
// letters a to z only, whatever the locale.
#ifndef VELMORA_RUN_TEXT_H
#define VELMORA_RUN_TEXT_H

#include <cstddef>

// True when a and b are equal, ignoring ASCII case.
bool EqualsIgnoringCase(const char* a, const char* b);

// True when text begins with prefix, ignoring ASCII case.
bool StartsWithIgnoringCase(const char* text, const char* prefix);

// Formats into out (capacity bytes, terminated). False, and out emptied,
// when the result does not fit: a path is never cut.
bool FormatText(char* out, std::size_t capacity, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

#endif  // VELMORA_RUN_TEXT_H
