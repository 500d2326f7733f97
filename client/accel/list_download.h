// Downloads of the service's lists into the cache directory. A download lands in a
// temporary file beside its target and replaces the target only when it is complete: a
// refused connection, an error answer of the service or a cut body leaves the copy of an
// earlier run in place, and that copy is what the client then reads.
#pragma once

#include <string>

#include "client/accel/server_list.h"

// Files above this size are not lists: the download is given up.
const unsigned long kListDownloadMaxBytes = 64UL * 1024 * 1024;

// From the start of the request to the last byte: a download that takes longer has
// failed, and the copy of an earlier run serves.
const unsigned long kListDownloadDeadlineMs = 10000;

// URLDownloadToFileA into a temporary file beside target, then the temporary file replaces
// target. True when target now holds the complete answer (status 2xx, every announced
// byte, not empty, a document that loads without any error and has the root element root)
// within the deadline.
bool DownloadListFile(const std::string& url, const std::string& target, const char* root);

// The refresh at start: "servers.xml" and "groups.xml" are fetched, each a document with
// the root Data (their outcome is not checked: a failed download leaves the earlier file),
// then the lines of "groups.xml" are
// appended to lines. 1 when its Data element was found, else 0.
int RefreshAndReadLines(const std::string& serversUrl, const std::string& serversPath,
                        const std::string& groupsUrl, const std::string& groupsPath,
                        CServerList& lines);
