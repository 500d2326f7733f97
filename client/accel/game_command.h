// The game's start command as its registry value holds it: which key may hold it, and which
// program the command line starts. No operating system: the file system is asked through
// a callback.
#pragma once

#include <functional>
#include <string>

// Whether a key path relative to HKEY_LOCAL_MACHINE lies under "SOFTWARE\" (any case). The
// list names the key, and the list comes over plain HTTP: no other part of the machine's
// registry is read for a command to run elevated.
bool IsSoftwareKey(const std::string& key);

// The program that `command` starts, resolved once so that what runs is what was found:
// quoted, the text inside the quotes; unquoted, the longest prefix ending at a blank (or at
// the end) that names an existing file, as written or with ".exe" added. Only a full path
// counts (a drive and a backslash, or a share): a relative name would be found in whatever
// the current directory is. False when nothing fits.
bool ResolveGameProgram(const std::string& command,
                        const std::function<bool(const std::string&)>& isFile,
                        std::string* program);

// The folder of a program path, without its last backslash ("C:\" keeps it).
std::string ProgramFolderOf(const std::string& program);
