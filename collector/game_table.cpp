#include "collector/game_table.h"

#include "common/xml_doc.h"

int32_t ParseAppId(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                             text[i] == '\v' || text[i] == '\f' || text[i] == '\r'))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const int64_t limit = static_cast<int64_t>(INT32_MAX) + 1;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > limit) value = limit;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return static_cast<int32_t>(value);
}

bool ReadGameList(CXmlDoc& doc, GameTable* games) {
  if (!doc.FindNext("data")) return false;
  doc.Enter();
  while (doc.FindNext("game")) {
    GameEntry entry;
    entry.app_id = ParseAppId(doc.GetAttribute("app_id"));
    entry.name = doc.GetAttribute("name");
    entry.exefile = doc.GetAttribute("exefile");
    (*games)[entry.exefile] = entry;
  }
  return true;
}
