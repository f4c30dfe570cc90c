// The end-to-end harness: sandboxes and tool runs.
#include "harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "gtest/gtest.h"
#include "platform/regfile.h"

namespace e2e {
namespace {

constexpr char kSettingsKey[] =
    "HKEY_USERS\\.DEFAULT\\Software\\Corvane\\Velmora";
constexpr int kRunTimeoutSeconds = 180;
// The Windows build's message texts reach the harness through Wine's trace,
// which keeps about 289 characters of the text written with C escapes (a
// line break counts two, a byte above 0x7e five). A text longer than that
// is compared by the start that arrived, which must not be much shorter.
constexpr std::size_t kLongestTracedText = 288;
constexpr std::size_t kShortestTracedStart = 200;

std::size_t EscapedLength(const std::string& text) {
  std::size_t length = 0;
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\n' || c == '\r' || c == '\t' || c == '\\' || c == '"') {
      length += 2;
    } else if (byte < 0x20 || byte > 0x7e) {
      length += 5;
    } else {
      length += 1;
    }
  }
  return length;
}

std::vector<std::string> SplitWords(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void RemoveTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    chmod(path.c_str(), 0700);
    if (DIR* dir = opendir(path.c_str())) {
      while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") RemoveTree(path + "/" + name);
      }
      closedir(dir);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

void Walk(const std::string& base, const std::string& relative,
          std::vector<std::pair<std::string, std::string>>* out) {
  const std::string path = relative.empty() ? base : base + "/" + relative;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string rel = relative.empty() ? name : relative + "/" + name;
    struct stat st;
    if (lstat((base + "/" + rel).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      out->emplace_back(rel + "/", "d");
      Walk(base, rel, out);
    } else {
      out->emplace_back(rel, ReadWholeFile(base + "/" + rel));
    }
  }
}

}  // namespace

bool ParseMessages(const std::string& err, std::vector<Message>* messages) {
  messages->clear();
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < err.size()) {
    std::size_t end = err.find('\n', start);
    if (end == std::string::npos) return false;  // every line ends
    lines.push_back(err.substr(start, end - start));
    start = end + 1;
  }
  for (std::size_t i = 0; i < lines.size();) {
    if (lines[i].rfind("+-- ", 0) != 0) return false;
    Message message;
    message.caption = lines[i].substr(4);
    bool first = true;
    for (++i;; ++i) {
      if (i == lines.size()) return false;
      const std::string& line = lines[i];
      if (line == "+--") break;
      std::string text_line;
      if (line == "|") {
        text_line = "";
      } else if (line.rfind("| ", 0) == 0) {
        text_line = line.substr(2);
      } else {
        return false;
      }
      if (!first) message.text += '\n';
      message.text += text_line;
      first = false;
    }
    ++i;
    messages->push_back(message);
  }
  return true;
}

bool ToolSeesWindowsPaths() {
  const char* style = std::getenv("VELMORA_TOOL_PATHS");
  return style != nullptr && std::string(style) == "windows";
}

bool TextMatches(const std::string& expected, const std::string& actual) {
  if (expected == actual) return true;
  if (!ToolSeesWindowsPaths()) return false;
  if (EscapedLength(expected) <= kLongestTracedText) return false;
  return EscapedLength(actual) >= kShortestTracedStart &&
         actual.size() < expected.size() &&
         expected.compare(0, actual.size(), actual) == 0;
}

std::vector<unsigned char> SzData(const std::string& text) {
  std::vector<unsigned char> data(text.begin(), text.end());
  data.push_back(0);
  return data;
}

Sandbox::Sandbox() : Sandbox(0) {}

Sandbox::Sandbox(int depth) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr ? tmp : "/tmp") + "/velmora-e2e-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed: " << std::strerror(errno);
  }
  outer_ = buffer.data();
  root_ = outer_;
  for (int level = 1; level <= depth; ++level) {
    root_ += "/level" + std::to_string(level);
    if (mkdir(root_.c_str(), 0755) != 0) {
      ADD_FAILURE() << "cannot make folder " << root_;
    }
  }
  MakeFolder("install");
  MakeFolder("update");
}

Sandbox::~Sandbox() {
  if (std::getenv("VELMORA_KEEP_SANDBOX") == nullptr) RemoveTree(outer_);
}

