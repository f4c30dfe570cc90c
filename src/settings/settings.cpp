// The settings key, opened afresh for each use and closed before return.
#include "settings/settings.h"

#include <cstring>

#include "platform/file_tests.h"
#include "platform/platform.h"
#include "run/messages.h"

char install_dir[kInstallDirCapacity] = {};

void ReadInstallDir() {
  platform::RegistryKey* key = nullptr;
  if (!platform::RegistryCreateUsersKey(kSettingsSubkey, kSettingsClass,
                                        platform::kKeyRead, &key)) {
    ShowMessage(messages::kRegistryPathNotFound, messages::kCaptionUpdate);
    return;
  }
  std::memset(install_dir, 0, sizeof install_dir);
  unsigned long size = sizeof install_dir;
  const bool read = platform::RegistryQueryValue(
      key, kPathValueName, reinterpret_cast<unsigned char*>(install_dir),
      &size);
  // A value that filled the whole buffer without a terminator, or did not
  // fit at all, is not a path we can use: treat it as absent rather than
  // run with a cut or unterminated directory.
  if (!read || std::memchr(install_dir, '\0', sizeof install_dir) == nullptr) {
    std::memset(install_dir, 0, sizeof install_dir);
  }
  platform::RegistryCloseKey(key);
}

bool WriteBuildNumber(const char* text) {
  char buffer[kBuildNumberCapacity];
  const std::size_t length = std::strlen(text);
  if (length == 0 || length >= sizeof buffer) return false;
  std::memcpy(buffer, text, length + 1);

  platform::RegistryKey* key = nullptr;
  if (!platform::RegistryCreateUsersKey(kSettingsSubkey, kSettingsClass,
                                        platform::kKeyWrite, &key)) {
    return false;
  }
  const bool stored =
      platform::RegistrySetValue(key, kBuildNumberValueName, platform::kRegSz,
                                 reinterpret_cast<const unsigned char*>(buffer),
                                 static_cast<unsigned long>(length + 1));
  platform::RegistryCloseKey(key);
  return stored;
}
