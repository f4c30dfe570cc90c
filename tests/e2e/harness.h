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
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& root() const { return root_; }
  std::string install() const { return root_ + "/install"; }
  std::string update() const { return root_ + "/update"; }
  std::string registry() const { return root_ + "/registry.reg"; }

  // install_dir as the tool sees it (native path, or its Z: form).
  std::string ToolInstallDir() const;

  // Files and folders below root; relative paths use '/'.
  void Write(const std::string& relative, const std::string& content);
  void MakeFolder(const std::string& relative);
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

 private:
  std::string root_;
};

// The REG_SZ data of text: its bytes and one zero byte.
std::vector<unsigned char> SzData(const std::string& text);

}  // namespace e2e

#endif  // VELMORA_TESTS_E2E_HARNESS_H
