// Start of a run: the installation lookup and the choice of mode.
#include <string>
#include <vector>

#include "expect.h"
#include "harness.h"

namespace e2e {
namespace {

const Message kDirectoryNotFound{"Velmora4 Update",
                                 "ERROR : Velmora directory not found"};

TEST(Entry, MissingKeyIsCreatedAndTheDirectoryReportedMissing) {
  Sandbox box;
  box.Write("update/vlmfile.upd", "a.txt root\n");
  box.Write("update/a.txt", "new");
  const RunResult result = box.Run({});
  ExpectMessages(result, {kDirectoryNotFound});
  EXPECT_TRUE(box.RegistryKeyExists());
  unsigned long type = 0;
  std::vector<unsigned char> data;
  EXPECT_FALSE(box.RegistryValue("Path", &type, &data));
  EXPECT_FALSE(box.Exists("install/a.txt"));
}

TEST(Entry, MissingInstallationDirectoryStopsBothModes) {
  for (const char* argument : {"", "remove"}) {
    SCOPED_TRACE(argument);
    Sandbox box;
    box.WriteRegistryPath(box.install() + "/gone");
    box.MakeFolder("install/Backup");
    box.Write("install/Backup/a.dll", "old");
    box.Write("update/vlmfile.upd", "a.txt root\n");
    box.Write("update/a.txt", "new");
    const auto before = box.Tree();
    std::vector<std::string> args;
    if (*argument != '\0') args.push_back(argument);
    ExpectMessages(box.Run(args), {kDirectoryNotFound});
    EXPECT_EQ(box.Tree(), before);
  }
}

TEST(Entry, PathThatIsAFileIsNotADirectory) {
  Sandbox box;
  box.Write("install/file", "x");
  box.WriteRegistryPath(box.install() + "/file");
  box.Write("update/vlmfile.upd", "a.txt root\n");
  ExpectMessages(box.Run({}), {kDirectoryNotFound});
}

TEST(Entry, PathTooLongForItsBufferCountsAsAbsent) {
  Sandbox box;
  // 500 characters with no room left for the terminator.
  std::string path = box.install();
  while (path.size() < 500) path += "/x";
  path.resize(500);
  box.WriteRegistryPath(path);
  ExpectMessages(box.Run({}), {kDirectoryNotFound});
}

TEST(Entry, ArgumentChoosesTheMode) {
  struct Case {
    std::vector<std::string> args;
    bool removal;
  };
  const Case cases[] = {
      {{"remove"}, true},  {{"REMOVE"}, true},        {{"Remove"}, true},
      {{"removed"}, true}, {{"remove", "now"}, true}, {{}, false},
      {{"remov"}, false},  {{"\"remove\""}, false},   {{"xremove"}, false},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += "[" + a + "]";
    SCOPED_TRACE(shown);
    Sandbox box;
    box.WriteRegistryPath(box.install());
    box.MakeFolder("install/Backup");
    box.Write("install/Backup/old.dll", "backup");
    box.Write("update/vlmfile.upd", "");
    const RunResult result = box.Run(c.args);
    if (c.removal) {
      ExpectMessages(result, {});
      EXPECT_FALSE(box.Exists("install/Backup"));
    } else {
      ExpectMessages(result, {Summary("")});
      EXPECT_EQ(box.Read("install/Backup/old.dll"), "backup");
    }
  }
}

TEST(Entry, UnreadableRegistryReportsBothMessages) {
  // Natively the key lives in a file, and a file that cannot be parsed
  // cannot be opened, as a key the user may not open. A Windows registry
  // has no such file, and Wine offers no way to deny the key to its own
  // user, so this runs against the native build only.
  if (ToolSeesWindowsPaths()) GTEST_SKIP() << "native registry file only";
  Sandbox box;
  box.WriteRegistryText("this is not a registry file\n");
  const std::string before = box.Read("registry.reg");
  ExpectMessages(box.Run({}),
                 {{"Velmora4 Update", "ERROR : Path not found in registry"},
                  kDirectoryNotFound});
  EXPECT_EQ(box.Read("registry.reg"), before);
}

}  // namespace
}  // namespace e2e
