// Starts a Windows program with an exact command line, for scripts/wine-run.
//
// Wine builds a program's command line from its Unix arguments and quotes
// each one that holds a blank or a quotation mark, so `wine prog.exe "a b"`
// hands the program "a b" in quotes. The scenarios need the command line
// that a user would type: the arguments joined by spaces, untouched. This
// launcher takes that text from VELMORA_WINE_COMMAND_LINE, starts the
// program named by its first argument with it, waits, and ends with the
// program's exit code.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr char kCommandLineVariable[] = "VELMORA_WINE_COMMAND_LINE";
// Exit code of the launcher itself when it cannot start the program, the
// same as a shell's "found but not executable".
constexpr int kCannotStart = 126;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velmora-wine-launch PROGRAM.exe\n");
    return kCannotStart;
  }
  const char* arguments = std::getenv(kCommandLineVariable);
  std::string command_line = "\"";
  command_line += argv[1];
  command_line += "\"";
  if (arguments != nullptr && *arguments != '\0') {
    command_line += ' ';
    command_line += arguments;
  }

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(argv[1], &command_line[0], nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "velmora-wine-launch: cannot start %s: error %lu\n",
                 argv[1], GetLastError());
    return kCannotStart;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(process.hProcess, &exit_code)) {
    exit_code = kCannotStart;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(exit_code);
}
