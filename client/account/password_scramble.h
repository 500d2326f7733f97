// The form in which a remembered password is kept in user.ini: every byte at an odd
// position (counted from 0) is one higher, even positions are unchanged. Both directions
// work in a 1024-byte zeroed buffer, so a result is cut at its first zero byte and at 1023
// bytes.
#pragma once

#include <string>

std::string ScramblePassword(const std::string& plain);
std::string UnscramblePassword(const std::string& stored);
