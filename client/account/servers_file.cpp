#include "client/account/servers_file.h"

#include "common/decimal_text.h"
#include "common/xml_doc.h"

int ReadGames(CXmlDoc& doc, std::vector<CAppItem>& games) {
  if (!doc.FindNext("Data")) return 0;
  doc.Enter();
  if (doc.FindNext("Apps")) {
    doc.Enter();
    while (doc.FindNext("App")) {
      std::string regValue = doc.GetAttribute("RegValue");
      std::string regKey = doc.GetAttribute("RegKey");
      int id = DecimalToInt(doc.GetAttribute("Id"));
      std::string name = doc.GetAttribute("Name");
      games.push_back(CAppItem(id, name, regKey, regValue));
    }
    doc.Leave();
  }
  doc.Leave();
  return 1;
}

int ReadGames(const std::string& path, std::vector<CAppItem>& games) {
  CXmlDoc doc;
  doc.LoadFile(path);
  return ReadGames(doc, games);
}

int ReadLoginServers(CXmlDoc& doc, std::vector<CLoginSvr>& servers) {
  if (!doc.FindNext("Data")) return 0;
  doc.Enter();
  if (doc.FindNext("LoginServer")) {
    doc.Enter();
    while (doc.FindNext("Server")) {
      // A number that is no port becomes port 0: connecting to it fails and the login goes
      // on to the next server, instead of reaching some other port of this one.
      int port = DecimalToInt(doc.GetAttribute("Port"));
      if (port < 0 || port > 65535) port = 0;
      std::string address = doc.GetAttribute("Address");
      servers.push_back(CLoginSvr(address, static_cast<uint16_t>(port)));
    }
    doc.Leave();
  }
  doc.Leave();
  return 1;
}

int ReadLoginServers(const std::string& path, std::vector<CLoginSvr>& servers) {
  CXmlDoc doc;
  doc.LoadFile(path);
  return ReadLoginServers(doc, servers);
}

int ReadServiceUrls(CXmlDoc& doc, ServiceUrls& urls) {
  if (!doc.FindNext("Data")) return 0;
  doc.Enter();
  if (doc.FindNext("Service")) {
    doc.Enter();
    // FindNext leaves the position where it was when it fails, so a missing element does
    // not move the start of the next search.
    if (doc.FindNext("help")) urls.help = doc.GetText();
    if (doc.FindNext("registerurl")) urls.registerUrl = doc.GetText();
    if (doc.FindNext("updateurl")) urls.update = doc.GetText();
    doc.Leave();
  }
  doc.Leave();
  return 1;
}

int ReadServiceUrls(const std::string& path, ServiceUrls& urls) {
  CXmlDoc doc;
  doc.LoadFile(path);
  return ReadServiceUrls(doc, urls);
}
