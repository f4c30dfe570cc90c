// Manifests that cannot be carried out safely are refused before anything
// is created or changed.
#include <string>
#include <vector>

#include "expect.h"
#include "harness.h"

namespace e2e {
namespace {

std::string Refusal(unsigned line, const std::string& reason) {
  return "ERROR : File list (vlmfile.upd) line " + std::to_string(line) + ": " +
         reason + "\nNothing was updated.";
}

const char kUnsafeModule[] =
    "the module name is absolute, names a drive, device or stream, or has a "
    "\"..\" part";
const char kUnsafeFolder[] =
    "the folder name is absolute, names a drive, device or stream, or has a "
    "\"..\" part";

TEST(Refusal, UnsafeManifestChangesNothing) {
  struct Case {
    const char* name;
    std::string bad_line;
    std::string reason;
  };
  const Case cases[] = {
      {"parent module", "..\\escape.txt root", kUnsafeModule},
      {"parent inside module", "sub/../../escape.txt root", kUnsafeModule},
      {"dots module", "...\\escape.txt root", kUnsafeModule},
      {"absolute module", "\\tmp\\escape.txt root", kUnsafeModule},
      {"slash module", "/tmp/escape.txt root", kUnsafeModule},
      {"drive module", "C:escape.txt root", kUnsafeModule},
      {"parent folder", "escape.txt ..", kUnsafeFolder},
      {"parent in folder", "escape.txt elmdll\\..\\..", kUnsafeFolder},
      {"absolute folder", "escape.txt \\tmp", kUnsafeFolder},
      {"drive folder", "escape.txt Z:\\tmp", kUnsafeFolder},
      {"stream module", "escape.txt:evil root", kUnsafeModule},
      {"device module", "CON root", kUnsafeModule},
      {"device folder", "escape.txt nul.log", kUnsafeFolder},
      {"long module", std::string(256, 'm') + " root",
       "the module name is longer than 255 characters"},
      {"long folder", "escape.txt " + std::string(256, 'f'),
       "the folder name is longer than 255 characters"},
      {"long action", "escape.txt root " + std::string(200, 'a'),
       "the action word is longer than 199 characters"},
      {"long build number", "_BuildNumber " + std::string(256, '9'),
       "the build number is longer than 255 characters"},
      {"long target", std::string(255, 't') + " root",
       "the installed path would be longer than 259 characters"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box;
    box.WriteRegistryPath(box.install());
    box.MakeFolder("install/elmdll");
    box.Write("install/elmdll/core.dll", "old core");
    box.Write("update/core.dll", "new core");
    box.Write("update/escape.txt", "escape");
    // The unsafe line comes second, after a line that would install.
    box.Write("update/vlmfile.upd",
              "core.dll elmdll\n" + c.bad_line + "\n_BuildNumber 1\n");
    const auto before = box.Tree();
    ExpectMessages(box.Run({}), {{"Velmora4 Update", Refusal(2, c.reason)}});
    EXPECT_EQ(box.Tree(), before);
    unsigned long type = 0;
    std::vector<unsigned char> data;
    EXPECT_FALSE(box.RegistryValue("Build Number", &type, &data));
  }
}

TEST(Refusal, LinesAreCountedAsWritten) {
  Sandbox box;
  box.WriteRegistryPath(box.install());
  // A CR LF manifest with a blank line: the bad word is on line 4.
  box.Write("update/vlmfile.upd", "a.txt root\r\n\r\nb.txt root\r\nx ..\r\n");
  ExpectMessages(box.Run({}), {{"Velmora4 Update", Refusal(4, kUnsafeFolder)}});
}

TEST(Refusal, BackupFolderTooLong) {
  Sandbox box;
  // "\Backup" makes 260 characters, one too many.
  const std::string dir = box.root() + "/" + box.MakeFolderOfLength(253);
  box.WriteRegistryPath(dir);
  box.Write("update/vlmfile.upd", "a.txt root\n");
  box.Write("update/a.txt", "a");
  const auto before = box.Tree();
  ExpectMessages(box.Run({}),
                 {{"Velmora4 Update",
                   "ERROR : Backup folder path is longer than 259 characters\n"
                   "Nothing was updated."}});
  EXPECT_EQ(box.Tree(), before);
}

}  // namespace
}  // namespace e2e
