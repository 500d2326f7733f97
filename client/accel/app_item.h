// One game of the service's list ("servers.xml", element App): what the user picks on the
// acceleration page and where its start command lives in the registry.
#pragma once

#include <string>
#include <vector>

class CAppItem {
 public:
  CAppItem() {}
  CAppItem(int id, const std::string& name, const std::string& regKey, const std::string& regValue)
      : m_id(id), m_name(name), m_regKey(regKey), m_regValue(regValue) {}

  int m_id = 0;
  std::string m_name;      // shown to the user and in the launch question
  std::string m_regKey;    // key under HKEY_LOCAL_MACHINE holding the start command
  std::string m_regValue;  // name of the value under that key
};

// The first game with this id, or null.
const CAppItem* FindAppById(const std::vector<CAppItem>& apps, int id);
