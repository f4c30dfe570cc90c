// Update mode: back up, install, record the build number, and summarise.
#ifndef VELMORA_DEPLOY_UPDATE_H
#define VELMORA_DEPLOY_UPDATE_H

#include <cstddef>

#include "manifest/manifest.h"

constexpr std::size_t kExtensionCapacity = 256;

// The extension of a module name: from the last dot of its last component
// (after the last backslash or slash, and after a drive prefix) to the end,
// dot and case kept. Empty when that component has no dot or is "." or
// "..".
void ModuleExtension(const char* module_name, char* extension,
                     std::size_t capacity);

// True when the entry's installed copy is backed up before the install: a
// ".dll" (exact case) for the "elmdll" folder.
bool IsBackedUp(const UpdateEntry& entry);

// The install decision: every module that is neither ".dll" nor ".exe";
// a ".dll" or ".exe" marked "_AddModule"; any other ".dll" or ".exe" only
// when target_exists.
bool ShouldInstall(const UpdateEntry& entry, bool target_exists);

// Runs the whole update for the manifest in the current directory.
void RunUpdateMode();

#endif  // VELMORA_DEPLOY_UPDATE_H
