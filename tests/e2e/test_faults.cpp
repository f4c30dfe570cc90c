// Faults provoked around a real run: a disk that fills half-way through a
// copy, the process killed at every call that writes or publishes a file
// and at a spread of moments, damaged registry files, and installed files
// that are in use.
//
// Resource limits, kills and running programs act on the tool's own
// process, so those scenarios run only against the native tool; they skip
// when the tool runs under Wine (ToolSeesWindowsPaths).
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "expect.h"
#include "harness.h"
#include "platform/regfile.h"

namespace e2e {
namespace {

constexpr char kSettingsKey[] =
    "HKEY_USERS\\.DEFAULT\\Software\\Corvane\\Velmora";

Message CopyFailure(const std::string& name, unsigned long error) {
  return {"Update WinMain",
          "CopyFile=" + name + ", error=" + std::to_string(error) + "\n"};
}

const Message kNoWriteAccess{
    "Velmora4 Update",
    "Update error: Because you does not have write access to update one or "
    "more module\nPlease contact your system administrator in order to have "
    "your access rights modified."};

// Content that shows where it was cut: every line names its own number.
std::string Content(const std::string& label, std::size_t size) {
  std::string text;
  for (std::size_t line = 0; text.size() < size; ++line) {
    text += label + " line " + std::to_string(line) + "\n";
  }
  text.resize(size);
  return text;
}

// The temporary files of the tool are hidden names beginning so.
int CountTemporaries(
    const std::vector<std::pair<std::string, std::string>>& tree) {
  int count = 0;
  for (const auto& entry : tree) {
    const std::size_t slash =
        entry.first.find_last_of('/', entry.first.size() - 2);
    const std::string name = slash == std::string::npos
                                 ? entry.first
                                 : entry.first.substr(slash + 1);
    if (name.rfind(".velmora-", 0) == 0) ++count;
  }
  return count;
}

// True when the file system gives the tool's temporary files no name until
// they are complete, so that a kill while writing one leaves nothing.
bool UnnamedTemporariesWork(const std::string& folder) {
  const int fd = open(folder.c_str(), O_TMPFILE | O_WRONLY, 0600);
  if (fd < 0) return false;
  close(fd);
  return access("/proc/self/fd", X_OK) == 0;
}

bool ParseRegistry(const Sandbox& box, regfile::Document* document) {
  const std::string text = box.Read("registry.reg");
  return regfile::Parse(reinterpret_cast<const unsigned char*>(text.data()),
                        text.size(), document);
}

std::string StringValue(regfile::Document* document, const std::string& key,
                        const std::string& name) {
  const regfile::Key* found = regfile::FindKey(document, key);
  if (found == nullptr) return "<no key>";
  const regfile::Value* value = regfile::FindValue(*found, name);
  if (value == nullptr) return "<no value>";
  if (value->data.empty() || value->data.back() != 0) return "<not text>";
  return std::string(value->data.begin(), value->data.end() - 1);
}

// ---- A large update, killed -------------------------------------------------

// An installation with one big DLL that is backed up and replaced, an
// executable, a module added, a plain file, two build numbers, and a
// registry file with other keys and a long value to carry through.
struct LargeUpdate {
  explicit LargeUpdate(std::size_t core_size)
      : old_core(Content("old core", core_size)),
        new_core(Content("NEW CORE", core_size)),
        old_exe(Content("old exe", 150 * 1024)),
        new_exe(Content("NEW EXE", 150 * 1024)),
        reports(Content("reports", 50 * 1024)),
        blob(Content("blob", 50 * 1024)) {
    blob.erase(std::remove(blob.begin(), blob.end(), '\n'), blob.end());
  }

