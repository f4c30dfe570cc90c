// The POSIX backend of the platform layer: emulates the Win32 calls that
// platform.h names, with Windows' error numbers, attributes and name rules,
// so that the core behaves on Linux as it does on Windows.
//
// Policy stays in the core: this file only provides primitives. errno is
// translated in exactly one place, kErrnoTable below.
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix_path.h"
#include "platform/posix_syscalls.h"
#include "platform/regfile.h"

namespace posix_syscalls {

Table calls = {::write, ::fsync, ::linkat, ::rename};

void Reset() { calls = Table{::write, ::fsync, ::linkat, ::rename}; }

}  // namespace posix_syscalls

namespace platform {

struct RegistryKey {
  std::string file;  // the registry file, a POSIX path
  std::string path;  // the full key path inside it
  unsigned long access;
};

struct Search {
  std::vector<FoundEntry> entries;  // taken whole by SearchFirst
  std::size_t next;
};

struct ReadFile {
  int fd;
};

namespace {

using posix_path::LastComponent;
using posix_path::Outcome;
using posix_path::Resolution;

// GetLastError's slot. The tool runs one thread, so one slot serves.
ErrorCode last_error = kErrorSuccess;

struct ErrnoMapping {
  int system;
  ErrorCode windows;
};

// errno to Windows numbers. Anything not listed becomes kErrorGenFailure:
// access denied (5) would send a user chasing permissions that are fine.
constexpr ErrnoMapping kErrnoTable[] = {
    {ENOENT, kErrorFileNotFound},      {ENOTDIR, kErrorPathNotFound},
    {EACCES, kErrorAccessDenied},      {EPERM, kErrorAccessDenied},
    {EROFS, kErrorAccessDenied},       {EISDIR, kErrorAccessDenied},
    {ETXTBSY, kErrorSharingViolation}, {EBUSY, kErrorSharingViolation},
    {EEXIST, kErrorAlreadyExists},     {ENOSPC, kErrorDiskFull},
    {EDQUOT, kErrorDiskFull},          {EFBIG, kErrorDiskFull},
    {ENOTEMPTY, kErrorDirNotEmpty},    {ENAMETOOLONG, kErrorFilenameTooLong},
    {ENOMEM, kErrorNotEnoughMemory},   {EBADF, kErrorInvalidHandle},
    {EINVAL, kErrorInvalidParameter},
};

ErrorCode FromErrno(int error) {
  for (const ErrnoMapping& mapping : kErrnoTable) {
    if (mapping.system == error) return mapping.windows;
  }
  return kErrorGenFailure;
}

bool Fail(ErrorCode code) {
  last_error = code;
  return false;
}

bool FailErrno(int error) { return Fail(FromErrno(error)); }

bool Succeed() {
  last_error = kErrorSuccess;
  return true;
}

// ---- Names and attributes -------------------------------------------------

constexpr char kDosAttributeName[] = "user.DOSATTRIB";
constexpr std::size_t kDosAttributeMaxBytes = 4096;
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr mode_t kPermissionBits = S_IRWXU | S_IRWXG | S_IRWXO;
constexpr mode_t kNewFolderMode = 0777;  // less the umask, as mkdir does
constexpr mode_t kNewFileMode = 0666;    // less the umask
constexpr std::size_t kCopyBufferBytes = 64 * 1024;
// A copy asks the kernel for this much at a time, and starts writing out
// what it has copied in pieces of at least this size.
constexpr std::size_t kKernelCopyPieceBytes = 2 * 1024 * 1024;
constexpr std::size_t kWritebackPieceBytes = 2 * 1024 * 1024;
// Temporary files beside their target: hidden (leading dot), and unique
// through the six characters that mkostemp, or NameTemporary, fills in.
constexpr char kCopyTempName[] = ".velmora-copy-XXXXXX";
constexpr char kRegistryTempName[] = ".velmora-registry-XXXXXX";
constexpr std::size_t kTemporarySuffixLength = 6;
constexpr int kTemporaryNameAttempts = 100;
constexpr char kTemporaryNameLetters[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr mode_t kTemporaryMode = 0600;  // until the final mode is set
constexpr char kOwnFileDescriptors[] = "/proc/self/fd";

// Fails with the Windows number for a resolution that did not resolve.
bool CheckResolved(const Resolution& resolution) {
  switch (resolution.outcome) {
    case Outcome::kResolved:
      return true;
    case Outcome::kInvalidName:
      return Fail(kErrorInvalidName);
    case Outcome::kFolderMissing:
      return Fail(kErrorPathNotFound);
    case Outcome::kSystemError:
      break;
  }
  return FailErrno(resolution.system_error);
}

// Resolves a path that must name an existing entry.
bool ResolveExisting(const char* path, Resolution* resolution) {
  if (path == nullptr) return Fail(kErrorInvalidParameter);
  *resolution = posix_path::Resolve(path, LastComponent::kLookUp);
  if (!CheckResolved(*resolution)) return false;
  if (!resolution->exists) return Fail(kErrorFileNotFound);
  return true;
}

bool IsReadOnly(const struct stat& info) {
  return (info.st_mode & kWriteBits) == 0;
}

// The hidden and system bits that Samba and Wine keep in user.DOSATTRIB as
// the text "0x" and hex digits. Absent, unsupported or another form: none.
unsigned long DosAttributeBits(const std::string& path) {
  const ssize_t size = getxattr(path.c_str(), kDosAttributeName, nullptr, 0);
  if (size <= 0 || static_cast<std::size_t>(size) > kDosAttributeMaxBytes) {
    return 0;
  }
  std::vector<char> text(static_cast<std::size_t>(size));
  const ssize_t got =
      getxattr(path.c_str(), kDosAttributeName, text.data(), text.size());
  if (got < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) {
    return 0;
  }
  unsigned long bits = 0;
  for (ssize_t i = 2; i < got; ++i) {
    const char c = text[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) break;
    bits = (bits << 4) | static_cast<unsigned long>(digit);
  }
  return bits & (kAttributeHidden | kAttributeSystem);
}

unsigned long AttributesFrom(const struct stat& info, const std::string& path,
                             const std::string& name) {
  unsigned long attributes = 0;
  if (S_ISDIR(info.st_mode)) attributes |= kAttributeDirectory;
  if (IsReadOnly(info)) attributes |= kAttributeReadOnly;
  if (name.size() > 1 && name[0] == '.' && name != "..") {
    attributes |= kAttributeHidden;
  }
  attributes |= DosAttributeBits(path);
  if (attributes == 0) attributes = kAttributeArchive;
  return attributes;
}

// ---- Files in use -----------------------------------------------------------

// Windows will not open a file for writing while a program runs from it,
// nor, as a rule, while another process holds it open. Linux refuses only
// the first (ETXTBSY); the second shows up when asking for a write lease,
// which the kernel grants only when no other open file description, mapping
// or running program refers to the file. The lease is given back at once.
// A file whose lease cannot be asked for (another user's file without
// CAP_LEASE, leases disabled, a file system without them) counts as free,
// as it did before this check: in doubt, the update goes on.
//
// fd is open on the file; returns kErrorSharingViolation or kErrorSuccess.
ErrorCode InUseByOthers(int fd) {
  // A lease broken in the instant it is held is announced by a signal,
  // SIGIO by default, which would end the tool; SIGURG is ignored unless
  // handled.
  if (fcntl(fd, F_SETSIG, SIGURG) != 0) return kErrorSuccess;
  if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
    fcntl(fd, F_SETLEASE, F_UNLCK);
    return kErrorSuccess;
  }
  return errno == EAGAIN ? kErrorSharingViolation : kErrorSuccess;
}

// The same for a file that is about to be replaced by a rename, which Linux
// would allow in both cases.
ErrorCode InUseByOthers(const std::string& path) {
  const int fd =
      open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return errno == ETXTBSY ? kErrorSharingViolation : kErrorSuccess;
  }
  const ErrorCode error = InUseByOthers(fd);
  close(fd);
  return error;
}

// ---- Plain I/O --------------------------------------------------------------

// Writes all of data. A write that makes no progress means the file can
// grow no further: with SIGXFSZ ignored the size limit shows up as a short
// write, then EFBIG, and both are a full disk to the caller.
bool WriteAll(int fd, const unsigned char* data, std::size_t size,
              ErrorCode* error) {
  while (size > 0) {
    const ssize_t put = posix_syscalls::calls.write(fd, data, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      *error = FromErrno(errno);
      return false;
    }
    if (put == 0) {
      *error = kErrorDiskFull;
      return false;
    }
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

// ---- Moving the bytes of a copy ------------------------------------------

// How much of a copy is in the target, and how much of that has been sent
// on its way to disk.
struct CopyProgress {
  off_t copied = 0;
  off_t sent = 0;
};

// Starts writing out each piece as soon as it is copied, so that the flush
// before the rename finds the file mostly on disk already rather than all
// of it in memory: copying and writing overlap. Only a hint, and its errors
// are the flush's to report.
void NoteCopied(int out, ssize_t count, CopyProgress* progress) {
  progress->copied += count;
  if (progress->copied - progress->sent >=
      static_cast<off_t>(kWritebackPieceBytes)) {
    sync_file_range(out, progress->sent, progress->copied - progress->sent,
                    SYNC_FILE_RANGE_WRITE);
    progress->sent = progress->copied;
  }
}

// The answers that mean "not for this pair of files" rather than a failure:
// another file system, an old kernel, a file system without the call.
// (ENOTSUP is EOPNOTSUPP on Linux; ENOTTY is an ioctl the file system does
// not know.)
bool KernelCannotCopy(int error) {
  return error == EXDEV || error == ENOSYS || error == EOPNOTSUPP ||
         error == EINVAL || error == ENOTTY;
}

// Copies inside the kernel: a reflink shares the source's blocks where the
// file system has them (Btrfs, XFS), copy_file_range copies without a trip
// through this process. Stops, successfully, at the end of the source or
// wherever the kernel declines; the file offsets then stand where the
// read/write loop takes over. False only for a real failure.
bool KernelCopy(int in, int out, CopyProgress* progress, ErrorCode* error) {
  if (ioctl(out, FICLONE, in) == 0) {
    // All of the source is in; the loop after this one finds its end.
    if (lseek(in, 0, SEEK_END) >= 0 && lseek(out, 0, SEEK_END) >= 0) {
      return true;
    }
    *error = FromErrno(errno);
    return false;
  }
  for (;;) {
    const ssize_t put =
        copy_file_range(in, nullptr, out, nullptr, kKernelCopyPieceBytes, 0);
    // 0 is the end of the source, or a file the kernel believes empty
    // (procfs and the like): the read/write loop tells which.
    if (put == 0) return true;
    if (put > 0) {
      NoteCopied(out, put, progress);
      continue;
    }
    if (errno == EINTR) continue;
    if (KernelCannotCopy(errno)) return true;
    *error = FromErrno(errno);
    return false;
  }
}

// Copies all of `in` into the empty `out`. A test that has taken over write
// through posix_syscalls sees every byte go through it, so the kernel copy,
// which would go round it, stays out of the way.
bool CopyData(int in, int out, ErrorCode* error) {
  posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
  CopyProgress progress;
  if (posix_syscalls::calls.write == &::write &&
      !KernelCopy(in, out, &progress, error)) {
    return false;
  }
  unsigned char buffer[kCopyBufferBytes];
  for (;;) {
    const ssize_t got = read(in, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      *error = FromErrno(errno);
      return false;
    }
    if (got == 0) return true;
    if (!WriteAll(out, buffer, static_cast<std::size_t>(got), error)) {
      return false;
    }
    NoteCopied(out, got, &progress);
  }
}

// Makes a folder durable after a rename in it. Best effort: the rename has
// happened either way.
void SyncFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// A temporary file beside its target. Where the file system allows, it
// has no name until it is complete (O_TMPFILE), so that a process killed
// while writing it leaves nothing behind; elsewhere it is a hidden file
// with a unique name from the start.
struct Temporary {
  int fd = -1;
  std::string folder;
  std::string name_pattern;  // kCopyTempName or kRegistryTempName
  std::string path;          // empty while the file has no name
};

bool OpenTemporary(const std::string& folder, const char* name_pattern,
                   Temporary* temporary) {
  temporary->folder = folder;
  temporary->name_pattern = name_pattern;
  temporary->path.clear();
  // Naming it later goes through /proc; without /proc, a named file.
  if (access(kOwnFileDescriptors, X_OK) == 0) {
    temporary->fd =
        open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, kTemporaryMode);
    if (temporary->fd >= 0) return true;
  }
  // Not supported here (or any other refusal, which mkostemp will then
  // report with its own errno).
  std::string pattern = posix_path::Join(folder, name_pattern);
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  temporary->fd = mkostemp(buffer.data(), O_CLOEXEC);
  if (temporary->fd < 0) return false;
  temporary->path.assign(buffer.data());
  return true;
}

// Gives an unnamed temporary file a unique hidden name in its folder, the
// step before it is renamed over its target.
bool NameTemporary(Temporary* temporary) {
  if (!temporary->path.empty()) return true;
  const std::string fd_path =
      std::string(kOwnFileDescriptors) + "/" + std::to_string(temporary->fd);
  const std::string pattern =
      posix_path::Join(temporary->folder, temporary->name_pattern);
  const std::size_t suffix_at = pattern.size() - kTemporarySuffixLength;
  static unsigned long counter = 0;
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    unsigned long long bits =
        (static_cast<unsigned long long>(now.tv_nsec) << 20) ^
        (static_cast<unsigned long long>(getpid()) << 8) ^ ++counter;
    std::string path = pattern;
    for (std::size_t i = suffix_at; i < path.size(); ++i) {
      path[i] =
          kTemporaryNameLetters[bits % (sizeof kTemporaryNameLetters - 1)];
      bits /= sizeof kTemporaryNameLetters - 1;
    }
    if (posix_syscalls::calls.linkat(AT_FDCWD, fd_path.c_str(), AT_FDCWD,
                                     path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      temporary->path = path;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// Closes the temporary file and moves it over target. On failure errno
// holds the cause and the temporary file is still open or named; the
// caller discards it.
bool PublishTemporary(Temporary* temporary, const std::string& target) {
  if (!NameTemporary(temporary)) return false;
  const int fd = temporary->fd;
  temporary->fd = -1;
  if (close(fd) != 0) return false;
  return posix_syscalls::calls.rename(temporary->path.c_str(),
                                      target.c_str()) == 0;
}

// Drops a temporary file that was not published. Keeps errno.
void DiscardTemporary(Temporary* temporary) {
  const int saved = errno;
  if (temporary->fd >= 0) close(temporary->fd);
  temporary->fd = -1;
  if (!temporary->path.empty()) unlink(temporary->path.c_str());
  temporary->path.clear();
  errno = saved;
}

mode_t CurrentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// ---- Registry file --------------------------------------------------------

constexpr char kRegistryVariable[] = "VELMORA_REGISTRY";
constexpr char kRegistryRelative[] = "/velmora/registry.reg";
constexpr char kUsersRoot[] = "HKEY_USERS\\";
constexpr unsigned long kKeySetValue = 0x0002;  // KEY_SET_VALUE

bool RegistryFilePath(std::string* file) {
  const char* explicit_path = std::getenv(kRegistryVariable);
  if (explicit_path != nullptr && explicit_path[0] != '\0') {
    file->assign(explicit_path);
    return true;
  }
  // A relative XDG_CONFIG_HOME is to be ignored, as the XDG rules say.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') {
    file->assign(std::string(config) + kRegistryRelative);
    return true;
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') return false;
  file->assign(std::string(home) + "/.config" + kRegistryRelative);
  return true;
}

std::string FolderOf(const std::string& file) {
  const std::size_t slash = file.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return file.substr(0, slash);
}

// Reads and parses the registry file. A missing file is an empty document
// (*missing set); an unreadable or unparseable one fails.
bool LoadRegistry(const std::string& file, regfile::Document* document,
                  bool* missing) {
  *missing = false;
  document->keys.clear();
  document->single_byte = true;
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) return FailErrno(errno);
    *missing = true;
    return true;
  }
  std::vector<unsigned char> bytes;
  unsigned char buffer[kCopyBufferBytes];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      close(fd);
      return FailErrno(error);
    }
    if (got == 0) break;
    if (bytes.size() + static_cast<std::size_t>(got) > regfile::kMaxFileBytes) {
      close(fd);
      return Fail(kErrorInvalidData);
    }
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  close(fd);
  if (!regfile::Parse(bytes.data(), bytes.size(), document)) {
    return Fail(kErrorInvalidData);
  }
  return true;
}

bool MakeFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1);;
       slash = folder.find('/', slash + 1)) {
    const std::string prefix =
        slash == std::string::npos ? folder : folder.substr(0, slash);
    if (mkdir(prefix.c_str(), kNewFolderMode) != 0 && errno != EEXIST) {
      return FailErrno(errno);
    }
    if (slash == std::string::npos) break;
  }
  struct stat info;
  if (stat(folder.c_str(), &info) != 0) return FailErrno(errno);
  if (!S_ISDIR(info.st_mode)) return Fail(kErrorPathNotFound);
  return true;
}

