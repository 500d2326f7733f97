#include "client/accel/server_list.h"

#include "common/decimal_text.h"
#include "common/xml_doc.h"

namespace {

int ReadGroupsFromDoc(CXmlDoc& doc, std::vector<ServerItem>& out) {
  // The load result is not asked: a document that did not parse cleanly still has an index
  // of what could be read, and the lines found in it are used.
  if (!doc.FindNext("Data")) return 0;
  doc.Enter();
  while (doc.FindNext("Group")) {
    std::string group = doc.GetAttribute("name");
    doc.Enter();
    while (doc.FindNext("Server")) {
      ServerItem item;
      item.credit = DecimalToInt(doc.GetAttribute("credit"));
      item.host = doc.GetAttribute("host");
      item.name = doc.GetAttribute("name");
      item.id = DecimalToInt(doc.GetAttribute("id"));
      item.group = group;
      out.push_back(item);
    }
    doc.Leave();
  }
  doc.Leave();
  return 1;
}

}  // namespace

int CServerList::ReadGroups(const std::string& path) {
  CXmlDoc doc;
  doc.LoadFile(path);
  return ReadGroupsFromDoc(doc, m_items);
}

int CServerList::ReadGroupsText(const std::string& text) {
  CXmlDoc doc(text);
  return ReadGroupsFromDoc(doc, m_items);
}

const ServerItem* CServerList::FindById(int id) const {
  if (m_items.empty()) return nullptr;
  for (const ServerItem& item : m_items)
    if (item.id == id) return &item;
  return &m_items.front();
}
