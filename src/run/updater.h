// The run of the update tool, from the installation lookup to the end of
// one mode. The process entry of each platform calls RunUpdater and ends
// the process with its result.
#ifndef VELMORA_RUN_UPDATER_H
#define VELMORA_RUN_UPDATER_H

// True when the argument text asks for removal mode: its first six
// characters are "remove", ignoring ASCII case.
bool IsRemoveArgument(const char* arguments);

// Runs the whole tool for the argument text (the command line after the
// program's own name). Every message has been shown when it returns.
// Returns the process exit code, which is 0 on every path.
int RunUpdater(const char* arguments);

#endif  // VELMORA_RUN_UPDATER_H
