// Every text and caption the tool shows, in one place. The wording is the
// installed base's own and is kept exactly, grammar included.
#ifndef VELMORA_RUN_MESSAGES_H
#define VELMORA_RUN_MESSAGES_H

namespace messages {

constexpr char kCaptionUpdate[] = "Velmora4 Update";
constexpr char kCaptionCopyFailure[] = "Update WinMain";
constexpr char kCaptionDeleteFailure[] = "Refit4 WinMain";

constexpr char kRegistryPathNotFound[] = "ERROR : Path not found in registry";
constexpr char kDirectoryNotFound[] = "ERROR : Velmora directory not found";
constexpr char kManifestNotFound[] =
    "ERROR : File list (vlmfile.upd) not found";
constexpr char kNoWriteAccess[] =
    "Update error: Because you does not have write access to update one or "
    "more module\n"
    "Please contact your system administrator in order to have your access "
    "rights modified.";

constexpr char kSummaryHeader[] = "The following files were updated:\n\n";
constexpr char kSummaryBuildNumberFormat[] = "Update BuildNumber to: %s\n";
constexpr char kSummaryModuleFormat[] = "%s\n";

// %s: the module name as written; %lu: the error code.
constexpr char kCopyFailureFormat[] = "CopyFile=%s, error=%lu\n";
// %s: the full path of the backup file; %lu: the error code.
constexpr char kDeleteFailureFormat[] = "DeleteFile=%s, error=%lu\n";

// Refusals of a manifest that cannot be carried out safely. They are shown
// before anything is created or changed. %u: the manifest line; %s: one of
// the reasons below.
constexpr char kManifestRefusedFormat[] =
    "ERROR : File list (vlmfile.upd) line %u: %s\nNothing was updated.";
constexpr char kReasonModuleNameTooLong[] =
    "the module name is longer than 255 characters";
constexpr char kReasonFolderWordTooLong[] =
    "the folder name is longer than 255 characters";
constexpr char kReasonBuildNumberTooLong[] =
    "the build number is longer than 255 characters";
constexpr char kReasonActionWordTooLong[] =
    "the action word is longer than 199 characters";
constexpr char kReasonModuleNameUnsafe[] =
    "the module name is absolute, names a drive, device or stream, or has "
    "a \"..\" part";
constexpr char kReasonFolderWordUnsafe[] =
    "the folder name is absolute, names a drive, device or stream, or has "
    "a \"..\" part";
constexpr char kReasonTargetPathTooLong[] =
    "the installed path would be longer than 259 characters";

constexpr char kBackupFolderTooLong[] =
    "ERROR : Backup folder path is longer than 259 characters\n"
    "Nothing was updated.";
// Removal mode: the search for backups cannot even be formed.
constexpr char kBackupSearchTooLong[] =
    "ERROR : Backup folder path is longer than 259 characters\n"
    "No backup was removed.";

}  // namespace messages

#endif  // VELMORA_RUN_MESSAGES_H
