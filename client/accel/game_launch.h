// The game's start command as this machine holds it: the registry value the game list
// names, expanded and resolved to the one program that will run. Everything refused here
// would otherwise start elevated on the word of a list that came over plain HTTP.
#pragma once

#include <string>

struct GameLaunch {
  std::string commandLine;  // what the program reads as its arguments
  std::string program;      // its full path, as found
};

// False when there is nothing to offer; *why then holds the reason, a phrase for the run
// log (texts from the list shown with their control bytes made harmless).
bool FindGameLaunch(const std::string& regKey, const std::string& regValue, GameLaunch* launch,
                    std::string* why);
