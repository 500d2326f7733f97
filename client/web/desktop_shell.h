// Starting something as the signed-in user while the client runs as administrator: the
// request goes to the desktop's own shell (the user's explorer), which looks up the handler
// in the user's classes and starts it with the user's token, the way a double-click on the
// desktop would. A browser started by the client itself would run elevated, with the http
// handler taken from classes any program of the user can set.
#pragma once

#include <string>

// Asks the desktop's shell to open file (a web address, or a program by its full path) with
// these parameters (may be empty), shown normally. The thread must have initialised COM.
// False when there is no desktop shell to ask (none running, or one that does not answer
// the way Windows' explorer does); nothing has been started then.
bool ShellExecuteAsDesktopUser(const std::string& file, const std::string& parameters);