std::string Sandbox::ToolInstallDir() const {
  if (!ToolSeesWindowsPaths()) return install();
  std::string path = "Z:" + install();
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

void Sandbox::Write(const std::string& relative, const std::string& content) {
  const std::string path = root_ + "/" + relative;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

void Sandbox::MakeFolder(const std::string& relative) {
  const std::string path = root_ + "/" + relative;
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
    ADD_FAILURE() << "cannot make folder " << path;
  }
}

std::string Sandbox::MakeFolderOfLength(std::size_t length) {
  constexpr std::size_t kLongestPart = 60;
  std::string relative = "install";
  std::size_t size = install().size();
  while (size < length) {
    // Each part costs a separator; never leave a remainder of one, which
    // could not hold a name.
    std::size_t part = std::min(kLongestPart, length - size - 1);
    if (length - size - 1 - part == 1) --part;
    relative += "/" + std::string(part, 'L');
    size += part + 1;
    MakeFolder(relative);
  }
  if (size != length) ADD_FAILURE() << "cannot make a path of " << length;
  return relative;
}

std::string Sandbox::Read(const std::string& relative) const {
  return ReadWholeFile(root_ + "/" + relative);
}

bool Sandbox::Exists(const std::string& relative) const {
  struct stat st;
  return lstat((root_ + "/" + relative).c_str(), &st) == 0;
}

bool Sandbox::IsFolder(const std::string& relative) const {
  struct stat st;
  return stat((root_ + "/" + relative).c_str(), &st) == 0 &&
         S_ISDIR(st.st_mode);
}

void Sandbox::SetReadOnly(const std::string& relative) {
  const std::string path = root_ + "/" + relative;
  struct stat st;
  if (stat(path.c_str(), &st) != 0 ||
      chmod(path.c_str(), st.st_mode & ~static_cast<mode_t>(0222)) != 0) {
    ADD_FAILURE() << "cannot make read-only " << path;
  }
}

void Sandbox::SetDosAttributes(const std::string& relative, unsigned bits) {
  const std::string path = root_ + "/" + relative;
  char value[16];
  std::snprintf(value, sizeof value, "0x%x", bits);
  if (setxattr(path.c_str(), "user.DOSATTRIB", value, std::strlen(value), 0) !=
      0) {
    ADD_FAILURE() << "cannot set user.DOSATTRIB on " << path << ": "
                  << std::strerror(errno);
  }
}

std::vector<std::pair<std::string, std::string>> Sandbox::Tree() const {
  std::vector<std::pair<std::string, std::string>> tree;
  Walk(root_, "install", &tree);
  Walk(root_, "update", &tree);
  return tree;
}

std::vector<std::pair<std::string, std::string>> TreeAt(
    const std::string& path) {
  std::vector<std::pair<std::string, std::string>> tree;
  Walk(path, "", &tree);
  return tree;
}

std::vector<std::pair<std::string, std::string>> Sandbox::TreeOf(
    const std::string& relative) const {
  std::vector<std::pair<std::string, std::string>> tree;
  Walk(relative.empty() ? root_ : root_ + "/" + relative, "", &tree);
  return tree;
}

void Sandbox::WriteRegistryPath(const std::string& path) {
  std::string escaped;
  for (char c : path) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  WriteRegistryText("REGEDIT4\r\n\r\n[" + std::string(kSettingsKey) +
                    "]\r\n\"Path\"=\"" + escaped + "\"\r\n\r\n");
}

void Sandbox::WriteRegistryText(const std::string& text) {
  std::ofstream out(registry(), std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

bool Sandbox::RegistryValue(const std::string& name, unsigned long* type,
                            std::vector<unsigned char>* data) const {
  const std::string text = ReadWholeFile(registry());
  regfile::Document document;
  if (!regfile::Parse(reinterpret_cast<const unsigned char*>(text.data()),
                      text.size(), &document)) {
    return false;
  }
  const regfile::Key* key = regfile::FindKey(&document, kSettingsKey);
  if (key == nullptr) return false;
  const regfile::Value* value = regfile::FindValue(*key, name);
  if (value == nullptr) return false;
  *type = value->type;
  *data = value->data;
  return true;
}

bool Sandbox::RegistryKeyExists() const {
  const std::string text = ReadWholeFile(registry());
  regfile::Document document;
  return regfile::Parse(reinterpret_cast<const unsigned char*>(text.data()),
                        text.size(), &document) &&
         regfile::FindKey(&document, kSettingsKey) != nullptr;
}

RunResult Sandbox::Run(const std::vector<std::string>& args) const {
  return Run(args, RunOptions());
}

RunResult Sandbox::Run(const std::vector<std::string>& args,
                       const RunOptions& options) const {
  RunResult result;
  std::vector<std::string> words = options.tool;
  if (words.empty()) {
    const char* tool = std::getenv("VELMORA_TOOL");
    if (tool == nullptr || *tool == '\0') {
      ADD_FAILURE() << "VELMORA_TOOL names no command";
      return result;
    }
    words = SplitWords(tool);
  }
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);

  const std::string out_path = root_ + "/.stdout";
  const std::string err_path = root_ + "/.stderr";
  const std::string dir = update();
  const std::string reg = registry();
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
        dup2(err, 2) < 0 || chdir(dir.c_str()) != 0 ||
        setenv("VELMORA_REGISTRY", reg.c_str(), 1) != 0) {
      _exit(126);
    }
    for (const auto& variable : options.environment) {
      if (setenv(variable.first.c_str(), variable.second.c_str(), 1) != 0) {
        _exit(126);
      }
    }
    if (options.file_size_limit != 0) {
      // Ignored signals stay ignored across exec.
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit;
      limit.rlim_cur = options.file_size_limit;
      limit.rlim_max = options.file_size_limit;
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (pid < 0) {
    ADD_FAILURE() << "fork failed";
    return result;
  }
  int status = 0;
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + std::chrono::seconds(kRunTimeoutSeconds);
  bool kill_sent = false;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (options.kill_after_microseconds >= 0 && !kill_sent) {
      const auto kill_at =
          start + std::chrono::microseconds(options.kill_after_microseconds);
      const auto now = std::chrono::steady_clock::now();
      if (now < kill_at) {
        // Sleep in small steps so that the kill lands close to its time.
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(
                kill_at - now, std::chrono::microseconds(200)));
        continue;
      }
      kill(pid, SIGKILL);
      kill_sent = true;
      continue;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "the tool did not end within " << kRunTimeoutSeconds
                    << " s";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  result.out = ReadWholeFile(out_path);
  result.err = ReadWholeFile(err_path);
  unlink(out_path.c_str());
  unlink(err_path.c_str());
  result.err_well_formed = ParseMessages(result.err, &result.messages);
  return result;
}

}  // namespace e2e
