// Target paths, refusals of unsafe manifests, and the write-access check.
#include "deploy/paths.h"

#include <cstring>

#include "deploy/update.h"
#include "platform/file_tests.h"
#include "platform/platform.h"
#include "run/messages.h"
#include "run/text.h"
#include "settings/settings.h"

bool IsBuildNumberEntry(const UpdateEntry& entry) {
  return std::strcmp(entry.module_name, kBuildNumberName) == 0;
}

bool IsAddModuleEntry(const UpdateEntry& entry) {
  return EqualsIgnoringCase(entry.action_word, kAddModuleWord);
}

bool ResolveTargetPath(const UpdateEntry& entry, char* path,
                       std::size_t capacity) {
  if (std::strcmp(entry.folder_word, kRootFolderWord) == 0) {
    return FormatText(path, capacity, "%s\\%s", install_dir, entry.module_name);
  }
  return FormatText(path, capacity, "%s\\%s\\%s", install_dir,
                    entry.folder_word, entry.module_name);
}

bool FormatBackupDir(char* path, std::size_t capacity) {
  return FormatText(path, capacity, "%s\\Backup", install_dir);
}

bool FormatBackupPath(const UpdateEntry& entry, char* path,
                      std::size_t capacity) {
  return FormatText(path, capacity, "%s\\Backup\\%s", install_dir,
                    entry.module_name);
}

namespace {

// Windows opens these names as devices in any folder and with any
// extension: reading "CON" waits for the console, writing "NUL" loses
// the module.
constexpr const char* kDeviceNames[] = {"CON", "PRN", "AUX", "NUL"};
constexpr const char* kNumberedDeviceNames[] = {"COM", "LPT"};

bool IsDeviceName(const char* component, std::size_t length) {
  std::size_t stem = 0;
  while (stem < length && component[stem] != '.') ++stem;
  char name[5] = {};
  if (stem < 3 || stem > 4) return false;
  for (std::size_t i = 0; i < stem; ++i) name[i] = component[i];
  if (stem == 3) {
    for (const char* device : kDeviceNames) {
      if (EqualsIgnoringCase(name, device)) return true;
    }
    return false;
  }
  if (name[3] < '1' || name[3] > '9') return false;
  name[3] = '\0';
  for (const char* device : kNumberedDeviceNames) {
    if (EqualsIgnoringCase(name, device)) return true;
  }
  return false;
}

// Windows strips trailing dots from a path component, so "..." and
// longer runs of dots climb just as ".." does.
bool IsOnlyDots(const char* component, std::size_t length) {
  if (length < 2) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (component[i] != '.') return false;
  }
  return true;
}

}  // namespace

bool IsUnsafeRelativePath(const char* name) {
  if (name[0] == '\\' || name[0] == '/') return true;
  // A colon makes a drive-qualified path, or names a stream of a file.
  if (std::strchr(name, ':') != nullptr) return true;
  const char* component = name;
  for (const char* p = name;; ++p) {
    if (*p == '\\' || *p == '/' || *p == '\0') {
      const std::size_t length = static_cast<std::size_t>(p - component);
      if (IsOnlyDots(component, length) || IsDeviceName(component, length)) {
        return true;
      }
      if (*p == '\0') return false;
      component = p + 1;
    }
  }
}

namespace {

const char* CheckEntry(const UpdateEntry& entry) {
  switch (entry.long_word) {
    case LongWord::kModuleName:
      return messages::kReasonModuleNameTooLong;
    case LongWord::kFolderWord:
      return IsBuildNumberEntry(entry) ? messages::kReasonBuildNumberTooLong
                                       : messages::kReasonFolderWordTooLong;
    case LongWord::kActionWord:
      return messages::kReasonActionWordTooLong;
    case LongWord::kNone:
      break;
  }
  // A build number is a value, not a path: its length is all that matters.
  if (IsBuildNumberEntry(entry)) return nullptr;

  if (IsUnsafeRelativePath(entry.module_name)) {
    return messages::kReasonModuleNameUnsafe;
  }
  if (std::strcmp(entry.folder_word, kRootFolderWord) != 0 &&
      IsUnsafeRelativePath(entry.folder_word)) {
    return messages::kReasonFolderWordUnsafe;
  }
  // Only "elmdll" modules are backed up, and "Backup" is as long as
  // "elmdll": a backup path fits exactly when its target path does.
  static_assert(sizeof kBackupFolderWord == sizeof "Backup",
                "the target path check must cover the backup path");
  char path[kPathCapacity];
  if (!ResolveTargetPath(entry, path, sizeof path)) {
    return messages::kReasonTargetPathTooLong;
  }
  return nullptr;
}

}  // namespace

bool CheckUpdateListIsSafe(char* message, std::size_t capacity) {
  char backup_dir[kPathCapacity];
  if (!FormatBackupDir(backup_dir, sizeof backup_dir)) {
    FormatText(message, capacity, "%s", messages::kBackupFolderTooLong);
    return false;
  }
  for (std::size_t i = 0; i < update_list.count; ++i) {
    const UpdateEntry& entry = update_list.entries[i];
    const char* reason = CheckEntry(entry);
    if (reason != nullptr) {
      FormatText(message, capacity, messages::kManifestRefusedFormat,
                 entry.line, reason);
      return false;
    }
  }
  return true;
}

bool CheckWriteAccess() {
  for (std::size_t i = 0; i < update_list.count; ++i) {
    const UpdateEntry& entry = update_list.entries[i];
    if (IsBuildNumberEntry(entry)) continue;
    char target[kPathCapacity];
    // Refused earlier when it does not fit; an unformed path is never
    // probed.
    if (!ResolveTargetPath(entry, target, sizeof target)) return false;
    if (IsAddModuleEntry(entry)) continue;
    if (!FileExists(target)) continue;
    if (!platform::ProbeOpenForUpdate(target)) return false;
  }
  return true;
}