// Replaces the registry file atomically: a temporary file in the same
// folder, written and flushed, renamed over it, then the folder flushed.
bool StoreRegistry(const std::string& file, const regfile::Document& document) {
  std::string text;
  if (!regfile::Write(document, &text)) return Fail(kErrorInvalidData);
  // Write through a symbolic link rather than replace the link itself.
  std::string target = file;
  char* real = realpath(file.c_str(), nullptr);
  if (real != nullptr) {
    target = real;
    std::free(real);
  }
  const std::string folder = FolderOf(target);
  Temporary temporary;
  if (!OpenTemporary(folder, kRegistryTempName, &temporary)) {
    return FailErrno(errno);
  }
  const int fd = temporary.fd;

  ErrorCode error = kErrorSuccess;
  struct stat old_file;
  mode_t mode = kNewFileMode & ~CurrentUmask();
  if (stat(target.c_str(), &old_file) == 0) {
    mode = old_file.st_mode & 07777;
    // Whoever runs the tool, the file stays its owner's.
    if (geteuid() == 0 && fchown(fd, old_file.st_uid, old_file.st_gid) != 0) {
      error = FromErrno(errno);
    }
  }
  bool ok = error == kErrorSuccess;
  if (ok && fchmod(fd, mode) != 0) {
    error = FromErrno(errno);
    ok = false;
  }
  ok = ok && WriteAll(fd, reinterpret_cast<const unsigned char*>(text.data()),
                      text.size(), &error);
  if (ok && posix_syscalls::calls.fsync(fd) != 0) {
    error = FromErrno(errno);
    ok = false;
  }
  if (ok && !PublishTemporary(&temporary, target)) {
    error = FromErrno(errno);
    ok = false;
  }
  if (!ok) {
    DiscardTemporary(&temporary);
    return Fail(error);
  }
  SyncFolder(folder);
  return true;
}

