// Phonebook entries as the dial-up service keeps them: the entry structure written to and
// read from a .pbk file (phonebook_text.h has the text format).
#pragma once

#include <windows.h>
#include <ras.h>

#include <string>
#include <vector>

namespace dialup {

// The phonebook a caller means: the given path, or for null or "" the user's default
// phonebook, %APPDATA%\Microsoft\Network\Connections\Pbk\rasphone.pbk.
std::string PhonebookPath(const char* given);

// Reads the entry into *entry (every field but dwSize is overwritten). 0, or
// ERROR_CANNOT_FIND_PHONEBOOK_ENTRY (623) when the file or the entry does not exist, or
// ERROR_CANNOT_LOAD_PHONEBOOK (622) when the file cannot be read.
DWORD LoadEntry(const std::string& phonebook, const std::string& name, RASENTRYA* entry);

// Writes the entry, creating the file when needed (and, for the default phonebook, its
// folder); other entries of the file are kept. 0 or ERROR_CANNOT_WRITE_PHONEBOOK (624).
DWORD StoreEntry(const std::string& phonebook, const std::string& name, const RASENTRYA& entry);

// 0, or ERROR_CANNOT_FIND_PHONEBOOK_ENTRY, or ERROR_CANNOT_WRITE_PHONEBOOK.
DWORD DeleteEntry(const std::string& phonebook, const std::string& name);

// Names of the file's entries in file order; an absent file has none.
DWORD ListEntries(const std::string& phonebook, std::vector<std::string>* names);

// The values a new entry gets (what an empty entry name returns).
void DefaultEntry(RASENTRYA* entry);

}  // namespace dialup
