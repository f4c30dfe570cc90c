// The tool with its file-writing system calls counted, for the scenarios
// that kill it at chosen points. It is the tool in every other respect:
// the same core and backend, the same entry.
//
//   VELMORA_CALLS_FILE=PATH   at a normal end, writes one letter per call
//                             in call order (w write, f fsync, l naming a
//                             temporary file, r rename)
//   VELMORA_KILL_AT_CALL=N    kills itself with SIGKILL just before call N
//                             (from 1)
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/posix_syscalls.h"
#include "run/updater.h"

namespace {

std::string calls;
unsigned long kill_at = 0;
posix_syscalls::Table real;

void Count(char kind) {
  calls += kind;
  if (calls.size() == kill_at) std::raise(SIGKILL);
}

ssize_t CountedWrite(int fd, const void* data, std::size_t size) {
  Count('w');
  return real.write(fd, data, size);
}

int CountedFsync(int fd) {
  Count('f');
  return real.fsync(fd);
}

int CountedLinkat(int from_folder, const char* from, int to_folder,
                  const char* to, int flags) {
  Count('l');
  return real.linkat(from_folder, from, to_folder, to, flags);
}

int CountedRename(const char* from, const char* to) {
  Count('r');
  return real.rename(from, to);
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  if (const char* at = std::getenv("VELMORA_KILL_AT_CALL")) {
    kill_at = std::strtoul(at, nullptr, 10);
  }
  real = posix_syscalls::calls;
  posix_syscalls::calls = {CountedWrite, CountedFsync, CountedLinkat,
                           CountedRename};
  std::string arguments;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) arguments += ' ';
    arguments += argv[i];
  }
  const int result = RunUpdater(arguments.c_str());
  if (const char* path = std::getenv("VELMORA_CALLS_FILE")) {
    if (std::FILE* file = std::fopen(path, "w")) {
      std::fputs(calls.c_str(), file);
      std::fclose(file);
    }
  }
  return result;
}
