// The collector's game table: the games of the service's list "apps.xml", keyed by the
// executable file name that the process list shows for them.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

class CXmlDoc;

struct GameEntry {
  int32_t app_id = 0;     // the service's number for the game, sent in reports
  std::string exefile;    // file name with extension, as the process list shows it
  std::string name;       // display name, used in the notification texts
  // Addresses done with for this game during this run: the service accepted a report of
  // them, or refused every one of kMaxReportTries reports that carried them.
  std::set<std::string> reported;
  // Addresses whose reports failed so far, with the number of failed reports.
  std::map<std::string, uint32_t> failedReports;
};

// A report that the service keeps refusing (an error page, a moved path) would otherwise
// be sent again for the rest of the run.
const uint32_t kMaxReportTries = 3;

// Compared byte by byte: Game.EXE is not game.exe.
typedef std::map<std::string, GameEntry> GameTable;

// Leading blanks, an optional sign, then the leading digits: "12abc" gives 12, "" and
// "abc" give 0. A hostile list cannot wrap a long digit run into another game's number:
// values beyond the 32-bit range stay at its ends.
int32_t ParseAppId(const std::string& text);

// Reads the game elements of a loaded list: root "data", children "game" with the
// attributes app_id, name and exefile. A later game with the same exefile replaces an
// earlier one. False (table untouched) when the document has no "data" root.
bool ReadGameList(CXmlDoc& doc, GameTable* games);
