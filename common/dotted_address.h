// Dotted IPv4 addresses read from texts that come from outside (downloaded route lists, the
// routing requests of the simulated network, command lines). No operating system.
#pragma once

#include <cstdint>
#include <string>

// A dotted IPv4 address exactly: four decimal parts of 0 to 255, nothing before, between or
// after. A part with a leading zero ("010") is refused: inet_addr and the system's own tools
// read it as octal, so the same text would name another host there. inet_addr takes far more
// ("1", "0x7f.1", "") and makes all ones of a failure. *addr is in network byte order (the
// bytes in the order written, as in_addr and the routing table hold them); untouched on
// failure.
bool ParseDottedAddress(const std::string& text, uint32_t* addr);

// The same in host byte order (the first part in the top byte), for arithmetic on masks and
// prefixes.
bool ParseDottedAddressHostOrder(const std::string& text, uint32_t* value);
