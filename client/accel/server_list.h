// The acceleration lines published by the service in "groups.xml": one ServerItem per
// line, in document order (groups in order, lines in order within a group).
#pragma once

#include <string>
#include <vector>

struct ServerItem {
  int id = 0;
  std::string group;
  std::string name;
  std::string host;  // host name or dotted address of the line's tunnel server
  int credit = 0;
};

class CServerList {
 public:
  // Appends the lines of a "groups.xml" file. 1 when its Data element was found, else 0
  // with the list left as it was.
  int ReadGroups(const std::string& path);
  // The same from a document text (what ReadGroups parses once the file is loaded).
  int ReadGroupsText(const std::string& text);

  // The first line with this id; when none has it, the first line of the list. Null only
  // for an empty list: callers always get a line while there is one.
  const ServerItem* FindById(int id) const;

  const ServerItem& At(size_t index) const { return m_items[index]; }
  size_t Count() const { return m_items.size(); }
  void Append(const ServerItem& item) { m_items.push_back(item); }

 private:
  std::vector<ServerItem> m_items;
};
