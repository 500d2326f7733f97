// The phonebook file's text: sections "[entry name]" followed by "Key=Value" lines, the way
// the system's dial-up service keeps its .pbk files. No operating system here; the mapping
// to the entry structure lives in phonebook_win.cpp.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct PbkSection {
  std::string name;
  // In file order. Keys are case-sensitive: the file uses "Device" (the modem/port name
  // under MEDIA) and "DEVICE" (the device type that opens the phone-number block).
  std::vector<std::pair<std::string, std::string>> keys;

  // First value of the key, or null.
  const std::string* Find(const char* key) const;
};

// Files larger than this are refused by the readers (a phonebook is a few kilobytes).
const size_t kPbkMaxFileBytes = 1024 * 1024;
// At most this many sections are read; the rest of a file is ignored.
const size_t kPbkMaxSections = 4096;

// All sections of a file, in order. Blank lines, comment lines (';' or '#') and lines
// outside any section are skipped; CR LF and LF line ends and a UTF-8 byte-order mark are
// accepted. Never fails: text that is not a phonebook just yields fewer sections.
std::vector<PbkSection> ParsePhonebook(const std::string& text);

// Entry names compare like the service compares them: ASCII letters without regard to case,
// double-byte characters byte for byte (a trail byte is never folded).
bool PbkNameEquals(const std::string& a, const std::string& b);

// A name the service accepts: 1 to 256 bytes, no control characters, no '[' or ']', not
// starting with '.' or a blank.
bool PbkNameValid(const std::string& name);

// One section as text, CR LF line ends, followed by an empty line. Values are cut at the
// first CR or LF so that a value can never start a line of its own.
std::string FormatPbkSection(const PbkSection& section);

// The file text with the named section replaced by (or, when absent, followed by) the new
// section text; other sections and their text stay as they were.
std::string ReplacePbkSection(const std::string& text, const std::string& name,
                              const std::string& sectionText);

// The file text without the named section; false when there was none.
bool RemovePbkSection(const std::string& text, const std::string& name, std::string* out);
