// Removal mode, run end to end.
#include <algorithm>
#include <string>
#include <vector>

#include "expect.h"
#include "harness.h"

namespace e2e {
namespace {

class Remove : public ::testing::Test {
 protected:
  void SetUp() override {
    box.WriteRegistryPath(box.install());
    box.MakeFolder("install/elmdll");
  }
  Message DeleteFailure(const std::string& name, unsigned long error) const {
    return {"Refit4 WinMain", "DeleteFile=" + box.ToolInstallDir() +
                                  "\\Backup\\" + name +
                                  ", error=" + std::to_string(error) + "\n"};
  }
  Sandbox box;
};

TEST_F(Remove, UpdateThenRemoveLeavesNoBackup) {
  box.Write("install/elmdll/a.dll", "old a");
  box.Write("install/elmdll/b.dll", "old b");
  box.Write("update/vlmfile.upd", "a.dll elmdll\nb.dll elmdll\n");
  box.Write("update/a.dll", "new a");
  box.Write("update/b.dll", "new b");
  ExpectMessages(box.Run({}), {Summary("a.dll\nb.dll\n")});
  ASSERT_EQ(box.Read("install/Backup/a.dll"), "old a");
  ExpectMessages(box.Run({"remove"}), {});
  EXPECT_FALSE(box.Exists("install/Backup"));
  EXPECT_EQ(box.Read("install/elmdll/a.dll"), "new a");
}

TEST_F(Remove, OnlyDllsGoAndTheFolderStaysWhenOthersRemain) {
  box.MakeFolder("install/Backup");
  box.Write("install/Backup/a.dll", "a");
  box.Write("install/Backup/B.DLL", "b");
  box.Write("install/Backup/keep.txt", "k");
  ExpectMessages(box.Run({"remove"}), {});
  EXPECT_FALSE(box.Exists("install/Backup/a.dll"));
  EXPECT_FALSE(box.Exists("install/Backup/B.DLL"));
  EXPECT_EQ(box.Read("install/Backup/keep.txt"), "k");
}

TEST_F(Remove, EmptyOrMissingBackupFolderIsSilent) {
  ExpectMessages(box.Run({"remove"}), {});
  box.MakeFolder("install/Backup");
  ExpectMessages(box.Run({"remove"}), {});
  EXPECT_FALSE(box.Exists("install/Backup"));
}

TEST_F(Remove, UndeletableEntriesAreReportedAndKept) {
  box.MakeFolder("install/Backup");
  box.Write("install/Backup/a.dll", "a");
  box.Write("install/Backup/locked.dll", "l");
  box.SetReadOnly("install/Backup/locked.dll");
  box.MakeFolder("install/Backup/folder.dll");
  box.Write("install/Backup/z.dll", "z");
  // The search returns every kind of entry, in the order the file system
  // gives: compare the reports in name order.
  RunResult result = box.Run({"remove"});
  std::sort(result.messages.begin(), result.messages.end(),
            [](const Message& a, const Message& b) { return a.text < b.text; });
  ExpectMessages(
      result, {DeleteFailure("folder.dll", 5), DeleteFailure("locked.dll", 5)});
  EXPECT_FALSE(box.Exists("install/Backup/a.dll"));
  EXPECT_FALSE(box.Exists("install/Backup/z.dll"));
  EXPECT_EQ(box.Read("install/Backup/locked.dll"), "l");
  EXPECT_TRUE(box.IsFolder("install/Backup/folder.dll"));
}

TEST_F(Remove, NeverReadsTheManifest) {
  box.MakeFolder("install/Backup");
  box.Write("install/Backup/a.dll", "a");
  box.Write("update/vlmfile.upd", "x.txt root\n");
  box.Write("update/x.txt", "x");
  ExpectMessages(box.Run({"Remove"}), {});
  EXPECT_FALSE(box.Exists("install/x.txt"));
  EXPECT_FALSE(box.Exists("install/Backup"));
}

TEST(RemoveLongPaths, ABackupWhosePathWouldBeCutIsReportedAndKept) {
  Sandbox box;
  // The search pattern fits (240 + "\Backup\*.dll" is 253), but the
  // long name's path does not fit 255 characters and must not be cut.
  const std::string dir = box.root() + "/" + box.MakeFolderOfLength(240);
  box.WriteRegistryPath(dir);
  const std::string backup = dir.substr(box.root().size() + 1) + "/Backup";
  box.MakeFolder(backup);
  box.Write(backup + "/a.dll", "a");
  box.Write(backup + "/long-backup-name.dll", "long");
  const std::string tool_dir =
      ToolSeesWindowsPaths()
          ? box.ToolInstallDir() + dir.substr(box.install().size())
          : dir;
  std::string shown = tool_dir + "\\Backup\\long-backup-name.dll";
  if (ToolSeesWindowsPaths())
    std::replace(shown.begin(), shown.end(), '/', '\\');
  ExpectMessages(box.Run({"remove"}),
                 {{"Refit4 WinMain", "DeleteFile=" + shown + ", error=206\n"}});
  EXPECT_FALSE(box.Exists(backup + "/a.dll"));
  EXPECT_EQ(box.Read(backup + "/long-backup-name.dll"), "long");
}

}  // namespace
}  // namespace e2e
