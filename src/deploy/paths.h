// Where each listed module goes, what a run refuses before it changes
// anything, and the write-access pre-check.
#ifndef VELMORA_DEPLOY_PATHS_H
#define VELMORA_DEPLOY_PATHS_H

#include <cstddef>

#include "manifest/manifest.h"

// A composed path holds at most 259 characters, the found backup files of
// removal mode at most 255.
constexpr std::size_t kPathCapacity = 260;
constexpr std::size_t kFoundPathCapacity = 256;

constexpr char kRootFolderWord[] = "root";
constexpr char kBackupFolderWord[] = "elmdll";
constexpr char kBuildNumberName[] = "_BuildNumber";
constexpr char kAddModuleWord[] = "_AddModule";

// True when the entry sets the build number rather than naming a module.
bool IsBuildNumberEntry(const UpdateEntry& entry);

// True when the entry's action word is "_AddModule", ignoring case.
bool IsAddModuleEntry(const UpdateEntry& entry);

// The installed path of an entry: install_dir\module for the folder word
// "root", install_dir\folder\module otherwise (an empty folder word too).
// False when it would not fit kPathCapacity.
bool ResolveTargetPath(const UpdateEntry& entry, char* path,
                       std::size_t capacity);

// install_dir\Backup. False when it would not fit.
bool FormatBackupDir(char* path, std::size_t capacity);

// backup_dir\module. False when it would not fit.
bool FormatBackupPath(const UpdateEntry& entry, char* path,
                      std::size_t capacity);

// True when a module name or folder word would reach outside the folder it
// is relative to, or name something other than a file there: absolute,
// drive-qualified, with a ".." part, a stream ("name:stream") or a device
// name (CON, NUL, COM1...).
bool IsUnsafeRelativePath(const char* name);

// Looks for the first reason the update list cannot be carried out safely:
// a word longer than its field, a name that leaves its folder, or a path
// that does not fit. On finding one, writes the message to show into
// message (capacity bytes) and returns false.
bool CheckUpdateListIsSafe(char* message, std::size_t capacity);

// Opens every installed target the update could overwrite for update and
// closes it again untouched. Skips build-number lines, "_AddModule" entries
// and targets that FileExists does not see. False at the first target that
// does not open.
bool CheckWriteAccess();

#endif  // VELMORA_DEPLOY_PATHS_H
