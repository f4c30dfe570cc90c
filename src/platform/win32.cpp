// The Windows backend of platform.h: each function is the Win32 call named
// on its declaration, with the arguments given there, and nothing more.
//
// No policy lives here. Errors are not translated: Windows' numbers are the
// interface's numbers. The code of the last failure is kept where Windows
// keeps it, in the thread's last-error slot, so LastError() is
// GetLastError(); the registry calls, which return their code instead of
// setting the slot, put it there themselves. Every failure path leaves the
// slot holding the code of the call that failed, even after clean-up calls.
//
// This file and main_win32.cpp are the only ones that include <windows.h>.
// It must stay buildable by MSVC as well as MinGW: no compiler extensions.
#include <windows.h>

#include <new>

#include "platform/platform.h"

namespace platform {

struct RegistryKey {
  HKEY handle;
};

struct Search {
  HANDLE handle;
};

struct ReadFile {
  HANDLE handle;
};

namespace {

// ReadFile takes a DWORD count; larger requests are served in part, which
// the ReadBytes contract allows.
constexpr std::size_t kLargestRead = 1u << 30;

bool Fail(DWORD code) {
  SetLastError(code);
  return false;
}

static_assert(kFoundNameCapacity == MAX_PATH,
              "a found name must fit the interface's entry");

void FillEntry(const WIN32_FIND_DATAA& data, FoundEntry* entry) {
  std::size_t length = 0;
  while (length + 1 < kFoundNameCapacity && data.cFileName[length] != '\0') {
    entry->name[length] = data.cFileName[length];
    ++length;
  }
  entry->name[length] = '\0';
  entry->attributes = data.dwFileAttributes;
}

}  // namespace

ErrorCode LastError() { return GetLastError(); }

// ---- Registry -------------------------------------------------------------

bool RegistryCreateUsersKey(const char* subkey, const char* class_name,
                            unsigned long access, RegistryKey** key) {
  HKEY handle = NULL;
  // The class parameter is LPSTR for historical reasons; it is only read.
  LONG status =
      RegCreateKeyExA(HKEY_USERS, subkey, 0, const_cast<char*>(class_name),
                      REG_OPTION_NON_VOLATILE, access, NULL, &handle, NULL);
  if (status != ERROR_SUCCESS) return Fail(static_cast<DWORD>(status));
  RegistryKey* wrapper = new (std::nothrow) RegistryKey;
  if (wrapper == NULL) {
    RegCloseKey(handle);
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  wrapper->handle = handle;
  *key = wrapper;
  return true;
}

bool RegistryQueryValue(RegistryKey* key, const char* name, unsigned char* data,
                        unsigned long* size) {
  DWORD type = 0;
  DWORD byte_count = *size;
  LONG status =
      RegQueryValueExA(key->handle, name, NULL, &type, data, &byte_count);
  if (status != ERROR_SUCCESS) return Fail(static_cast<DWORD>(status));
  *size = byte_count;
  return true;
}

bool RegistrySetValue(RegistryKey* key, const char* name, unsigned long type,
                      const unsigned char* data, unsigned long size) {
  LONG status = RegSetValueExA(key->handle, name, 0, type, data, size);
  if (status != ERROR_SUCCESS) return Fail(static_cast<DWORD>(status));
  return true;
}

void RegistryCloseKey(RegistryKey* key) {
  if (key == NULL) return;
  RegCloseKey(key->handle);
  delete key;
}

// ---- Files ----------------------------------------------------------------

bool GetAttributes(const char* path, unsigned long* attributes) {
  DWORD found = GetFileAttributesA(path);
  if (found == INVALID_FILE_ATTRIBUTES) return false;
  *attributes = found;
  return true;
}

bool SearchFirst(const char* pattern, Search** search, FoundEntry* entry) {
  WIN32_FIND_DATAA data;
  HANDLE handle = FindFirstFileA(pattern, &data);
  if (handle == INVALID_HANDLE_VALUE) return false;
  Search* wrapper = new (std::nothrow) Search;
  if (wrapper == NULL) {
    FindClose(handle);
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  wrapper->handle = handle;
  FillEntry(data, entry);
  *search = wrapper;
  return true;
}

bool SearchNext(Search* search, FoundEntry* entry) {
  WIN32_FIND_DATAA data;
  if (!FindNextFileA(search->handle, &data)) return false;
  FillEntry(data, entry);
  return true;
}

void SearchClose(Search* search) {
  if (search == NULL) return;
  FindClose(search->handle);
  delete search;
}

bool CreateFolder(const char* path) {
  return CreateDirectoryA(path, NULL) != FALSE;
}

bool CopyFileOver(const char* from, const char* to) {
  return CopyFileA(from, to, FALSE) != FALSE;
}

bool DeleteOneFile(const char* path) { return DeleteFileA(path) != FALSE; }

bool RemoveFolder(const char* path) { return RemoveDirectoryA(path) != FALSE; }

bool ProbeOpenForUpdate(const char* path) {
  HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

bool OpenReadFile(const char* path, ReadFile** file) {
  HANDLE handle =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (handle == INVALID_HANDLE_VALUE) return false;
  ReadFile* wrapper = new (std::nothrow) ReadFile;
  if (wrapper == NULL) {
    CloseHandle(handle);
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  wrapper->handle = handle;
  *file = wrapper;
  return true;
}

bool ReadBytes(ReadFile* file, unsigned char* buffer, std::size_t capacity,
               std::size_t* got) {
  DWORD wanted =
      static_cast<DWORD>(capacity < kLargestRead ? capacity : kLargestRead);
  DWORD read = 0;
  if (!::ReadFile(file->handle, buffer, wanted, &read, NULL)) return false;
  *got = read;
  return true;
}

void CloseReadFile(ReadFile* file) {
  if (file == NULL) return;
  CloseHandle(file->handle);
  delete file;
}

// ---- User interface -------------------------------------------------------

void ShowMessageBox(const char* text, const char* caption) {
  MessageBoxA(NULL, text, caption, MB_OK | MB_SETFOREGROUND);
}

}  // namespace platform
