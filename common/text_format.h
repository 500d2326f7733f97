// Text formatting shared by every deliverable: printf-style texts of any length, texts cut
// to a fixed buffer, the run log's time prefix and command-line quoting. No operating system.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

// The whole formatted text, however long.
std::string VFormat(const char* fmt, va_list ap);
std::string Format(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(gnu_printf, 1, 2)))
#endif
    ;

// Formats into buf[cap]; a longer result is cut to cap - 1 bytes. Always zero-terminated
// (for cap > 0). Returns the length written.
size_t VFormatCut(char* buf, size_t cap, const char* fmt, va_list ap);
size_t FormatCut(char* buf, size_t cap, const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(gnu_printf, 3, 4)))
#endif
    ;

// Copies src into dst[cap], cut to cap - 1 bytes; never writes past the end. Returns the
// length copied.
size_t CopyCut(char* dst, size_t cap, const char* src);

struct LogTime {
  int year, month, day, hour, minute, second, millis;
};

// "[2026/12/07 09:05:03.007] ": the run log's record prefix.
std::string FormatLogPrefix(const LogTime& t);

// The text with every control byte (below 0x20, and 0x7F) shown as '?': a text from a
// downloaded list written into a log line can then neither end the line nor forge the
// next. GBK trail bytes are never below 0x40, so double-byte characters stay whole.
std::string ShowControlBytes(const std::string& text);

// The bytes of text for a URL's query: letters, digits and "-._~" as they are, every other
// byte (GBK ones included) as "%XX". A name with '&', '#' or '=' in it then stays one value.
std::string PercentEncode(const std::string& text);

// True when every GBK lead byte (0x81-0xFE) of text has a trail byte (0x40-0x7E,
// 0x80-0xFE) after it.
bool IsWholeGbk(const std::string& text);

// One argument quoted so that the Windows command-line splitting rules give it back
// unchanged: surrounded by double quotes, embedded quotes escaped, backslashes doubled
// where they come before a quote. GBK double-byte characters are kept whole, so a trail
// byte 0x5C is never taken for a backslash. False (and *quoted untouched) when arg is not
// whole GBK: a program that reads its command line in code page 936 takes the byte after
// any lead byte as its trail, an escaping backslash included, so no quoting can hold such
// an argument together.
bool QuoteCommandArg(const std::string& arg, std::string* quoted);

// True when rasdial reads the value as something other than a value, whatever the quotes
// around it (they are gone once the command line is split): a switch when it starts with
// '/' ("/DISCONNECT", "/PHONEBOOK:\\host\share\x.pbk") or '-', which it reads alike, or,
// as "*", the sign to ask for the password on a console nobody sees, so the dial would
// wait for ever.
bool IsRasdialSwitch(const std::string& value);
