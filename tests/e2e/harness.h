// The end-to-end harness: a throwaway sandbox (installation tree, update
// folder, registry file) and one run of the tool as a separate process.
//
// The command that runs the tool is one parameter, the environment variable
// VELMORA_TOOL (its words separated by spaces), so the same scenarios run
// against the native executable and against the Windows build under a
// wrapper. VELMORA_TOOL_PATHS=windows says the tool sees the sandbox
// through a drive letter (Z:\...), which matters for texts naming paths.
#ifndef VELMORA_TESTS_E2E_HARNESS_H
#define VELMORA_TESTS_E2E_HARNESS_H

#include <string>
#include <vector>

namespace e2e {

struct Message {
  std::string caption;
  std::string text;
};

struct RunResult {
  int exit_code = -1;
  std::string out;                // standard output, raw
  std::string err;                // standard error, raw
  std::vector<Message> messages;  // parsed from err
  bool err_well_formed = false;   // err held message blocks and nothing else
  bool killed = false;            // ended by SIGKILL
};

// How to run the tool beyond its arguments. The limits and the kill act
// on the tool's own process, so they mean something only for a native
// tool: scenarios that use them skip under ToolSeesWindowsPaths().
struct RunOptions {
  // The command to run instead of VELMORA_TOOL, when not empty.
  std::vector<std::string> tool;
  // The tool's file-size limit (RLIMIT_FSIZE) in bytes, with SIGXFSZ
  // ignored, so that a write beyond it fails as on a full disk; 0: none.
  unsigned long file_size_limit = 0;
  // SIGKILL this long after the start; negative: never.
  long kill_after_microseconds = -1;
  // Variables added to the tool's environment.
  std::vector<std::pair<std::string, std::string>> environment;
};

// Splits standard error into message blocks. False when it holds anything
// else, or a block is not closed.
bool ParseMessages(const std::string& err, std::vector<Message>* messages);

// True when the tool runs as a Windows program (paths shown as Z:\...).
bool ToolSeesWindowsPaths();

// True when an actual message text stands for the expected one. Under the
// Windows build long texts reach us cut, so only their start is compared.
bool TextMatches(const std::string& expected, const std::string& actual);

class Sandbox {
 public:
  Sandbox();
  // A sandbox nested `depth` folders deep inside an outer folder, so that
  // a scenario can watch everything around it.
  explicit Sandbox(int depth);
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& root() const { return root_; }
  // The folder that holds everything the sandbox made (root() itself
  // unless nested).
  const std::string& outer() const { return outer_; }
  std::string install() const { return root_ + "/install"; }
  std::string update() const { return root_ + "/update"; }
  std::string registry() const { return root_ + "/registry.reg"; }

  // install_dir as the tool sees it (native path, or its Z: form).
  std::string ToolInstallDir() const;

  // Files and folders below root; relative paths use '/'.
  void Write(const std::string& relative, const std::string& content);
  void MakeFolder(const std::string& relative);
  // Makes nested folders below the installation until the last one's full
  // path is exactly length characters long; returns that folder relative
  // to root.
  std::string MakeFolderOfLength(std::size_t length);
  std::string Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;
  bool IsFolder(const std::string& relative) const;
  void SetReadOnly(const std::string& relative);
  // Sets the DOS attributes that the Windows build and the native build
  // both read (user.DOSATTRIB); 0x2 hidden, 0x4 system.
  void SetDosAttributes(const std::string& relative, unsigned bits);
  // Every file and folder of the installation and the update folder with
  // its content, for before/after comparisons ("d" for folders). The
  // registry file is left out: its form may change while its values do not.
  std::vector<std::pair<std::string, std::string>> Tree() const;
  std::vector<std::pair<std::string, std::string>> TreeOf(
      const std::string& relative) const;

  // The registry file holding only the settings key with "Path".
  void WriteRegistryPath(const std::string& path);
  void WriteRegistryText(const std::string& text);
  // A value of the settings key in the registry file after a run. False
  // when the file, the key or the value is missing.
  bool RegistryValue(const std::string& name, unsigned long* type,
                     std::vector<unsigned char>* data) const;
  bool RegistryKeyExists() const;

  // Runs the tool with the update folder as current directory.
  RunResult Run(const std::vector<std::string>& args) const;
  RunResult Run(const std::vector<std::string>& args,
                const RunOptions& options) const;

 private:
  std::string outer_;
  std::string root_;
};

// Every file and folder below an absolute path, as Sandbox::Tree gives
// them ("d" for folders, else the content).
std::vector<std::pair<std::string, std::string>> TreeAt(
    const std::string& path);

// The REG_SZ data of text: its bytes and one zero byte.
std::vector<unsigned char> SzData(const std::string& text);

}  // namespace e2e

#endif  // VELMORA_TESTS_E2E_HARNESS_H
