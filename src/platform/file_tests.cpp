// Message and file tests on top of the platform interface.
#include "platform/file_tests.h"

#include "platform/platform.h"

void ShowMessage(const char* text, const char* caption) {
  platform::ShowMessageBox(text, caption);
}

bool IsDirectory(const char* path) {
  unsigned long attributes = 0;
  if (path[0] == '\0' || !platform::GetAttributes(path, &attributes)) {
    return false;
  }
  return (attributes & platform::kAttributeDirectory) != 0;
}

bool FileExists(const char* path) {
  constexpr unsigned long kNotAFile = platform::kAttributeHidden |
                                      platform::kAttributeSystem |
                                      platform::kAttributeDirectory;
  platform::Search* search = nullptr;
  platform::FoundEntry entry;
  if (!platform::SearchFirst(path, &search, &entry)) return false;
  bool found = false;
  do {
    if ((entry.attributes & kNotAFile) == 0) {
      found = true;
      break;
    }
  } while (platform::SearchNext(search, &entry));
  platform::SearchClose(search);
  return found;
}
