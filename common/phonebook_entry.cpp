#include "common/phonebook_entry.h"

#include <cstddef>

namespace {

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r\n";
  std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// UTF-16 little-endian with its mark: the keys and section names that matter are ASCII, so
// the low bytes are enough, and any other character only stays something that is not ASCII.
std::string Narrow(const std::string& text) {
  if (text.size() < 2 || static_cast<unsigned char>(text[0]) != 0xFF ||
      static_cast<unsigned char>(text[1]) != 0xFE)
    return text;
  std::string narrow;
  for (std::size_t i = 2; i + 1 < text.size(); i += 2)
    narrow += text[i + 1] ? '?' : text[i];
  return narrow;
}

}  // namespace

std::string PhonebookEntryLibrary(const std::string& raw, const std::string& entry) {
  const std::string text = Narrow(raw);
  bool inEntry = false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(start, end - start));
    start = end + 1;
    if (line.size() >= 3 && static_cast<unsigned char>(line[0]) == 0xEF &&
        static_cast<unsigned char>(line[1]) == 0xBB && static_cast<unsigned char>(line[2]) == 0xBF)
      line = Trim(line.substr(3));
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      std::size_t close = line.find(']');
      inEntry = close != std::string::npos && SameIgnoringCase(line.substr(1, close - 1), entry);
      continue;
    }
    if (!inEntry) continue;
    std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = Trim(line.substr(0, equals));
    if (!SameIgnoringCase(key, "CustomDialDll") && !SameIgnoringCase(key, "CustomRasDialDll"))
      continue;
    std::string value = Trim(line.substr(equals + 1));
    if (!value.empty()) return value;
  }
  return std::string();
}
