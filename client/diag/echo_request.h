// The latency check's ICMP echo request and the test of an answer's sender.
#pragma once

#include <cstddef>
#include <cstdint>

const size_t kEchoRequestBytes = 64;

// RFC 1071 checksum of the bytes, as the 16-bit value to store big-endian.
uint16_t InternetChecksum(const uint8_t* data, size_t length);

// Type 8, code 0, identifier and sequence in network byte order, "0123456789" repeated as
// the data, checksum over all 64 bytes.
void BuildEchoRequest(uint8_t* packet, uint16_t identifier, uint16_t sequence);

// True when a received IPv4 packet (header included) comes from the address, given in
// network byte order as it stands in memory. Too short a packet comes from nobody.
bool PacketFromAddress(const uint8_t* packet, size_t length, uint32_t address);
