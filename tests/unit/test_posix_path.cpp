// Windows-style path resolution on POSIX: separators, names matched
// ignoring case, missing folders against missing names, forbidden names.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/posix_path.h"
#include "scratch_dir.h"

namespace {

using posix_path::LastComponent;
using posix_path::Outcome;
using posix_path::Resolution;
using posix_path::Resolve;

class PosixPathTest : public scratch::ScratchTest {
 protected:
  PosixPathTest() : ScratchTest("velmora-path") {}
  void MakeFolder(const std::string& relative) {
    ASSERT_EQ(mkdir((root_ + "/" + relative).c_str(), 0755), 0) << relative;
  }
  void MakeFile(const std::string& relative) {
    const int fd =
        open((root_ + "/" + relative).c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0) << relative;
    close(fd);
  }
};

TEST_F(PosixPathTest, MatchesEachComponentIgnoringCase) {
  MakeFolder("Install");
  MakeFolder("Install/ElmDll");
  MakeFile("Install/ElmDll/Core.DLL");
  const Resolution found = Resolve(
      (root_ + "\\INSTALL\\elmdll\\core.dll").c_str(), LastComponent::kLookUp);
  ASSERT_EQ(found.outcome, Outcome::kResolved);
  EXPECT_TRUE(found.exists);
  EXPECT_EQ(found.path, root_ + "/Install/ElmDll/Core.DLL");
  EXPECT_EQ(found.folder, root_ + "/Install/ElmDll");
  EXPECT_EQ(found.name, "Core.DLL");
}

TEST_F(PosixPathTest, PrefersTheExactNameThenTheFirstInByteOrder) {
  MakeFile("data");
  MakeFile("Data");
  MakeFile("DATA");
  const Resolution exact =
      Resolve((root_ + "/data").c_str(), LastComponent::kLookUp);
  EXPECT_EQ(exact.name, "data");
  const Resolution folded =
      Resolve((root_ + "/dATA").c_str(), LastComponent::kLookUp);
  EXPECT_EQ(folded.name, "DATA");
  ASSERT_EQ(unlink((root_ + "/DATA").c_str()), 0);
  const Resolution next =
      Resolve((root_ + "/dATA").c_str(), LastComponent::kLookUp);
  EXPECT_EQ(next.name, "Data");
}

TEST_F(PosixPathTest, NewNamesKeepTheirSpellingInTheFoundFolder) {
  MakeFolder("Backup");
  const Resolution missing =
      Resolve((root_ + "/backup/New.Dll").c_str(), LastComponent::kLookUp);
  ASSERT_EQ(missing.outcome, Outcome::kResolved);
  EXPECT_FALSE(missing.exists);
  EXPECT_EQ(missing.path, root_ + "/Backup/New.Dll");
}

TEST_F(PosixPathTest, SeparatorsMixAndCollapse) {
  MakeFolder("a");
  MakeFile("a/b");
  for (const std::string& path : {root_ + "\\a\\b", root_ + "//a\\\\/b",
                                  "\\\\" + root_.substr(1) + "/a/b"}) {
    const Resolution found = Resolve(path.c_str(), LastComponent::kLookUp);
    EXPECT_EQ(found.outcome, Outcome::kResolved) << path;
    EXPECT_TRUE(found.exists) << path;
    EXPECT_EQ(found.path, root_ + "/a/b") << path;
  }
  const Resolution folder =
      Resolve((root_ + "\\A\\").c_str(), LastComponent::kLookUp);
  EXPECT_TRUE(folder.exists);
  EXPECT_EQ(folder.path, root_ + "/a/");
  const Resolution top = Resolve("\\", LastComponent::kLookUp);
  EXPECT_EQ(top.outcome, Outcome::kResolved);
  EXPECT_EQ(top.path, "/");
}

TEST_F(PosixPathTest, RelativePathsStartAtTheCurrentFolder) {
  MakeFolder("Update");
  MakeFile("Update/VlmFile.upd");
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(root_.c_str()), 0);
  const Resolution found =
      Resolve("update\\vlmfile.UPD", LastComponent::kLookUp);
  const Resolution bare = Resolve("Update", LastComponent::kLookUp);
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_TRUE(found.exists);
  EXPECT_EQ(found.path, "Update/VlmFile.upd");
  EXPECT_EQ(bare.folder, ".");
  EXPECT_EQ(bare.path, "Update");
}