std::string KeyPath(const char* subkey) {
  std::string path = std::string(kUsersRoot) + subkey;
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

}  // namespace

ErrorCode LastError() { return last_error; }

// ---- Registry -------------------------------------------------------------

bool RegistryCreateUsersKey(const char* subkey, const char* /*class_name*/,
                            unsigned long access, RegistryKey** key) {
  if (subkey == nullptr || key == nullptr) return Fail(kErrorInvalidParameter);
  std::string file;
  if (!RegistryFilePath(&file)) return Fail(kErrorPathNotFound);
  const std::string path = KeyPath(subkey);
  regfile::Document document;
  bool missing = false;
  if (!LoadRegistry(file, &document, &missing)) return false;
  if (regfile::FindKey(&document, path) == nullptr) {
    // As RegCreateKeyExA: created whatever the access asked for.
    regfile::AddKey(&document, path);
    if (missing && !MakeFolders(FolderOf(file))) return false;
    if (!StoreRegistry(file, document)) return false;
  }
  *key = new RegistryKey{file, path, access};
  return Succeed();
}

bool RegistryQueryValue(RegistryKey* key, const char* name, unsigned char* data,
                        unsigned long* size) {
  if (key == nullptr) return Fail(kErrorInvalidHandle);
  if (size == nullptr && data != nullptr) return Fail(kErrorInvalidParameter);
  regfile::Document document;
  bool missing = false;
  if (!LoadRegistry(key->file, &document, &missing)) return false;
  const regfile::Key* found = regfile::FindKey(&document, key->path);
  if (found == nullptr) return Fail(kErrorFileNotFound);
  const regfile::Value* value =
      regfile::FindValue(*found, name == nullptr ? "" : name);
  if (value == nullptr) return Fail(kErrorFileNotFound);
  if (size == nullptr) return Succeed();
  const unsigned long length = static_cast<unsigned long>(value->data.size());
  if (data == nullptr) {
    *size = length;
    return Succeed();
  }
  if (length > *size) {
    *size = length;
    return Fail(kErrorMoreData);
  }
  if (length > 0) std::memcpy(data, value->data.data(), length);
  *size = length;
  return Succeed();
}

