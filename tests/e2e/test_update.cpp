// Update mode, run end to end.
#include <string>
#include <vector>

#include "expect.h"
#include "harness.h"

namespace e2e {
namespace {

const Message kNoWriteAccess{
    "Velmora4 Update",
    "Update error: Because you does not have write access to update one or "
    "more module\nPlease contact your system administrator in order to have "
    "your access rights modified."};

Message CopyFailure(const std::string& name, unsigned long error) {
  return {"Update WinMain",
          "CopyFile=" + name + ", error=" + std::to_string(error) + "\n"};
}

// An installation with an "elmdll" folder and a root executable.
class Update : public ::testing::Test {
 protected:
  void SetUp() override {
    box.WriteRegistryPath(box.install());
    box.MakeFolder("install/elmdll");
    box.Write("install/elmdll/core.dll", "old core");
    box.Write("install/velmora.exe", "old exe");
  }
  Sandbox box;
};

TEST_F(Update, TypicalUpdateBacksUpInstallsAndRecordsTheBuild) {
  box.Write("update/vlmfile.upd",
            "core.dll elmdll\nvelmora.exe root\n_BuildNumber 4.2.1\n");
  box.Write("update/core.dll", "new core");
  box.Write("update/velmora.exe", "new exe");
  ExpectMessages(box.Run({}), {Summary("core.dll\nvelmora.exe\n"
                                       "Update BuildNumber to: 4.2.1\n")});
  EXPECT_EQ(box.Read("install/elmdll/core.dll"), "new core");
  EXPECT_EQ(box.Read("install/velmora.exe"), "new exe");
  EXPECT_EQ(box.Read("install/Backup/core.dll"), "old core");
  EXPECT_FALSE(box.Exists("install/Backup/velmora.exe"));
  unsigned long type = 0;
  std::vector<unsigned char> data;
  ASSERT_TRUE(box.RegistryValue("Build Number", &type, &data));
  EXPECT_EQ(type, 1u);  // REG_SZ
  EXPECT_EQ(data, SzData("4.2.1"));
  ASSERT_TRUE(box.RegistryValue("Path", &type, &data));
  EXPECT_EQ(data, SzData(box.install()));
}

TEST_F(Update, MissingManifestChangesNothing) {
  const auto before = box.Tree();
  ExpectMessages(box.Run({}), {{"Velmora4 Update",
                                "ERROR : File list (vlmfile.upd) not found"}});
  EXPECT_EQ(box.Tree(), before);
}

TEST_F(Update, ManifestNameMatchesIgnoringCase) {
  box.Write("update/VlmFile.UPD", "notes.txt root\n");
  box.Write("update/notes.txt", "n");
  ExpectMessages(box.Run({}), {Summary("notes.txt\n")});
  EXPECT_EQ(box.Read("install/notes.txt"), "n");
}

TEST_F(Update, ReadOnlyInstalledModuleRefusesTheWholeUpdate) {
  box.Write("install/elmdll/extra.dll", "old extra");
  box.SetReadOnly("install/elmdll/extra.dll");
  box.Write("update/vlmfile.upd",
            "core.dll elmdll\nextra.dll elmdll\n_BuildNumber 9\n");
  box.Write("update/core.dll", "new core");
  box.Write("update/extra.dll", "new extra");
  const auto before = box.Tree();
  ExpectMessages(box.Run({}), {kNoWriteAccess});
  EXPECT_EQ(box.Tree(), before);
  unsigned long type = 0;
  std::vector<unsigned char> data;
  EXPECT_FALSE(box.RegistryValue("Build Number", &type, &data));
}

TEST_F(Update, PreCheckSkipsAddModuleHiddenSystemAndBuildNumberLines) {
  // Each of these targets is read-only, yet none is examined, so the
  // update goes ahead.
  box.Write("install/elmdll/added.dll", "old added");
  box.SetReadOnly("install/elmdll/added.dll");
  box.Write("install/elmdll/hidden.dll", "old hidden");
  box.SetDosAttributes("install/elmdll/hidden.dll", 0x2);
  box.SetReadOnly("install/elmdll/hidden.dll");
  box.Write("install/system.exe", "old system");
  box.SetDosAttributes("install/system.exe", 0x4);
  box.SetReadOnly("install/system.exe");
  box.Write("update/vlmfile.upd",
            "core.dll elmdll\n"
            "added.dll elmdll _addmodule\n"
            "hidden.dll elmdll\n"
            "system.exe root\n"
            "_BuildNumber 5\n");
  box.Write("update/core.dll", "new core");
  box.Write("update/added.dll", "new added");
  box.Write("update/hidden.dll", "new hidden");
  box.Write("update/system.exe", "new system");
  // The "_AddModule" copy onto its read-only target fails and is reported
  // after core.dll went in; hidden and system targets do not count as
  // installed, so those entries are skipped without a word.
  ExpectMessages(box.Run({}), {CopyFailure("added.dll", 5),
                               Summary("core.dll\n"
                                       "Update BuildNumber to: 5\n")});
  EXPECT_EQ(box.Read("install/elmdll/core.dll"), "new core");
  EXPECT_EQ(box.Read("install/elmdll/added.dll"), "old added");
  EXPECT_EQ(box.Read("install/elmdll/hidden.dll"), "old hidden");
  EXPECT_EQ(box.Read("install/system.exe"), "old system");
  // The hidden DLL is still backed up: the backup does not ask.
  EXPECT_EQ(box.Read("install/Backup/hidden.dll"), "old hidden");
}

TEST_F(Update, InstallDecisionFollowsExtensionActionWordAndTarget) {
  box.MakeFolder("install/plugins");
  box.Write("install/plugins/have.dll", "old have");
  box.Write("update/vlmfile.upd",
            "missing.dll plugins\n"
            "added.dll plugins _AddModule\n"
            "have.dll plugins\n"
            "new.exe root\n"
            "readme.txt plugins\n"
            "LICENSE root\n"
            "UPPER.DLL elmdll\n");
  for (const char* name : {"missing.dll", "added.dll", "have.dll", "new.exe",
                           "readme.txt", "LICENSE", "UPPER.DLL"}) {
    box.Write(std::string("update/") + name, std::string("new ") + name);
  }
  box.Write("install/elmdll/UPPER.DLL", "old upper");
  ExpectMessages(box.Run({}), {Summary("added.dll\nhave.dll\nreadme.txt\n"
                                       "LICENSE\nUPPER.DLL\n")});
  EXPECT_FALSE(box.Exists("install/plugins/missing.dll"));
  EXPECT_FALSE(box.Exists("install/new.exe"));
  EXPECT_EQ(box.Read("install/plugins/added.dll"), "new added.dll");
  EXPECT_EQ(box.Read("install/plugins/have.dll"), "new have.dll");
  EXPECT_EQ(box.Read("install/plugins/readme.txt"), "new readme.txt");
  EXPECT_EQ(box.Read("install/LICENSE"), "new LICENSE");
  EXPECT_EQ(box.Read("install/elmdll/UPPER.DLL"), "new UPPER.DLL");
  // An upper-case DLL extension is another kind of file: never backed up.
  EXPECT_FALSE(box.Exists("install/Backup/UPPER.DLL"));
  EXPECT_TRUE(box.IsFolder("install/Backup"));
}

TEST_F(Update, FailedCopiesAreReportedAndTheRunGoesOn) {
  box.Write("update/vlmfile.upd",
            "absent.txt root\n"
            "\n"
            "notes.txt nofolder\n"
            "after.txt root\n");
  box.Write("update/notes.txt", "n");
  box.Write("update/after.txt", "a");
  const RunResult result = box.Run({});
  // A blank line is an entry with an empty module name, whose copy fails.
  ASSERT_EQ(result.messages.size(), 4u) << result.err;
  ExpectMessages(result, {CopyFailure("absent.txt", 2), result.messages[1],
                          CopyFailure("notes.txt", 3), Summary("after.txt\n")});
  EXPECT_EQ(result.messages[1].caption, "Update WinMain");
  EXPECT_EQ(result.messages[1].text.rfind("CopyFile=, error=", 0), 0u)
      << result.messages[1].text;
  EXPECT_EQ(box.Read("install/after.txt"), "a");
  EXPECT_FALSE(box.Exists("install/nofolder"));
}

TEST_F(Update, OnlyABuildNumber) {
  box.Write("update/vlmfile.upd", "_BuildNumber 7\n");
  ExpectMessages(box.Run({}), {Summary("Update BuildNumber to: 7\n")});
  unsigned long type = 0;
  std::vector<unsigned char> data;
  ASSERT_TRUE(box.RegistryValue("Build Number", &type, &data));
  EXPECT_EQ(data, SzData("7"));
}

TEST_F(Update, BuildNumberLineWithoutValueStoresNothing) {
  box.Write("update/vlmfile.upd", "_BuildNumber\n_buildnumber 3\n");
  box.Write("update/_buildnumber", "a module of that name");
  box.MakeFolder("install/3");
  // Only the exact name marks a build number; the other is a module.
  ExpectMessages(box.Run({}), {Summary("_buildnumber\n")});
  unsigned long type = 0;
  std::vector<unsigned char> data;
  EXPECT_FALSE(box.RegistryValue("Build Number", &type, &data));
  EXPECT_EQ(box.Read("install/3/_buildnumber"), "a module of that name");
}

TEST_F(Update, SubpathModuleAndEmptyFolderWord) {
  box.MakeFolder("install/elmdll/sub");
  box.Write("install/elmdll/sub/deep.dll", "old deep");
  box.MakeFolder("update/sub");
  box.Write("update/sub/deep.dll", "new deep");
  box.Write("update/top.txt", "top");
  box.Write("update/vlmfile.upd", "sub\\deep.dll elmdll\ntop.txt\n");
  ExpectMessages(box.Run({}), {Summary("sub\\deep.dll\ntop.txt\n")});
  EXPECT_EQ(box.Read("install/elmdll/sub/deep.dll"), "new deep");
  // The backup would go to a subfolder of the backup folder that is never
  // made, so there is none, and nothing is said.
  EXPECT_FALSE(box.Exists("install/Backup/sub"));
  // No folder word: install_dir, two backslashes, the name.
  EXPECT_EQ(box.Read("install/top.txt"), "top");
}

TEST_F(Update, FoldersMatchIgnoringCaseAndKeepTheirNames) {
  box.MakeFolder("install/Plugins");
  box.Write("install/Plugins/Tool.DLL", "old");
  box.Write("update/vlmfile.upd", "tool.dll plugins\n");
  box.Write("update/tool.dll", "new");
  ExpectMessages(box.Run({}), {Summary("tool.dll\n")});
  EXPECT_EQ(box.Read("install/Plugins/Tool.DLL"), "new");
  EXPECT_FALSE(box.Exists("install/plugins"));
}

TEST_F(Update, CrLfManifestReadsAsLf) {
  box.Write("update/vlmfile.upd",
            "core.dll elmdll\r\nnotes.txt root\r\n_BuildNumber 8\r\n");
  box.Write("update/core.dll", "new core");
  box.Write("update/notes.txt", "n");
  ExpectMessages(box.Run({}), {Summary("core.dll\nnotes.txt\n"
                                       "Update BuildNumber to: 8\n")});
}

TEST_F(Update, OnlyTheFirstFiftyLinesAreUsed) {
  std::string manifest;
  std::string expected;
  for (int i = 1; i <= 60; ++i) {
    const std::string name = "m" + std::to_string(i) + ".txt";
    manifest += name + " root\n";
    box.Write("update/" + name, name);
    if (i <= 50) expected += name + "\n";
  }
  box.Write("update/vlmfile.upd", manifest);
  ExpectMessages(box.Run({}), {Summary(expected)});
  EXPECT_TRUE(box.Exists("install/m50.txt"));
  EXPECT_FALSE(box.Exists("install/m51.txt"));
}

TEST_F(Update, SummaryIsNeverCut) {
  // Fifty build numbers of 255 characters make a summary longer than the
  // 12,799 characters of the installed base's buffer; all of it is shown.
  std::string manifest;
  std::string expected;
  for (int i = 0; i < 50; ++i) {
    std::string number(255, static_cast<char>('a' + i % 26));
    manifest += "_BuildNumber " + number + "\n";
    expected += "Update BuildNumber to: " + number + "\n";
  }
  box.Write("update/vlmfile.upd", manifest);
  const RunResult result = box.Run({});
  ExpectMessages(result, {Summary(expected)});
  EXPECT_GT(std::string(kSummaryHeader).size() + expected.size(), 12799u);
}

TEST_F(Update, RepeatedRunOverwritesTheBackup) {
  box.Write("update/vlmfile.upd", "core.dll elmdll\n");
  box.Write("update/core.dll", "second core");
  box.MakeFolder("install/Backup");
  box.Write("install/Backup/core.dll", "first backup");
  ExpectMessages(box.Run({}), {Summary("core.dll\n")});
  EXPECT_EQ(box.Read("install/Backup/core.dll"), "old core");
  EXPECT_EQ(box.Read("install/elmdll/core.dll"), "second core");
}

}  // namespace
}  // namespace e2e
