// Windows-style path resolution on POSIX. Names are looked up one
// component at a time, so that each can fall back to a match ignoring case
// the way Windows file systems behave; new names are never altered.
#include "platform/posix_path.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace posix_path {
namespace {

// Characters Windows refuses in a name; refused here too so that both
// builds accept the same paths.
constexpr char kForbiddenInNames[] = "<>:\"|?*";
constexpr unsigned char kLastControlCharacter = 31;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsForbidden(char c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  return (byte >= 1 && byte <= kLastControlCharacter) ||
         std::strchr(kForbiddenInNames, c) != nullptr;
}

unsigned char FoldCase(char c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  return (byte >= 'A' && byte <= 'Z') ? byte - 'A' + 'a' : byte;
}

unsigned char UpperCase(char c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  return (byte >= 'a' && byte <= 'z') ? byte - 'a' + 'A' : byte;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

enum class Lookup { kFound, kMissing, kError };

// Finds `name` in `folder`: exactly as written when it exists so, else the
// first entry in byte order that equals it ignoring case.
Lookup FindEntry(const std::string& folder, const std::string& name,
                 std::string* found, int* error) {
  struct stat info;
  if (lstat(Join(folder, name).c_str(), &info) == 0) {
    *found = name;
    return Lookup::kFound;
  }
  if (errno != ENOENT) {
    *error = errno;
    return Lookup::kError;
  }
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    *error = errno;
    return Lookup::kError;
  }
  bool any = false;
  for (struct dirent* entry = readdir(dir); entry != nullptr;
       entry = readdir(dir)) {
    const std::string candidate = entry->d_name;
    if (candidate == "." || candidate == "..") continue;
    if (SameIgnoringCase(candidate, name) && (!any || candidate < *found)) {
      *found = candidate;
      any = true;
    }
  }
  closedir(dir);
  return any ? Lookup::kFound : Lookup::kMissing;
}

bool IsMissingFolder(int error) { return error == ENOENT || error == ENOTDIR; }

}  // namespace

std::string Join(const std::string& folder, const std::string& name) {
  if (folder == ".") return name;
  if (folder == "/") return "/" + name;
  return folder + "/" + name;
}

Resolution Resolve(const char* path, LastComponent last) {
  Resolution result;
  const std::string text = path == nullptr ? "" : path;
  std::vector<std::string> components;
  std::string current;
  for (char c : text) {
    if (IsSeparator(c)) {
      if (!current.empty()) components.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) components.push_back(current);
  const bool absolute = !text.empty() && IsSeparator(text[0]);
  const bool trailing_separator =
      !components.empty() && IsSeparator(text.back());
  result.trailing_separator = trailing_separator;

  for (std::size_t i = 0; i < components.size(); ++i) {
    if (i + 1 == components.size() && last == LastComponent::kPattern) break;
    for (char c : components[i]) {
      if (IsForbidden(c)) {
        result.outcome = Outcome::kInvalidName;
        return result;
      }
    }
  }

  if (components.empty()) {
    if (!absolute) {
      result.outcome = Outcome::kFolderMissing;
      return result;
    }
    result.outcome = Outcome::kResolved;
    result.folder = "/";
    result.path = "/";
    result.exists = last == LastComponent::kLookUp;
    return result;
  }

  std::string folder = absolute ? "/" : ".";
  for (std::size_t i = 0; i + 1 < components.size(); ++i) {
    std::string found;
    int error = 0;
    const Lookup lookup = FindEntry(folder, components[i], &found, &error);
    if (lookup == Lookup::kMissing ||
        (lookup == Lookup::kError && IsMissingFolder(error))) {
      result.outcome = Outcome::kFolderMissing;
      return result;
    }
    if (lookup == Lookup::kError) {
      result.system_error = error;
      return result;
    }
    folder = Join(folder, found);
  }

  result.name = components.back();
  if (last == LastComponent::kLookUp) {
    std::string found;
    int error = 0;
    const Lookup lookup = FindEntry(folder, result.name, &found, &error);
    if (lookup == Lookup::kError) {
      if (IsMissingFolder(error)) {
        result.outcome = Outcome::kFolderMissing;
      } else {
        result.system_error = error;
      }
      return result;
    }
    if (lookup == Lookup::kFound) {
      result.name = found;
      result.exists = true;
    }
  }
  result.outcome = Outcome::kResolved;
  result.folder = folder;
  result.path = Join(folder, result.name);
  if (trailing_separator) result.path += "/";
  return result;
}

bool MatchesPattern(const std::string& pattern, const std::string& name) {
  // Greedy matching with one backtrack point: the last star seen.
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star = std::string::npos;
  std::size_t star_name = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_name = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' ||
                FoldCase(pattern[p]) == FoldCase(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++star_name;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool NameLess(const std::string& a, const std::string& b) {
  // Folded to upper case, as NTFS orders a folder, so that '_' follows the
  // letters.
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned char x = UpperCase(a[i]);
    const unsigned char y = UpperCase(b[i]);
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

}  // namespace posix_path
