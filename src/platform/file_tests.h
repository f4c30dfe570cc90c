// The message and file-test operations every part of the tool shares,
// built on the platform interface alone, so both builds answer alike.
#ifndef VELMORA_PLATFORM_FILE_TESTS_H
#define VELMORA_PLATFORM_FILE_TESTS_H

// Shows one message with one OK button and returns once it is dismissed.
void ShowMessage(const char* text, const char* caption);

// True when path names an existing directory (hidden or read-only ones
// included). An empty path is never a directory.
bool IsDirectory(const char* path);

// True when a search for path yields an entry that is neither hidden,
// system nor a directory. Wildcards in the last component match as the
// platform's search matches them; read-only files count as existing.
bool FileExists(const char* path);

#endif  // VELMORA_PLATFORM_FILE_TESTS_H
