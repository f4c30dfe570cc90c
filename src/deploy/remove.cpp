// Removal mode. Paths that do not fit are reported and skipped, never cut:
// a cut path could name, and delete, another file.
#include "deploy/remove.h"

#include <cstring>

#include "deploy/paths.h"
#include "platform/file_tests.h"
#include "platform/platform.h"
#include "run/messages.h"
#include "run/text.h"
#include "settings/settings.h"

namespace {

// A report names the full path even when it is too long to delete.
constexpr std::size_t kLongestReportedPath =
    kInstallDirCapacity + sizeof "\\Backup\\" + platform::kFoundNameCapacity;
constexpr std::size_t kDeleteMessageCapacity =
    sizeof messages::kDeleteFailureFormat + kLongestReportedPath + 20;

void ReportDeleteFailure(const char* path, platform::ErrorCode error) {
  char message[kDeleteMessageCapacity];
  FormatText(message, sizeof message, messages::kDeleteFailureFormat, path,
             error);
  ShowMessage(message, messages::kCaptionDeleteFailure);
}

void DeleteFound(const char* name) {
  char path[kFoundPathCapacity];
  if (!FormatText(path, sizeof path, "%s\\Backup\\%s", install_dir, name)) {
    // Name the file as Windows would name a path beyond its limit.
    char whole[kLongestReportedPath];
    FormatText(whole, sizeof whole, "%s\\Backup\\%s", install_dir, name);
    ReportDeleteFailure(whole, platform::kErrorFilenameTooLong);
    return;
  }
  if (!platform::DeleteOneFile(path)) {
    ReportDeleteFailure(path, platform::LastError());
  }
}

}  // namespace

void RemoveBackup() {
  char pattern[kPathCapacity];
  if (!FormatText(pattern, sizeof pattern, "%s\\Backup\\*.dll", install_dir)) {
    ShowMessage(messages::kBackupSearchTooLong, messages::kCaptionUpdate);
    return;
  }
  platform::Search* search = nullptr;
  platform::FoundEntry entry;
  if (platform::SearchFirst(pattern, &search, &entry)) {
    do {
      DeleteFound(entry.name);
    } while (platform::SearchNext(search, &entry));
    platform::SearchClose(search);
  }
  char backup_dir[kPathCapacity];
  if (FormatBackupDir(backup_dir, sizeof backup_dir)) {
    platform::RemoveFolder(backup_dir);
  }
}
