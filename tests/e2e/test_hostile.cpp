// Manifests written to escape the installation: whatever a line holds, the
// run writes nothing outside the installation folder. The sandbox sits
// three folders deep inside an outer folder, and the whole outer folder is
// compared before and after, as are the folders that enough ".." parts
// would reach.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "expect.h"
#include "harness.h"

namespace e2e {
namespace {

using Tree = std::vector<std::pair<std::string, std::string>>;

// The tree minus the installation folder, which a run may change.
Tree OutsideTheInstallation(const Tree& tree, const std::string& install) {
  Tree outside;
  for (const auto& entry : tree) {
    if (entry.first.rfind(install, 0) != 0) outside.push_back(entry);
  }
  return outside;
}

const std::vector<std::string>& HostileLines() {
  // %T% stands for a file name unique to the sandbox, so that a file of
  // that name anywhere else can only come from the run.
  static const std::vector<std::string> lines = {
      "..\\%T% root",
      "..\\..\\..\\..\\..\\%T% root",
      "..\\..\\..\\..\\..\\..\\..\\..\\%T% root",
      "sub/../../%T% root",
      "....\\%T% root",
      "./../%T% root",
      "%T% ..",
      "%T% ..\\..\\..\\..\\..",
      "%T% elmdll\\..\\..",
      "%T% elmdll/../../..",
      "/tmp/%T% root",
      "\\tmp\\%T% root",
      "%T% /tmp",
      "%T% \\",
      "C:%T% root",
      "Z:\\tmp\\%T% root",
      "%T% Z:\\tmp",
      "%T% Z:..",
      "\\\\?\\Z:\\tmp\\%T% root",
      "\\\\server\\share\\%T% root",
      std::string(300, 'n') + " root",
      "%T% root " + std::string(300, 'a'),
      std::string(250, 'n') + " root",
      "*.dll elmdll",
      "*.* root",
      "? ..",
      "%T% *",
      "%T% ?\\..\\..",
      "\x01\x02\x1f.txt root",
      "%T%\x7f root",
      "\xe9\xff\x80.txt root",
      "\xc0\xae\xc0\xae\\%T% root",
      "%T%:stream root",
      "%T% root _AddModule",
  };
  return lines;
}

// One scenario per line, so that a slow build runs them side by side.
class Hostile : public ::testing::TestWithParam<std::size_t> {};

TEST_P(Hostile, ManifestNeverWritesOutsideTheInstallation) {
  const std::string& pattern = HostileLines()[GetParam()];
  Sandbox box(3);
  const std::string token =
      "escape-" + box.outer().substr(box.outer().rfind('/') + 1) + ".txt";
  std::string line = pattern;
  for (std::size_t at = line.find("%T%"); at != std::string::npos;
       at = line.find("%T%")) {
    line.replace(at, 3, token);
  }
  SCOPED_TRACE(line);
  box.WriteRegistryPath(box.install());
  box.MakeFolder("install/elmdll");
  box.Write("install/elmdll/core.dll", "old core");
  box.MakeFolder("update/sub");
  box.Write("update/core.dll", "new core");
  box.Write("update/" + token, "escaped");
  box.Write("update/sub/" + token, "escaped from sub");
  box.Write("update/vlmfile.upd", "core.dll elmdll\n" + line + "\n");
  const std::string install = box.install().substr(box.outer().size() + 1);
  const Tree before = OutsideTheInstallation(TreeAt(box.outer()), install);

  const RunResult result = box.Run({});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(result.err_well_formed) << result.err;
  EXPECT_FALSE(result.messages.empty());

  EXPECT_EQ(OutsideTheInstallation(TreeAt(box.outer()), install), before);
  // Beyond the outer folder: its parent, and the top of the file system.
  const std::string parent = box.outer().substr(0, box.outer().rfind('/'));
  for (const std::string& folder : {parent, std::string("")}) {
    EXPECT_NE(access((folder + "/" + token).c_str(), F_OK), 0) << folder;
  }
}

INSTANTIATE_TEST_SUITE_P(Lines, Hostile,
                         ::testing::Range<std::size_t>(0,
                                                       HostileLines().size()));

}  // namespace
}  // namespace e2e
