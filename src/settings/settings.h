// The installation's settings key: where the installation lives, and the
// build number an update records.
#ifndef VELMORA_SETTINGS_SETTINGS_H
#define VELMORA_SETTINGS_SETTINGS_H

#include <cstddef>

// The key below HKEY_USERS. The trailing backslash is part of the name the
// installed base has always used.
constexpr char kSettingsSubkey[] = ".DEFAULT\\Software\\Corvane\\Velmora\\";
constexpr char kSettingsClass[] = "Class";
constexpr char kPathValueName[] = "Path";
constexpr char kBuildNumberValueName[] = "Build Number";

// The installation directory holds at most 499 characters and its
// terminator.
constexpr std::size_t kInstallDirCapacity = 500;
constexpr std::size_t kBuildNumberCapacity = 500;

// The installation directory, empty until ReadInstallDir fills it.
extern char install_dir[kInstallDirCapacity];

// Opens the settings key for reading (creating it when missing) and reads
// "Path" into install_dir. Shows "ERROR : Path not found in registry" when
// the key cannot be opened. A "Path" that is missing, or does not fit
// install_dir with its terminator, leaves install_dir empty.
void ReadInstallDir();

// Stores text as the REG_SZ "Build Number". False, silently, when text is
// empty or longer than the buffer, or when the key cannot be opened or the
// value cannot be set.
bool WriteBuildNumber(const char* text);

#endif  // VELMORA_SETTINGS_SETTINGS_H
