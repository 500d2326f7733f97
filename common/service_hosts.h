// The four hosts of the service. The compiled-in names lie under a reserved example
// domain; an optional "service.ini" beside the program replaces any of them, so that a run
// can use a local stand-in of the service. Paths, queries and ports stay those of the
// client: lists on port 8080 of the client host, pages on port 80.
#pragma once

#include <string>

struct ServiceHosts {
  std::string client;  // pages, lists, reports and uploads
  std::string web;     // the product's public site, register and password pages, update file
  std::string forum;   // the default register page
  std::string login;   // a ping target of the diagnostic report
};

ServiceHosts DefaultServiceHosts();

// Section [Service], keys ClientHost, WebHost, ForumHost, LoginHost. A missing file or key,
// or a value that is no host name or dotted address, keeps the default of that host.
ServiceHosts ReadServiceHosts(const std::string& iniPath);

// Letters, digits, '.', '-' and '_' only, 1 to 253 bytes: nothing that could carry a port,
// path, query or user part into the addresses built from it.
bool IsServiceHostName(const std::string& host);