bool RegistrySetValue(RegistryKey* key, const char* name, unsigned long type,
                      const unsigned char* data, unsigned long size) {
  if (key == nullptr) return Fail(kErrorInvalidHandle);
  if ((key->access & kKeySetValue) == 0) return Fail(kErrorAccessDenied);
  if (data == nullptr && size != 0) return Fail(kErrorInvalidParameter);
  // Read afresh: what is written is the file as it stands now, with this
  // one value changed.
  regfile::Document document;
  bool missing = false;
  if (!LoadRegistry(key->file, &document, &missing)) return false;
  regfile::SetValue(regfile::AddKey(&document, key->path),
                    name == nullptr ? "" : name, type, data, size);
  if (!StoreRegistry(key->file, document)) return false;
  return Succeed();
}

void RegistryCloseKey(RegistryKey* key) { delete key; }

// ---- Files ----------------------------------------------------------------

bool GetAttributes(const char* path, unsigned long* attributes) {
  if (attributes == nullptr) return Fail(kErrorInvalidParameter);
  Resolution resolution;
  if (!ResolveExisting(path, &resolution)) return false;
  struct stat info;
  if (stat(resolution.path.c_str(), &info) != 0) return FailErrno(errno);
  *attributes = AttributesFrom(info, resolution.path, resolution.name);
  return Succeed();
}