  void Lay(Sandbox& box) const {
    box.WriteRegistryText(
        "REGEDIT4\r\n\r\n[" + std::string(kSettingsKey) + "]\r\n\"Path\"=\"" +
        box.install() +
        "\"\r\n\"Build Number\"=\"4.1.0\"\r\n\"Window\"=dword:00000003\r\n\r\n"
        "[HKEY_USERS\\.DEFAULT\\Software\\Other]\r\n\"Keep\"=\"this\"\r\n"
        "\"Blob\"=\"" +
        blob + "\"\r\n\"Bytes\"=hex:00,01,fe,ff\r\n\r\n");
    box.MakeFolder("install/elmdll");
    box.Write("install/elmdll/core.dll", old_core);
    box.Write("install/velmora.exe", old_exe);
    box.Write("update/core.dll", new_core);
    box.Write("update/velmora.exe", new_exe);
    box.Write("update/reports.dll", reports);
    box.Write("update/notes.txt", "notes");
    box.Write("update/vlmfile.upd",
              "core.dll elmdll\n_BuildNumber 4.2.0\nvelmora.exe root\n"
              "reports.dll elmdll _AddModule\nnotes.txt root\n"
              "_BuildNumber 4.2.1\n");
    // The tool's first flush would otherwise write all of the above too,
    // and take most of the run.
    sync();
  }

  // What a killed run may leave: each file whole, old or new, and the steps
  // done forming a prefix of the manifest's order. Sets *steps_done.
  void CheckKilled(const Sandbox& box, int temporaries_allowed,
                   std::size_t* steps_done = nullptr) const {
    regfile::Document document;
    ASSERT_TRUE(ParseRegistry(box, &document))
        << "registry file:\n"
        << box.Read("registry.reg").substr(0, 400);
    CheckOtherValues(&document, box);
    const std::string build =
        StringValue(&document, kSettingsKey, "Build Number");
    ASSERT_TRUE(build == "4.1.0" || build == "4.2.0" || build == "4.2.1")
        << build;

    const std::string core = box.Read("install/elmdll/core.dll");
    ASSERT_TRUE(core == old_core || core == new_core) << "torn core.dll";
    const std::string exe = box.Read("install/velmora.exe");
    ASSERT_TRUE(exe == old_exe || exe == new_exe) << "torn velmora.exe";
    const bool backed_up = box.Exists("install/Backup/core.dll");
    if (backed_up) {
      ASSERT_TRUE(box.Read("install/Backup/core.dll") == old_core)
          << "install/Backup/core.dll"
          << "torn backup";
    }
    const bool added = box.Exists("install/elmdll/reports.dll");
    if (added) {
      ASSERT_TRUE(box.Read("install/elmdll/reports.dll") == reports)
          << "install/elmdll/reports.dll";
    }
    const bool noted = box.Exists("install/notes.txt");
    if (noted) {
      ASSERT_EQ(box.Read("install/notes.txt"), "notes");
    }

    const bool done[] = {
        backed_up, core == new_core, build != "4.1.0", exe == new_exe, added,
        noted,     build == "4.2.1"};
    std::size_t count = 0;
    for (std::size_t i = 0; i < sizeof done / sizeof *done; ++i) {
      if (i > 0) {
        EXPECT_FALSE(done[i] && !done[i - 1])
            << "step " << i << " done before step " << i - 1;
      }
      if (done[i]) ++count;
    }
    if (steps_done != nullptr) *steps_done = count;
    EXPECT_LE(CountTemporaries(box.TreeOf("")), temporaries_allowed);
  }

  // The same update run again completes, whatever the killed run did.
  void CheckRerun(const Sandbox& box, const RunResult& result,
                  int temporaries_left) const {
    ExpectMessages(result, {Summary("core.dll\nUpdate BuildNumber to: 4.2.0\n"
                                    "velmora.exe\nreports.dll\nnotes.txt\n"
                                    "Update BuildNumber to: 4.2.1\n")});
    EXPECT_TRUE(box.Read("install/elmdll/core.dll") == new_core)
        << "install/elmdll/core.dll";
    EXPECT_TRUE(box.Read("install/velmora.exe") == new_exe)
        << "install/velmora.exe";
    EXPECT_TRUE(box.Read("install/elmdll/reports.dll") == reports)
        << "install/elmdll/reports.dll";
    EXPECT_EQ(box.Read("install/notes.txt"), "notes");
    // The rerun backs up what it found: the old DLL, or the new one when
    // the killed run had already installed it.
    const std::string backup = box.Read("install/Backup/core.dll");
    EXPECT_TRUE(backup == old_core || backup == new_core);
    regfile::Document document;
    ASSERT_TRUE(ParseRegistry(box, &document));
    CheckOtherValues(&document, box);
    EXPECT_EQ(StringValue(&document, kSettingsKey, "Build Number"), "4.2.1");
    EXPECT_EQ(CountTemporaries(box.TreeOf("")), temporaries_left);
  }

