// The platform layer: the only way the core reaches the operating system.
//
// Every call is shaped after the Win32 call named beside it and keeps its
// contract: a boolean result, and on failure a Windows error number that
// LastError() returns until the next call of this interface. Out-arguments
// are defined only when the call succeeded. Paths are single-byte text; both
// backslash and slash separate components.
//
// Exactly one backend implements this header, chosen by the build:
// win32.cpp calls the real functions, posix.cpp emulates them.
// Nothing above this header may include an operating-system header.
#ifndef VELMORA_PLATFORM_PLATFORM_H
#define VELMORA_PLATFORM_PLATFORM_H

#include <cstddef>

namespace platform {

// Windows' error numbers, the common language of both backends.
using ErrorCode = unsigned long;
constexpr ErrorCode kErrorSuccess = 0;
constexpr ErrorCode kErrorFileNotFound = 2;
constexpr ErrorCode kErrorPathNotFound = 3;
constexpr ErrorCode kErrorAccessDenied = 5;
constexpr ErrorCode kErrorInvalidHandle = 6;
constexpr ErrorCode kErrorNotEnoughMemory = 8;
constexpr ErrorCode kErrorInvalidData = 13;
constexpr ErrorCode kErrorNoMoreFiles = 18;
// ERROR_GEN_FAILURE: what the POSIX backend reports for a system error
// that has no closer Windows number.
constexpr ErrorCode kErrorGenFailure = 31;
constexpr ErrorCode kErrorSharingViolation = 32;
constexpr ErrorCode kErrorFileExists = 80;
constexpr ErrorCode kErrorInvalidParameter = 87;
constexpr ErrorCode kErrorDiskFull = 112;
constexpr ErrorCode kErrorInvalidName = 123;
constexpr ErrorCode kErrorDirNotEmpty = 145;
constexpr ErrorCode kErrorAlreadyExists = 183;
constexpr ErrorCode kErrorFilenameTooLong = 206;
constexpr ErrorCode kErrorMoreData = 234;

// The error of the last failed call of this interface (GetLastError).
ErrorCode LastError();

// ---- Registry -------------------------------------------------------------

// Access masks, with Windows' values.
constexpr unsigned long kKeyRead = 0x20019;   // KEY_READ
constexpr unsigned long kKeyWrite = 0x20006;  // KEY_WRITE

// Value types, with Windows' values.
constexpr unsigned long kRegSz = 1;  // REG_SZ

struct RegistryKey;  // opaque; each backend defines it

// RegCreateKeyExA(HKEY_USERS, subkey, 0, class_name, REG_OPTION_NON_VOLATILE,
// access, NULL, &key, NULL): opens the key below HKEY_USERS, creating it
// when it is missing. On success *key must be closed with
// RegistryCloseKey.
bool RegistryCreateUsersKey(const char* subkey, const char* class_name,
                            unsigned long access, RegistryKey** key);

// RegQueryValueExA(key, name, NULL, &type, data, size): copies the value's
// bytes into data (capacity *size) and sets *size to their number. Fails
// with kErrorFileNotFound when the value is absent and kErrorMoreData when
// it does not fit; the type is not reported.
bool RegistryQueryValue(RegistryKey* key, const char* name, unsigned char* data,
                        unsigned long* size);

// RegSetValueExA(key, name, 0, type, data, size).
bool RegistrySetValue(RegistryKey* key, const char* name, unsigned long type,
                      const unsigned char* data, unsigned long size);

// RegCloseKey(key). A null key is ignored.
void RegistryCloseKey(RegistryKey* key);

// ---- Files ----------------------------------------------------------------

// Attribute bits, with Windows' values.
constexpr unsigned long kAttributeReadOnly = 0x01;
constexpr unsigned long kAttributeHidden = 0x02;
constexpr unsigned long kAttributeSystem = 0x04;
constexpr unsigned long kAttributeDirectory = 0x10;
constexpr unsigned long kAttributeArchive = 0x20;
constexpr unsigned long kAttributeNormal = 0x80;

// GetFileAttributesA: false (INVALID_FILE_ATTRIBUTES) when the path cannot
// be examined.
bool GetAttributes(const char* path, unsigned long* attributes);

// One entry of a file search (WIN32_FIND_DATAA's name and attributes).
constexpr std::size_t kFoundNameCapacity = 260;  // MAX_PATH
struct FoundEntry {
  char name[kFoundNameCapacity];  // the entry's own name, no folder
  unsigned long attributes;
};

struct Search;  // opaque; each backend defines it

// FindFirstFileA(pattern, &entry): `*` and `?` may stand in the last
// component. On success *search must be closed with SearchClose. Fails with
// kErrorFileNotFound when nothing matches.
bool SearchFirst(const char* pattern, Search** search, FoundEntry* entry);

// FindNextFileA: fails with kErrorNoMoreFiles after the last entry.
bool SearchNext(Search* search, FoundEntry* entry);

// FindClose. A null search is ignored.
void SearchClose(Search* search);

// CreateDirectoryA(path, NULL).
bool CreateFolder(const char* path);

// CopyFileA(from, to, FALSE): overwrites `to`. After a failure `to` holds
// its old content (or is still absent).
bool CopyFileOver(const char* from, const char* to);

// DeleteFileA(path).
bool DeleteOneFile(const char* path);

// RemoveDirectoryA(path): the folder must be empty.
bool RemoveFolder(const char* path);

// CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
// FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL) followed
// at once by CloseHandle: true when the existing file opens for update. The
// file is neither created, truncated nor touched.
bool ProbeOpenForUpdate(const char* path);

struct ReadFile;  // opaque; each backend defines it

// Opens an existing file for reading only, sharing it for reading and
// writing with other processes. On success *file must be closed with
// CloseReadFile.
bool OpenReadFile(const char* path, ReadFile** file);

// Reads up to `capacity` bytes; *got is 0 at end of file.
bool ReadBytes(ReadFile* file, unsigned char* buffer, std::size_t capacity,
               std::size_t* got);

// Closes the file. A null file is ignored.
void CloseReadFile(ReadFile* file);

// ---- User interface -------------------------------------------------------

// MessageBoxA(NULL, text, caption, MB_OK | MB_SETFOREGROUND); returns when
// the message has been delivered (on Windows: when the user dismissed it).
void ShowMessageBox(const char* text, const char* caption);

}  // namespace platform

#endif  // VELMORA_PLATFORM_PLATFORM_H
