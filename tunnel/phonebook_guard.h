// The phonebook is dialled only when its entry names no library for the dial-up service to
// load: whoever could write one there would have it run with the dialler's rights.
#pragma once

#include <windows.h>

#include <string>

// 0 when the entry of that phonebook names no library (or the file is not there yet);
// otherwise one log line, WM_CORE_ERROR to the running worker, and the code returned.
DWORD RefusePhonebookLibrary(const std::string& phonebook);
