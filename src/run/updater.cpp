// The run: installation lookup, directory test, and one mode.
#include "run/updater.h"

#include "deploy/remove.h"
#include "deploy/update.h"
#include "platform/file_tests.h"
#include "run/messages.h"
#include "run/text.h"
#include "settings/settings.h"

namespace {
constexpr char kRemoveArgument[] = "remove";
}  // namespace

bool IsRemoveArgument(const char* arguments) {
  return StartsWithIgnoringCase(arguments, kRemoveArgument);
}

int RunUpdater(const char* arguments) {
  ReadInstallDir();
  if (!IsDirectory(install_dir)) {
    ShowMessage(messages::kDirectoryNotFound, messages::kCaptionUpdate);
    return 0;
  }
  if (IsRemoveArgument(arguments)) {
    RemoveBackup();
  } else {
    RunUpdateMode();
  }
  return 0;
}
