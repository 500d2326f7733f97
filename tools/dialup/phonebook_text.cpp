#include "tools/dialup/phonebook_text.h"

#include <cstring>

namespace {

bool IsGbkLead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

struct Line {
  size_t begin;  // offset of the first byte
  size_t end;    // offset after the text, line end excluded
  size_t next;   // offset of the next line
};

// Splits at LF; a CR before the LF is not part of the text.
bool NextLine(const std::string& text, size_t pos, Line* line) {
  if (pos >= text.size()) return false;
  size_t lf = text.find('\n', pos);
  line->begin = pos;
  line->next = lf == std::string::npos ? text.size() : lf + 1;
  size_t end = lf == std::string::npos ? text.size() : lf;
  if (end > pos && text[end - 1] == '\r') --end;
  line->end = end;
  return true;
}

size_t SkipBom(const std::string& text) {
  return text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
}

// The section name of a "[name]" line, or false when the line is no section header.
bool SectionName(const std::string& text, const Line& line, std::string* name) {
  if (line.end <= line.begin || text[line.begin] != '[') return false;
  size_t close = text.rfind(']', line.end - 1);
  if (close == std::string::npos || close <= line.begin) return false;
  name->assign(text, line.begin + 1, close - line.begin - 1);
  return true;
}

struct SectionSpan {
  size_t begin;  // offset of the "[" line
  size_t end;    // offset of the next section's "[" line, or the end of the text
};

bool FindSection(const std::string& text, const std::string& name, SectionSpan* span) {
  Line line;
  std::string current;
  bool inTarget = false;
  for (size_t pos = SkipBom(text); NextLine(text, pos, &line); pos = line.next) {
    if (!SectionName(text, line, &current)) continue;
    if (inTarget) {
      span->end = line.begin;
      return true;
    }
    if (PbkNameEquals(current, name)) {
      inTarget = true;
      span->begin = line.begin;
    }
  }
  if (inTarget) span->end = text.size();
  return inTarget;
}

std::string CutAtLineEnd(const std::string& s) {
  size_t cut = s.find_first_of("\r\n");
  return cut == std::string::npos ? s : s.substr(0, cut);
}

}  // namespace

const std::string* PbkSection::Find(const char* key) const {
  for (const auto& kv : keys) {
    if (kv.first == key) return &kv.second;
  }
  return nullptr;
}

std::vector<PbkSection> ParsePhonebook(const std::string& text) {
  std::vector<PbkSection> sections;
  Line line;
  std::string name;
  for (size_t pos = SkipBom(text); NextLine(text, pos, &line); pos = line.next) {
    if (SectionName(text, line, &name)) {
      if (sections.size() >= kPbkMaxSections) break;
      sections.push_back(PbkSection());
      sections.back().name = name;
      continue;
    }
    if (sections.empty() || line.end == line.begin) continue;
    char first = text[line.begin];
    if (first == ';' || first == '#') continue;
    size_t eq = text.find('=', line.begin);
    if (eq == std::string::npos || eq >= line.end) continue;
    sections.back().keys.emplace_back(text.substr(line.begin, eq - line.begin),
                                      text.substr(eq + 1, line.end - eq - 1));
  }
  return sections;
}

bool PbkNameEquals(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (IsGbkLead(x) && i + 1 < a.size()) {
      if (x != y || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool PbkNameValid(const std::string& name) {
  if (name.empty() || name.size() > 256) return false;
  if (name[0] == '.' || name[0] == ' ') return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F || c == '[' || c == ']') return false;
  }
  return true;
}

std::string FormatPbkSection(const PbkSection& section) {
  std::string out = "[" + CutAtLineEnd(section.name) + "]\r\n";
  for (const auto& kv : section.keys) {
    if (kv.first.empty()) {
      out += "\r\n";  // an empty key stands for the blank line between blocks
      continue;
    }
    out += CutAtLineEnd(kv.first) + "=" + CutAtLineEnd(kv.second) + "\r\n";
  }
  out += "\r\n";
  return out;
}

std::string ReplacePbkSection(const std::string& text, const std::string& name,
                              const std::string& sectionText) {
  SectionSpan span;
  if (FindSection(text, name, &span)) {
    return text.substr(0, span.begin) + sectionText + text.substr(span.end);
  }
  std::string out = text;
  if (!out.empty() && out.back() != '\n') out += "\r\n";
  return out + sectionText;
}

bool RemovePbkSection(const std::string& text, const std::string& name, std::string* out) {
  SectionSpan span;
  if (!FindSection(text, name, &span)) return false;
  *out = text.substr(0, span.begin) + text.substr(span.end);
  return true;
}
