#include "collector/game_table.h"

#include "common/decimal_text.h"
#include "common/xml_doc.h"

// The client reads the numbers of its own lists the same way; its int is the 32-bit range
// an app_id holds on every target.
static_assert(sizeof(int) == sizeof(int32_t), "DecimalToInt must give 32-bit values");
int32_t ParseAppId(const std::string& text) { return DecimalToInt(text); }

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
