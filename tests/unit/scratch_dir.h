// A throwaway folder for the unit tests of the POSIX backend, and whole-file
// reads and writes in it. Test support only: nothing here is part of the
// tool, and it leans on POSIX freely.
#ifndef VELMORA_TESTS_UNIT_SCRATCH_DIR_H
#define VELMORA_TESTS_UNIT_SCRATCH_DIR_H

#include <ftw.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace scratch {

// A fresh folder /tmp/<prefix>-XXXXXX, made on construction and removed with
// everything below it on destruction. path() is empty when the folder could
// not be made.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (mkdtemp(&pattern[0]) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    if (path_.empty()) return;
    // Depth first and without following links: a link a test leaves behind
    // is removed, never what it points at.
    nftw(path_.c_str(), RemoveEntry, kOpenFolders, FTW_DEPTH | FTW_PHYS);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string At(const std::string& relative) const {
    return path_ + "/" + relative;
  }

 private:
  // Folders nftw may hold open at once while it walks the tree.
  static constexpr int kOpenFolders = 16;

  static int RemoveEntry(const char* path, const struct stat*, int,
                         struct FTW*) {
    return std::remove(path);
  }

  std::string path_;
};

// A fixture whose every test works in a scratch folder of its own, root_.
// SetUp fails the test before its body runs when the folder is missing, so
// that no test writes below "/".
class ScratchTest : public ::testing::Test {
 protected:
  explicit ScratchTest(const std::string& prefix)
      : scratch_(prefix), root_(scratch_.path()) {}
  void SetUp() override {
    ASSERT_FALSE(root_.empty()) << "cannot make a folder under /tmp";
  }
  std::string At(const std::string& relative) const {
    return scratch_.At(relative);
  }

  const ScratchDir scratch_;  // declared first: root_ is taken from it
  const std::string root_;
};

// The whole content of a file; empty when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Replaces the content of a file, creating it if needed. False when any of
// it could not be written.
inline bool WriteWholeFile(const std::string& path,
                           const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  return static_cast<bool>(out);
}

}  // namespace scratch

#endif  // VELMORA_TESTS_UNIT_SCRATCH_DIR_H
