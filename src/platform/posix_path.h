// Windows-style path resolution on POSIX: turns a path of the platform
// interface (backslashes or slashes, names in any letter case) into the
// path of the file that Windows would have opened.
//
// It only looks names up; it reports system errors as errno values and
// leaves their translation to Windows numbers to the backend.
#ifndef VELMORA_PLATFORM_POSIX_PATH_H
#define VELMORA_PLATFORM_POSIX_PATH_H

#include <string>

namespace posix_path {

enum class LastComponent {
  kLookUp,   // a name: looked up like every other component
  kPattern,  // a search pattern: taken as written, wildcards allowed
};

enum class Outcome {
  kResolved,       // every folder on the way was found
  kInvalidName,    // a character Windows forbids in names
  kFolderMissing,  // a folder on the way is missing or is not a folder
  kSystemError,    // a lookup failed; system_error holds errno
};

struct Resolution {
  Outcome outcome = Outcome::kSystemError;
  int system_error = 0;
  // Defined for kResolved. `folder` holds the last component (never empty:
  // "." or "/" at the top), `name` is that component as found on disk, or
  // as written when it is missing or a pattern, and `path` is what to hand
  // to the system (with a trailing slash when the input ended with a
  // separator, so that only a folder can match it).
  std::string folder;
  std::string name;
  std::string path;
  bool exists = false;  // the last component was found (kLookUp only)
  bool trailing_separator = false;  // the input ended with a separator
};

// Resolves `path`: both separators split, repeated ones collapse, a leading
// one makes the path absolute (else it is relative to the current folder).
// A component that does not exist exactly as written is matched ignoring
// ASCII case; of several candidates the first in byte order wins. An empty
// path gives kFolderMissing, as it names no file at all.
Resolution Resolve(const char* path, LastComponent last);

// The path of `name` inside `folder` ("." and "/" as Resolve gives them).
std::string Join(const std::string& folder, const std::string& name);

// True when `name` matches `pattern`: `*` any run of characters, `?`
// exactly one, all else equal ignoring ASCII case.
bool MatchesPattern(const std::string& pattern, const std::string& name);

// Ordering of names ignoring ASCII case (compared as upper case, as NTFS
// orders them), ties broken by byte order.
bool NameLess(const std::string& a, const std::string& b);

}  // namespace posix_path

#endif  // VELMORA_PLATFORM_POSIX_PATH_H
