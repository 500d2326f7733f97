// What a phonebook entry would have the dial-up service load: the entry's CustomDialDll and
// CustomRasDialDll keys name libraries that run inside the dialling process. The phonebook is
// a file in a folder the client trusts only as far as its access list goes.
#pragma once

#include <string>

// The first library named by a section of that entry (names compared without regard to
// case, as the dial-up service does), or empty. Text in ANSI or UTF-8, or UTF-16 with its
// byte-order mark.
std::string PhonebookEntryLibrary(const std::string& text, const std::string& entry);
