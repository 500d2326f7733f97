// The program folder's own check: the facts of a folder as Windows keeps them, and the
// process's verdict on the folder it runs from, taken once before anything there is loaded.
#pragma once

#include <string>

#include "common/dir_trust.h"

DirFacts ReadDirFacts(const std::string& path);

// Checks the program folder and its Cache, logs each that fails and why, and remembers the
// verdict. True when both may be changed by administrators alone.
bool CheckProgramDir(const std::string& programDir);

// The warning for the user once, after a failed check: null before, after and otherwise.
const char* TakeProgramDirWarning();
