// The collector's two requests to the service, through the URL download services.
#pragma once

#include <string>

// The game list is not worth more than this; a larger answer is given up.
const unsigned long kGameListMaxBytes = 16UL * 1024 * 1024;

// Downloads url into target + ".tmp" and lets it replace target only when it is complete
// (status 2xx, every announced byte, not empty) and a document that loads without any
// error and has the root element root: a failed download, an error page or a cut list never
// destroys the copy an earlier run left. True when target now holds the answer.
bool FetchListFile(const std::string& url, const std::string& target, const char* root);

// One report request (URLDownloadToCacheFileA). True only when the service answered it
// with a 2xx status: the caller marks the addresses as reported on that alone.
bool RequestReport(const std::string& url);