bool SearchFirst(const char* pattern, Search** search, FoundEntry* entry) {
  if (pattern == nullptr || search == nullptr || entry == nullptr) {
    return Fail(kErrorInvalidParameter);
  }
  const Resolution resolution =
      posix_path::Resolve(pattern, LastComponent::kPattern);
  if (!CheckResolved(resolution)) return false;
  if (resolution.name.empty() || resolution.trailing_separator) {
    return Fail(kErrorFileNotFound);
  }
  DIR* dir = opendir(resolution.folder.c_str());
  if (dir == nullptr) {
    if (errno == ENOENT || errno == ENOTDIR) return Fail(kErrorPathNotFound);
    return FailErrno(errno);
  }
  std::vector<std::string> names;
  for (struct dirent* found = readdir(dir); found != nullptr;
       found = readdir(dir)) {
    const std::string name = found->d_name;
    if (name == "." || name == "..") continue;
    // A name that FoundEntry cannot hold whole is skipped, never cut.
    if (name.size() >= kFoundNameCapacity) continue;
    if (posix_path::MatchesPattern(resolution.name, name)) {
      names.push_back(name);
    }
  }
  closedir(dir);
  std::sort(names.begin(), names.end(), posix_path::NameLess);

  Search* result = new Search{{}, 0};
  for (const std::string& name : names) {
    const std::string path = posix_path::Join(resolution.folder, name);
    struct stat info;
    // A dangling link is listed as the link itself; an entry that vanished
    // since the listing is left out.
    if (stat(path.c_str(), &info) != 0 && lstat(path.c_str(), &info) != 0) {
      continue;
    }
    FoundEntry found;
    std::memcpy(found.name, name.c_str(), name.size() + 1);
    found.attributes = AttributesFrom(info, path, name);
    result->entries.push_back(found);
  }
  if (result->entries.empty()) {
    delete result;
    return Fail(kErrorFileNotFound);
  }
  *entry = result->entries[0];
  result->next = 1;
  *search = result;
  return Succeed();
}

