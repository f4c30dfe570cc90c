// The rules that decide what an update does with each entry.
#include <cstring>
#include <string>

#include "deploy/paths.h"
#include "deploy/update.h"
#include "gtest/gtest.h"
#include "run/updater.h"
#include "settings/settings.h"

namespace {

UpdateEntry Entry(const std::string& module, const std::string& folder,
                  const std::string& action = "") {
  UpdateEntry entry = {};
  std::strcpy(entry.module_name, module.c_str());
  std::strcpy(entry.folder_word, folder.c_str());
  std::strcpy(entry.action_word, action.c_str());
  return entry;
}

std::string Extension(const std::string& name) {
  char extension[kExtensionCapacity];
  ModuleExtension(name.c_str(), extension, sizeof extension);
  return extension;
}

TEST(DeployRules, Extension) {
  const std::pair<const char*, const char*> cases[] = {
      {"core.dll", ".dll"}, {"CORE.DLL", ".DLL"},
      {"a.b.exe", ".exe"},  {"noext", ""},
      {"dir.d\\noext", ""}, {"dir.d/noext", ""},
      {"trail.", "."},      {".", ""},
      {"..", ""},           {".dll", ".dll"},
      {"sub\\..", ""},      {"C:core.dll", ".dll"},
      {"C:", ""},           {"", ""},
      {"x.tar.gz", ".gz"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Extension(c.first), c.second) << c.first;
}

TEST(DeployRules, InstallDecision) {
  struct Case {
    const char* module;
    const char* action;
    bool target_exists;
    bool installed;
  };
  const Case cases[] = {
      {"notes.txt", "", false, true},
      {"notes", "", false, true},
      {"a.DLL", "", false, true},
      {"a.dll", "_AddModule", false, true},
      {"a.exe", "_ADDMODULE", false, true},
      {"a.dll", "", true, true},
      {"a.exe", "other", true, true},
      {"a.dll", "", false, false},
      {"a.exe", "_AddModules", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShouldInstall(Entry(c.module, "x", c.action), c.target_exists),
              c.installed)
        << c.module << " " << c.action << " " << c.target_exists;
  }
}

TEST(DeployRules, BackupOnlyForLowerCaseDllsOfElmdll) {
  EXPECT_TRUE(IsBackedUp(Entry("a.dll", "elmdll")));
  EXPECT_FALSE(IsBackedUp(Entry("a.DLL", "elmdll")));
  EXPECT_FALSE(IsBackedUp(Entry("a.dll", "ELMDLL")));
  EXPECT_FALSE(IsBackedUp(Entry("a.exe", "elmdll")));
  EXPECT_FALSE(IsBackedUp(Entry("a.dll", "root")));
}

TEST(DeployRules, TargetPaths) {
  std::strcpy(install_dir, "C:\\Velmora");
  char path[kPathCapacity];
  ASSERT_TRUE(ResolveTargetPath(Entry("v.exe", "root"), path, sizeof path));
  EXPECT_STREQ(path, "C:\\Velmora\\v.exe");
  ASSERT_TRUE(ResolveTargetPath(Entry("a.dll", "elmdll"), path, sizeof path));
  EXPECT_STREQ(path, "C:\\Velmora\\elmdll\\a.dll");
  ASSERT_TRUE(ResolveTargetPath(Entry("a.txt", ""), path, sizeof path));
  EXPECT_STREQ(path, "C:\\Velmora\\\\a.txt");
  ASSERT_TRUE(ResolveTargetPath(Entry("a.txt", "Root"), path, sizeof path));
  EXPECT_STREQ(path, "C:\\Velmora\\Root\\a.txt");
  ASSERT_TRUE(FormatBackupPath(Entry("a.dll", "elmdll"), path, sizeof path));
  EXPECT_STREQ(path, "C:\\Velmora\\Backup\\a.dll");

  // 259 characters fit, 260 do not, and nothing is cut.
  const std::string fits(259 - std::strlen("C:\\Velmora\\"), 'n');
  ASSERT_TRUE(ResolveTargetPath(Entry(fits, "root"), path, sizeof path));
  EXPECT_EQ(std::strlen(path), 259u);
  EXPECT_FALSE(ResolveTargetPath(Entry(fits + "n", "root"), path, sizeof path));
  EXPECT_STREQ(path, "");
  install_dir[0] = '\0';
}

TEST(DeployRules, UnsafeRelativePaths) {
  const std::pair<const char*, bool> cases[] = {
      {"core.dll", false},
      {"sub\\core.dll", false},
      {"a..b.dll", false},
      {".hidden", false},
      {"", false},
      {".", false},
      {"..", true},
      {"..\\x", true},
      {"x/../../y", true},
      {"x\\..", true},
      {"...", true},
      {"x\\....\\y", true},
      {"\\x", true},
      {"/x", true},
      {"C:x", true},
      {"c:\\x", true},
      {"\\\\server\\share", true},
      {"x:stream", true},
      {"sub\\x:y", true},
      {"CON", true},
      {"con.txt", true},
      {"sub\\Nul\\x", true},
      {"COM1", true},
      {"lpt9.dll", true},
      {"aux.", true},
      {"COM0", false},
      {"COM", false},
      {"CONSOLE", false},
      {"icon", false},
      {"sub\\connect.dll", false},
      {"LPT10", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsUnsafeRelativePath(c.first), c.second) << c.first;
  }
}

TEST(DeployRules, RemoveArgument) {
  const std::pair<const char*, bool> cases[] = {
      {"remove", true},  {"REMOVE", true},      {"ReMoVe", true},
      {"removed", true}, {"remove now", true},  {"remov", false},
      {"", false},       {"\"remove\"", false}, {" remove", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsRemoveArgument(c.first), c.second) << c.first;
  }
}

}  // namespace
