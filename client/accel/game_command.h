// The game's start command as its registry value holds it: which key may hold it, and which
// program the command line starts. No operating system: the file system is asked through
// a callback.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Whether a key path relative to HKEY_LOCAL_MACHINE lies under "SOFTWARE\" (any case). The
// list names the key, and the list comes over plain HTTP: no other part of the machine's
// registry is read for a command to run elevated.
bool IsSoftwareKey(const std::string& key);

// Why a game's key is not read for a start command, as a run-log phrase; "" when it may be.
// Beyond IsSoftwareKey: the keys of the system and its shell (SOFTWARE\Microsoft\,
// SOFTWARE\Classes\, SOFTWARE\Policies\ and their Wow6432Node twins) and any uninstall entry
// hold command lines that some program does run, and any of them would start elevated.
// An empty segment ("SOFTWARE\\Microsoft") is refused too: it must not slip past the
// comparison and be read as the key it almost names.
std::string GameKeyRefusal(const std::string& key);

// Why nothing is started for a command line; the reasons ResolveGameProgram gives.
enum GameProgramResult {
  kGameProgramFound,
  kGameProgramNotFullPath,  // relative, a share or a device path, "." or ".." inside
  kGameProgramMissing,      // a full path, but no such file
};

// The program that `command` starts, resolved once so that what runs is what was found:
// quoted, the text inside the quotes; unquoted, the longest prefix ending at a blank (or at
// the end) that names an existing file; either as written or, as Windows does for a name
// without its extension, with ".exe" added. Only a plain full path counts: a drive, a
// backslash, no segment that ends in a dot ("." and ".." among them) and no stream. A
// relative name would be found in whatever the current directory is; "\\?\", "\\.\" and
// shares reach devices and other machines, and dots walk out of the folder that was checked.
GameProgramResult ResolveGameProgram(const std::string& command,
                                     const std::function<bool(const std::string&)>& isFile,
                                     std::string* program);

// Whether `path` is `folder` itself or lies anywhere under it, compared without case.
// Both are plain full paths; a trailing backslash of the folder does not matter.
bool IsInFolder(const std::string& path, const std::string& folder);

// The folder of a program path, without its last backslash ("C:\" keeps it).
std::string ProgramFolderOf(const std::string& program);
