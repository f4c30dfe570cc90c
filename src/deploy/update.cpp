// Update mode. Nothing is changed before the manifest has been read,
// checked for unsafe entries and every replaceable target has been opened
// for update; after that, each entry stands alone and a failure is reported
// and passed over, never undone.
#include "deploy/update.h"

#include <cstring>

#include "deploy/paths.h"
#include "platform/file_tests.h"
#include "platform/platform.h"
#include "run/messages.h"
#include "run/text.h"
#include "settings/settings.h"

namespace {

constexpr char kDllExtension[] = ".dll";
constexpr char kExeExtension[] = ".exe";

// The summary lists every module installed and every build number stored;
// it is sized from the manifest's limits so that it is never cut.
constexpr std::size_t kLongestSummaryLine =
    sizeof "Update BuildNumber to: \n" - 1 + kMaxFolderWordLength;
static_assert(kLongestSummaryLine >= kMaxModuleNameLength + 1,
              "a module line must fit too");
constexpr std::size_t kSummaryCapacity =
    sizeof messages::kSummaryHeader + kMaxEntries * kLongestSummaryLine;

constexpr std::size_t kCopyMessageCapacity =
    sizeof messages::kCopyFailureFormat + kMaxModuleNameLength + 20;
constexpr std::size_t kRefusalCapacity = 512;

struct Summary {
  char text[kSummaryCapacity];
  std::size_t length;
};

void AppendLine(Summary* summary, const char* format, const char* word) {
  char* end = summary->text + summary->length;
  const std::size_t room = sizeof summary->text - summary->length;
  if (FormatText(end, room, format, word)) {
    summary->length += std::strlen(end);
  }
}

bool HasExtension(const UpdateEntry& entry, const char* wanted) {
  char extension[kExtensionCapacity];
  ModuleExtension(entry.module_name, extension, sizeof extension);
  return std::strcmp(extension, wanted) == 0;
}

void InstallEntry(const UpdateEntry& entry, Summary* summary) {
  char target[kPathCapacity];
  if (!ResolveTargetPath(entry, target, sizeof target)) return;

  // The installed copy is saved first, whatever the install decision; a
  // module not installed yet simply has nothing to save.
  if (IsBackedUp(entry)) {
    char backup[kPathCapacity];
    if (FormatBackupPath(entry, backup, sizeof backup)) {
      platform::CopyFileOver(target, backup);
    }
  }

  if (!ShouldInstall(entry, FileExists(target))) return;

  if (platform::CopyFileOver(entry.module_name, target)) {
    AppendLine(summary, messages::kSummaryModuleFormat, entry.module_name);
    return;
  }
  const platform::ErrorCode error = platform::LastError();
  char message[kCopyMessageCapacity];
  FormatText(message, sizeof message, messages::kCopyFailureFormat,
             entry.module_name, error);
  ShowMessage(message, messages::kCaptionCopyFailure);
}

}  // namespace

void ModuleExtension(const char* module_name, char* extension,
                     std::size_t capacity) {
  extension[0] = '\0';
  const char* component = module_name;
  if (component[0] != '\0' && component[1] == ':') component += 2;
  for (const char* p = component; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/') component = p + 1;
  }
  if (std::strcmp(component, ".") == 0 || std::strcmp(component, "..") == 0) {
    return;
  }
  const char* dot = std::strrchr(component, '.');
  if (dot == nullptr) return;
  FormatText(extension, capacity, "%s", dot);
}

bool IsBackedUp(const UpdateEntry& entry) {
  return std::strcmp(entry.folder_word, kBackupFolderWord) == 0 &&
         HasExtension(entry, kDllExtension);
}

bool ShouldInstall(const UpdateEntry& entry, bool target_exists) {
  if (!HasExtension(entry, kDllExtension) &&
      !HasExtension(entry, kExeExtension)) {
    return true;
  }
  return IsAddModuleEntry(entry) || target_exists;
}

void RunUpdateMode() {
  if (!ReadUpdateList(kManifestName)) {
    ShowMessage(messages::kManifestNotFound, messages::kCaptionUpdate);
    return;
  }
  char refusal[kRefusalCapacity];
  if (!CheckUpdateListIsSafe(refusal, sizeof refusal)) {
    ShowMessage(refusal, messages::kCaptionUpdate);
    return;
  }
  if (!CheckWriteAccess()) {
    ShowMessage(messages::kNoWriteAccess, messages::kCaptionUpdate);
    return;
  }

  char backup_dir[kPathCapacity];
  // Already known to fit; an existing folder is fine, and a folder that
  // cannot be made only makes the backups fail later.
  if (FormatBackupDir(backup_dir, sizeof backup_dir)) {
    platform::CreateFolder(backup_dir);
  }

  Summary summary;
  summary.length = 0;
  AppendLine(&summary, "%s", messages::kSummaryHeader);
  for (std::size_t i = 0; i < update_list.count; ++i) {
    const UpdateEntry& entry = update_list.entries[i];
    if (IsBuildNumberEntry(entry)) {
      if (WriteBuildNumber(entry.folder_word)) {
        AppendLine(&summary, messages::kSummaryBuildNumberFormat,
                   entry.folder_word);
      }
      continue;
    }
    InstallEntry(entry, &summary);
  }
  ShowMessage(summary.text, messages::kCaptionUpdate);
}