  void CheckOtherValues(regfile::Document* document, const Sandbox& box) const {
    EXPECT_EQ(StringValue(document, kSettingsKey, "Path"), box.install());
    EXPECT_EQ(
        StringValue(document, "HKEY_USERS\\.DEFAULT\\Software\\Other", "Keep"),
        "this");
    EXPECT_EQ(
        StringValue(document, "HKEY_USERS\\.DEFAULT\\Software\\Other", "Blob"),
        blob);
    const regfile::Key* settings = regfile::FindKey(document, kSettingsKey);
    ASSERT_NE(settings, nullptr);
    const regfile::Value* window = regfile::FindValue(*settings, "Window");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->type, 4u);
    EXPECT_EQ(window->data, std::vector<unsigned char>({3, 0, 0, 0}));
  }

  std::string old_core, new_core, old_exe, new_exe, reports, blob;
};

// The counted build of the tool: VELMORA_COUNTED_TOOL, else the file
// beside a native VELMORA_TOOL. Empty when there is none.
std::vector<std::string> CountedTool() {
  const char* named = std::getenv("VELMORA_COUNTED_TOOL");
  if (named != nullptr && *named != '\0') return {named};
  const char* tool = std::getenv("VELMORA_TOOL");
  if (tool == nullptr) return {};
  const std::string path = tool;
  const std::size_t slash = path.rfind('/');
  if (path.find(' ') != std::string::npos || slash == std::string::npos) {
    return {};
  }
  const std::string beside =
      path.substr(0, slash + 1) + "velmora-update-counted";
  if (access(beside.c_str(), X_OK) != 0) return {};
  return {beside};
}

TEST(Kill, AtEveryCallThatWritesOrPublishesAFileNothingIsTorn) {
  if (ToolSeesWindowsPaths()) GTEST_SKIP() << "kills the native tool";
  const std::vector<std::string> counted = CountedTool();
  if (counted.empty()) GTEST_SKIP() << "no velmora-update-counted";
  const LargeUpdate update(256 * 1024);

  // One whole run tells the calls it makes, in order.
  std::string calls;
  {
    Sandbox box;
    update.Lay(box);
    RunOptions options;
    options.tool = counted;
    options.environment = {{"VELMORA_CALLS_FILE", box.root() + "/calls"}};
    update.CheckRerun(box, box.Run({}, options), 0);
    calls = box.Read("calls");
  }
  // Several writes per big copy, and a flush, a naming and a rename for
  // each of the five files written and the two registry writes.
  ASSERT_GE(std::count(calls.begin(), calls.end(), 'w'), 10) << calls;
  ASSERT_GE(std::count(calls.begin(), calls.end(), 'r'), 7) << calls;

  Sandbox probe;
  const bool unnamed = UnnamedTemporariesWork(probe.install());
  for (std::size_t at = 1; at <= calls.size(); ++at) {
    SCOPED_TRACE("killed before call " + std::to_string(at) + " (" +
                 calls[at - 1] + ")");
    Sandbox box;
    update.Lay(box);
    RunOptions options;
    options.tool = counted;
    options.environment = {{"VELMORA_KILL_AT_CALL", std::to_string(at)}};
    ASSERT_TRUE(box.Run({}, options).killed);
    // Only a kill between naming a temporary file and renaming it over its
    // target leaves that file behind.
    const int allowed = unnamed && calls[at - 1] != 'r' ? 0 : 1;
    update.CheckKilled(box, allowed);
    const int left = CountTemporaries(box.TreeOf(""));
    update.CheckRerun(box, box.Run({}), left);
    if (HasFailure()) break;
  }
}

TEST(Kill, AtASpreadOfMomentsNothingIsTorn) {
  if (ToolSeesWindowsPaths()) GTEST_SKIP() << "kills the native tool";
  // Big enough that copying it takes a good part of the run.
  const LargeUpdate update(4 * 1024 * 1024);
  auto whole_run = std::chrono::steady_clock::duration::zero();
  {
    Sandbox box;
    update.Lay(box);
    const auto start = std::chrono::steady_clock::now();
    const RunResult result = box.Run({});
    whole_run = std::chrono::steady_clock::now() - start;
    update.CheckRerun(box, result, 0);
  }
  const long whole =
      std::chrono::duration_cast<std::chrono::microseconds>(whole_run).count();
  constexpr int kMoments = 12;
  int killed = 0;
  std::vector<std::size_t> stages;
  for (int i = 0; i < kMoments; ++i) {
    const long after = whole * i / kMoments;
    SCOPED_TRACE("killed after " + std::to_string(after) + " us of " +
                 std::to_string(whole));
    Sandbox box;
    update.Lay(box);
    RunOptions options;
    options.kill_after_microseconds = after;
    if (box.Run({}, options).killed) ++killed;
    std::size_t steps = 0;
    update.CheckKilled(box, 1, &steps);
    stages.push_back(steps);
    const int left = CountTemporaries(box.TreeOf(""));
    update.CheckRerun(box, box.Run({}), left);
    if (HasFailure()) break;
  }
  RecordProperty("killed_runs", killed);
  std::string reached;
  for (std::size_t steps : stages) reached += std::to_string(steps) + " ";
  RecordProperty("steps_done_at_each_kill", reached);
  // The kills must have landed at different points of the run, or the test
  // proved nothing about its middle.
  std::sort(stages.begin(), stages.end());
  EXPECT_GE(std::unique(stages.begin(), stages.end()) - stages.begin(), 2)
      << reached;
}

// ---- A disk that fills up ---------------------------------------------------

TEST(DiskFull, ACopyThatRunsOutOfRoomKeepsTheOldModuleAndTheRunGoesOn) {
  if (ToolSeesWindowsPaths()) GTEST_SKIP() << "limits the native tool";
  Sandbox box;
  box.WriteRegistryPath(box.install());
  box.MakeFolder("install/elmdll");
  const std::string old_big = Content("old big", 300 * 1024);
  box.Write("install/elmdll/big.dll", old_big);
  box.Write("install/elmdll/small.dll", "old small");
  box.Write("update/big.dll", Content("NEW BIG", 600 * 1024));
  box.Write("update/small.dll", "new small");
  box.Write("update/notes.txt", "notes");
  box.Write("update/vlmfile.upd",
            "big.dll elmdll\nsmall.dll elmdll\nnotes.txt root\n"
            "_BuildNumber 4.2.1\n");
  RunOptions options;
  // Room for the old module's backup, the small files and the registry;
  // not for the new big module.
  options.file_size_limit = 400 * 1024;
  ExpectMessages(
      box.Run({}, options),
      {CopyFailure("big.dll", 112), Summary("small.dll\nnotes.txt\n"
                                            "Update BuildNumber to: 4.2.1\n")});
  EXPECT_TRUE(box.Read("install/elmdll/big.dll") == old_big)
      << "install/elmdll/big.dll";
  EXPECT_TRUE(box.Read("install/Backup/big.dll") == old_big)
      << "install/Backup/big.dll";
  EXPECT_EQ(box.Read("install/elmdll/small.dll"), "new small");
  EXPECT_EQ(box.Read("install/notes.txt"), "notes");
  EXPECT_EQ(CountTemporaries(box.TreeOf("")), 0);
}

// ---- Damaged registry files -------------------------------------------------

TEST(DamagedRegistry, WhatCannotBeParsedIsNeverRewritten) {
  if (ToolSeesWindowsPaths()) GTEST_SKIP() << "native registry file only";
  const std::string head = "REGEDIT4\r\n\r\n[" + std::string(kSettingsKey) +
                           "]\r\n\"Path\"=\"%INSTALL%\"\r\n";
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 131 + 7) % 256);
  struct Case {
    const char* name;
    std::string text;
  };
  const Case cases[] = {
      {"cut inside a value", head + "\"Build Number\"=\"4.1"},
      {"cut inside hex data", head + "\"Bytes\"=hex:00,01,\\\r\n"},
      {"binary junk", junk},
      {"junk after the key", head + junk},
      {"unknown value syntax", head + "\"Size\"=qword:0000000000000001\r\n"},
      {"a deletion", head + "\"Build Number\"=-\r\n"},
      {"a very long junk line", head + std::string(200000, 'x') + "\r\n"},
      {"utf-16 cut in a character", std::string("\xFF\xFEW\0i\0n\0d", 9)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box;
    std::string text = c.text;
    const std::size_t at = text.find("%INSTALL%");
    if (at != std::string::npos) text.replace(at, 9, box.install());
    box.WriteRegistryText(text);
    box.Write("update/notes.txt", "notes");
    box.Write("update/vlmfile.upd", "notes.txt root\n_BuildNumber 4.2.1\n");
    const auto before = box.TreeOf("");
    ExpectMessages(
        box.Run({}),
        {{"Velmora4 Update", "ERROR : Path not found in registry"},
         {"Velmora4 Update", "ERROR : Velmora directory not found"}});
    EXPECT_EQ(box.TreeOf(""), before);  // the registry file included
  }
}

