// Readers of the service's "servers.xml": the games, the login servers and the Service
// addresses. Each reader loads the file itself, as every reader of the client's XML files
// does, and reads only the part it is about.
#pragma once

#include <string>
#include <vector>

#include "client/accel/app_item.h"
#include "client/account/login_svr.h"

class CXmlDoc;

// Appends every App of Data/Apps. 0 when the file has no Data element (games unchanged),
// else 1, also when there is no Apps element.
int ReadGames(const std::string& path, std::vector<CAppItem>& games);
int ReadGames(CXmlDoc& doc, std::vector<CAppItem>& games);

// Appends every Server of Data/LoginServer. 0 when there is no Data element, else 1.
int ReadLoginServers(const std::string& path, std::vector<CLoginSvr>& servers);
int ReadLoginServers(CXmlDoc& doc, std::vector<CLoginSvr>& servers);

struct ServiceUrls {
  std::string help;
  std::string registerUrl;
  std::string update;
};

// Replaces the addresses found under Data/Service. The three elements are searched in the
// order help, registerurl, updateurl, each search going on after the element last found,
// so an element listed before one found earlier is passed over. 0 when there is no Data
// element (urls unchanged), else 1.
int ReadServiceUrls(const std::string& path, ServiceUrls& urls);
int ReadServiceUrls(CXmlDoc& doc, ServiceUrls& urls);