bool SearchNext(Search* search, FoundEntry* entry) {
  if (search == nullptr) return Fail(kErrorInvalidHandle);
  if (entry == nullptr) return Fail(kErrorInvalidParameter);
  if (search->next >= search->entries.size()) return Fail(kErrorNoMoreFiles);
  *entry = search->entries[search->next++];
  return Succeed();
}

void SearchClose(Search* search) { delete search; }

bool CreateFolder(const char* path) {
  if (path == nullptr) return Fail(kErrorInvalidParameter);
  const Resolution resolution =
      posix_path::Resolve(path, LastComponent::kLookUp);
  if (!CheckResolved(resolution)) return false;
  // Whatever the existing entry is, as CreateDirectoryA says.
  if (resolution.exists) return Fail(kErrorAlreadyExists);
  if (mkdir(resolution.path.c_str(), kNewFolderMode) != 0) {
    return FailErrno(errno);
  }
  return Succeed();
}

bool CopyFileOver(const char* from, const char* to) {
  Resolution source;
  if (!ResolveExisting(from, &source)) return false;
  // Non-blocking so that a FIFO cannot hang the open; cleared below.
  const int in =
      open(source.path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (in < 0) return FailErrno(errno);
  struct stat source_info;
  if (fstat(in, &source_info) != 0) {
    const int error = errno;
    close(in);
    return FailErrno(error);
  }
  if (!S_ISREG(source_info.st_mode)) {
    close(in);
    return Fail(kErrorAccessDenied);
  }
  fcntl(in, F_SETFL, fcntl(in, F_GETFL) & ~O_NONBLOCK);

  if (to == nullptr) {
    close(in);
    return Fail(kErrorInvalidParameter);
  }
  const Resolution target = posix_path::Resolve(to, LastComponent::kLookUp);
  if (!CheckResolved(target)) {
    close(in);
    return false;
  }
  struct stat target_info;
  const bool replacing =
      target.exists && stat(target.path.c_str(), &target_info) == 0;
  if (replacing) {
    ErrorCode refusal = kErrorSuccess;
    if (S_ISDIR(target_info.st_mode)) refusal = kErrorAccessDenied;
    // Root could write it; Windows refuses a read-only file to everyone.
    if (IsReadOnly(target_info)) refusal = kErrorAccessDenied;
    // CopyFileA holds the source open without write sharing, so the
    // target's open fails.
    if (target_info.st_dev == source_info.st_dev &&
        target_info.st_ino == source_info.st_ino) {
      refusal = kErrorSharingViolation;
    }
    if (refusal == kErrorSuccess && S_ISREG(target_info.st_mode)) {
      refusal = InUseByOthers(target.path);
    }
    if (refusal != kErrorSuccess) {
      close(in);
      return Fail(refusal);
    }
  }

  Temporary temporary;
  if (!OpenTemporary(target.folder, kCopyTempName, &temporary)) {
    const int error = errno;
    close(in);
    return FailErrno(error);
  }
  const int out = temporary.fd;
  ErrorCode error = kErrorSuccess;
  bool ok = CopyData(in, out, &error);
  close(in);

  if (ok) {
    std::vector<char> dos(kDosAttributeMaxBytes);
    const ssize_t dos_size = getxattr(source.path.c_str(), kDosAttributeName,
                                      dos.data(), dos.size());
    // Set before the permission bits: a read-only file refuses it.
    if (dos_size > 0 &&
        fsetxattr(out, kDosAttributeName, dos.data(),
                  static_cast<std::size_t>(dos_size), 0) != 0 &&
        errno != ENOTSUP) {
      error = FromErrno(errno);
      ok = false;
    }
  }
  // Overwriting keeps the target's owner, as writing into it would.
  if (ok && replacing && geteuid() == 0 &&
      fchown(out, target_info.st_uid, target_info.st_gid) != 0) {
    error = FromErrno(errno);
    ok = false;
  }
  if (ok && fchmod(out, source_info.st_mode & kPermissionBits) != 0) {
    error = FromErrno(errno);
    ok = false;
  }
  if (ok) {
    const struct timespec times[2] = {source_info.st_atim, source_info.st_mtim};
    if (futimens(out, times) != 0) {
      error = FromErrno(errno);
      ok = false;
    }
  }
  if (ok && posix_syscalls::calls.fsync(out) != 0) {
    error = FromErrno(errno);
    ok = false;
  }
  if (ok && !PublishTemporary(&temporary, target.path)) {
    error = FromErrno(errno);
    ok = false;
  }
  if (!ok) {
    DiscardTemporary(&temporary);
    return Fail(error);
  }
  SyncFolder(target.folder);
  return Succeed();
}

bool DeleteOneFile(const char* path) {
  Resolution resolution;
  if (!ResolveExisting(path, &resolution)) return false;
  struct stat info;
  if (lstat(resolution.path.c_str(), &info) != 0) return FailErrno(errno);
  if (S_ISDIR(info.st_mode) || IsReadOnly(info)) {
    return Fail(kErrorAccessDenied);
  }
  if (unlink(resolution.path.c_str()) != 0) return FailErrno(errno);
  return Succeed();
}

bool RemoveFolder(const char* path) {
  Resolution resolution;
  if (!ResolveExisting(path, &resolution)) return false;
  if (rmdir(resolution.path.c_str()) != 0) {
    // POSIX lets rmdir report a folder that is not empty either way.
    return FailErrno(errno == EEXIST ? ENOTEMPTY : errno);
  }
  return Succeed();
}

bool ProbeOpenForUpdate(const char* path) {
  Resolution resolution;
  if (!ResolveExisting(path, &resolution)) return false;
  struct stat info;
  if (stat(resolution.path.c_str(), &info) != 0) return FailErrno(errno);
  if (S_ISDIR(info.st_mode) || IsReadOnly(info)) {
    return Fail(kErrorAccessDenied);
  }
  // A running executable gives ETXTBSY here, Windows' sharing violation.
  const int fd =
      open(resolution.path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return FailErrno(errno);
  const ErrorCode in_use = InUseByOthers(fd);
  close(fd);
  if (in_use != kErrorSuccess) return Fail(in_use);
  return Succeed();
}

bool OpenReadFile(const char* path, ReadFile** file) {
  if (file == nullptr) return Fail(kErrorInvalidParameter);
  Resolution resolution;
  if (!ResolveExisting(path, &resolution)) return false;
  const int fd = open(resolution.path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return FailErrno(errno);
  struct stat info;
  if (fstat(fd, &info) != 0) {
    const int error = errno;
    close(fd);
    return FailErrno(error);
  }
  if (S_ISDIR(info.st_mode)) {
    close(fd);
    return Fail(kErrorAccessDenied);
  }
  *file = new ReadFile{fd};
  return Succeed();
}

bool ReadBytes(ReadFile* file, unsigned char* buffer, std::size_t capacity,
               std::size_t* got) {
  if (file == nullptr) return Fail(kErrorInvalidHandle);
  if (got == nullptr || (buffer == nullptr && capacity != 0)) {
    return Fail(kErrorInvalidParameter);
  }
  for (;;) {
    const ssize_t count = read(file->fd, buffer, capacity);
    if (count >= 0) {
      *got = static_cast<std::size_t>(count);
      return Succeed();
    }
    if (errno != EINTR) return FailErrno(errno);
  }
}

void CloseReadFile(ReadFile* file) {
  if (file == nullptr) return;
  close(file->fd);
  delete file;
}

// ---- User interface -------------------------------------------------------

void ShowMessageBox(const char* text, const char* caption) {
  // MessageBoxA titles a box without caption "Error".
  std::string block = "+-- ";
  block += caption == nullptr ? "Error" : caption;
  block += "\n";
  const std::string body = text == nullptr ? "" : text;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = body.find('\n', start);
    const std::string line = body.substr(
        start, end == std::string::npos ? std::string::npos : end - start);
    block += line.empty() ? "|" : "| " + line;
    block += "\n";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  block += "+--\n";
  // Anything the process left in stdio's buffer goes first.
  std::fflush(stderr);
  ErrorCode ignored = kErrorSuccess;
  WriteAll(STDERR_FILENO, reinterpret_cast<const unsigned char*>(block.data()),
           block.size(), &ignored);
}

}  // namespace platform
