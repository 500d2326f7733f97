// What the embedded web view may do with an address. Its pages come over plain HTTP into a
// control of an elevated process: anyone on the path can write them. The view goes only to
// web pages and the browser's own blank pages; anything else (local files, the control's
// resource pages, help files, other protocol handlers) is refused, and an address that a
// page wants in a new window goes to the user's own browser instead, as the user.
#pragma once

#include <string>

namespace nav {

// True for an address whose scheme is "http", "https" or "about" (in any letter case),
// written exactly at its start: no blanks or control characters before it.
bool IsViewAddress(const std::string& url);

// The address as it may be handed to the shell for the user's browser: only an "http://"
// or "https://" address with a host, no control characters, at most 2,048 bytes. Blanks,
// quotes, the characters a command line or shell treats specially and bytes outside ASCII
// are percent-encoded (the handler's command line quotes the address whole, so a quote in
// it would end the argument). "" when the address is refused.
std::string UserBrowserAddress(const std::string& url);

}  // namespace nav