TEST_F(PosixPathTest, AMissingFolderIsNotAMissingName) {
  MakeFile("file");
  struct Case {
    std::string path;
    Outcome outcome;
    bool exists;
  };
  const Case cases[] = {
      {root_ + "/missing/name", Outcome::kFolderMissing, false},
      {root_ + "/missing/deeper/name", Outcome::kFolderMissing, false},
      {root_ + "/file/name", Outcome::kFolderMissing, false},
      {root_ + "/name", Outcome::kResolved, false},
      {"", Outcome::kFolderMissing, false},
  };
  for (const Case& c : cases) {
    const Resolution result = Resolve(c.path.c_str(), LastComponent::kLookUp);
    EXPECT_EQ(result.outcome, c.outcome) << c.path;
    if (result.outcome == Outcome::kResolved) {
      EXPECT_EQ(result.exists, c.exists) << c.path;
    }
  }
}

TEST_F(PosixPathTest, ForbiddenCharactersMakeTheNameInvalid) {
  MakeFolder("dir");
  const std::string forbidden[] = {"<", ">", ":",    "\"", "|",
                                   "?", "*", "\x01", "\t", "\x1f"};
  for (const std::string& c : forbidden) {
    const std::string last = root_ + "/dir/a" + c + "b";
    EXPECT_EQ(Resolve(last.c_str(), LastComponent::kLookUp).outcome,
              Outcome::kInvalidName)
        << c;
    // Even below a folder that does not exist: the name is checked first.
    const std::string middle = root_ + "/no" + c + "pe/file";
    EXPECT_EQ(Resolve(middle.c_str(), LastComponent::kLookUp).outcome,
              Outcome::kInvalidName)
        << c;
    EXPECT_EQ(Resolve(middle.c_str(), LastComponent::kPattern).outcome,
              Outcome::kInvalidName)
        << c;
  }
  // A pattern may hold anything in its last component.
  const Resolution pattern =
      Resolve((root_ + "/DIR/*.d?l").c_str(), LastComponent::kPattern);
  EXPECT_EQ(pattern.outcome, Outcome::kResolved);
  EXPECT_EQ(pattern.folder, root_ + "/dir");
  EXPECT_EQ(pattern.name, "*.d?l");
  // Characters that are fine on Windows stay fine.
  EXPECT_EQ(
      Resolve((root_ + "/a b+c,d;e=f[g]h\xE9").c_str(), LastComponent::kLookUp)
          .outcome,
      Outcome::kResolved);
}

TEST(PosixPathPattern, MatchesWildcardsIgnoringCase) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      {"*.dll", "core.dll", true},
      {"*.dll", "CORE.DLL", true},
      {"*.dll", ".dll", true},
      {"*.dll", "core.dll.old", false},
      {"*.dll", "core.dl", false},
      {"*", "", true},
      {"*", "anything", true},
      {"?", "a", true},
      {"?", "", false},
      {"?", "ab", false},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"*a*b*", "xxaxxbxx", true},
      {"*a*b*", "xxbxxaxx", false},
      {"**x", "x", true},
      {"*.*", "noext", false},
      {"Core.dll", "core.DLL", true},
      {"c*e*.dll", "core.elm.dll", true},
      {"\xC9", "\xE9", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(posix_path::MatchesPattern(c.pattern, c.name), c.matches)
        << c.pattern << " " << c.name;
  }
}

TEST(PosixPathPattern, OrdersNamesIgnoringCaseThenByBytes) {
  EXPECT_TRUE(posix_path::NameLess("a.dll", "B.dll"));
  EXPECT_TRUE(posix_path::NameLess("A.dll", "a.dll"));
  EXPECT_FALSE(posix_path::NameLess("a.dll", "A.dll"));
  EXPECT_TRUE(posix_path::NameLess("ab", "ABC"));
  EXPECT_FALSE(posix_path::NameLess("x", "x"));
  // '_' lies between the cases in byte order; folded, it follows letters.
  EXPECT_TRUE(posix_path::NameLess("Z", "_"));
}

}  // namespace