TEST(DamagedRegistry, OddButReadableFilesKeepEveryOtherKeyAndValue) {
  if (ToolSeesWindowsPaths()) GTEST_SKIP() << "native registry file only";
  struct Case {
    const char* name;
    std::string rest;  // after the settings key's "Path"
  };
  const Case cases[] = {
      {"unknown value types",
       "\"Odd\"=hex(5a):01,02,03\r\n\"Big\"=hex(ffffffff):\r\n"},
      {"duplicate keys and values",
       "\"Keep\"=\"first\"\r\n\"Keep\"=\"second\"\r\n\r\n[" +
           std::string(kSettingsKey) + "\\]\r\n\"More\"=\"x\"\r\n"},
      {"a very long value",
       "\"Long\"=\"" + std::string(300000, 'L') + "\"\r\n"},
      {"comments and blank lines",
       "; note\r\n\r\n  ; more\r\n\"Keep\"=\"k\"\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box;
    box.WriteRegistryText(
        "REGEDIT4\r\n\r\n[HKEY_USERS\\Before]\r\n@=\"b\"\r\n\r\n[" +
        std::string(kSettingsKey) + "]\r\n\"Path\"=\"" + box.install() +
        "\"\r\n" + c.rest +
        "\r\n[HKEY_USERS\\After]\r\n\"A\"=dword:0000002a\r\n");
    regfile::Document before;
    ASSERT_TRUE(ParseRegistry(box, &before));
    box.Write("update/vlmfile.upd", "_BuildNumber 4.2.1\n");
    ExpectMessages(box.Run({}), {Summary("Update BuildNumber to: 4.2.1\n")});
    regfile::Document after;
    ASSERT_TRUE(ParseRegistry(box, &after));
    // Exactly one value more, everything else as it was.
    regfile::Key* settings = regfile::FindKey(&before, kSettingsKey);
    ASSERT_NE(settings, nullptr);
    const std::string build = "4.2.1";
    regfile::SetValue(settings, "Build Number", 1,
                      reinterpret_cast<const unsigned char*>(build.c_str()),
                      build.size() + 1);
    ASSERT_EQ(after.keys.size(), before.keys.size());
    for (std::size_t k = 0; k < before.keys.size(); ++k) {
      EXPECT_EQ(after.keys[k].path, before.keys[k].path);
      ASSERT_EQ(after.keys[k].values.size(), before.keys[k].values.size())
          << before.keys[k].path;
      for (std::size_t v = 0; v < before.keys[k].values.size(); ++v) {
        EXPECT_EQ(after.keys[k].values[v].name, before.keys[k].values[v].name);
        EXPECT_EQ(after.keys[k].values[v].type, before.keys[k].values[v].type);
        EXPECT_EQ(after.keys[k].values[v].data, before.keys[k].values[v].data);
      }
    }
    EXPECT_EQ(CountTemporaries(box.TreeOf("")), 0);
  }
}

// ---- Files in use -----------------------------------------------------------

// Starts the installed file as a program (a copy of a real one) and waits
// until the kernel runs it. Returns its process id, or -1.
pid_t StartInstalledProgram(Sandbox& box, const std::string& relative) {
  std::ifstream in("/bin/sleep", std::ios::binary);
  if (!in) return -1;
  std::ostringstream program;
  program << in.rdbuf();
  box.Write(relative, program.str());
  const std::string path = box.root() + "/" + relative;
  if (chmod(path.c_str(), 0755) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    execl(path.c_str(), "velmora.exe", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 500; ++i) {
    const int fd = open(path.c_str(), O_WRONLY);
    if (fd < 0 && errno == ETXTBSY) return child;
    if (fd >= 0) close(fd);
    usleep(2000);
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  return -1;
}

void Stop(pid_t child) {
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

TEST(InUse, ARunningProgramStopsTheUpdateBeforeAnythingChanges) {
  if (ToolSeesWindowsPaths()) GTEST_SKIP() << "runs a native program";
  Sandbox box;
  box.WriteRegistryPath(box.install());
  box.Write("update/velmora.exe", "new exe");
  box.Write("update/notes.txt", "notes");
  box.Write("update/vlmfile.upd", "notes.txt root\nvelmora.exe root\n");
  const pid_t child = StartInstalledProgram(box, "install/velmora.exe");
  ASSERT_GT(child, 0) << "could not start the installed program";
  const auto before = box.Tree();
  const RunResult result = box.Run({});
  Stop(child);
  ExpectMessages(result, {kNoWriteAccess});
  EXPECT_EQ(box.Tree(), before);
}

TEST(InUse, ARunningProgramAddedAnywayFailsItsCopyOnly) {
  if (ToolSeesWindowsPaths()) GTEST_SKIP() << "runs a native program";
  Sandbox box;
  box.WriteRegistryPath(box.install());
  box.Write("update/velmora.exe", "new exe");
  box.Write("update/notes.txt", "notes");
  // "_AddModule" skips the pre-check; the copy itself then meets the
  // running program.
  box.Write("update/vlmfile.upd",
            "velmora.exe root _AddModule\nnotes.txt root\n");
  const pid_t child = StartInstalledProgram(box, "install/velmora.exe");
  ASSERT_GT(child, 0) << "could not start the installed program";
  const std::string program = box.Read("install/velmora.exe");
  const RunResult result = box.Run({});
  Stop(child);
  ExpectMessages(result,
                 {CopyFailure("velmora.exe", 32), Summary("notes.txt\n")});
  EXPECT_TRUE(box.Read("install/velmora.exe") == program)
      << "install/velmora.exe";
  EXPECT_EQ(box.Read("install/notes.txt"), "notes");
}

TEST(InUse, AModuleHeldOpenByAnotherProcessStopsTheUpdate) {
  if (ToolSeesWindowsPaths()) GTEST_SKIP() << "holds a native file open";
  Sandbox box;
  box.WriteRegistryPath(box.install());
  box.MakeFolder("install/elmdll");
  box.Write("install/elmdll/core.dll", "old core");
  box.Write("update/core.dll", "new core");
  box.Write("update/vlmfile.upd", "core.dll elmdll\n_BuildNumber 4.2.1\n");
  // This test's own process is "another process" to the tool.
  const int held = open((box.install() + "/elmdll/core.dll").c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  const auto before = box.Tree();
  const RunResult result = box.Run({});
  close(held);
  ExpectMessages(result, {kNoWriteAccess});
  EXPECT_EQ(box.Tree(), before);
  // Let go of, it updates.
  ExpectMessages(box.Run({}),
                 {Summary("core.dll\nUpdate BuildNumber to: 4.2.1\n")});
  EXPECT_EQ(box.Read("install/elmdll/core.dll"), "new core");
}

}  // namespace
}  // namespace e2e
