#include "client/diag/echo_request.h"

#include <cstring>

uint16_t InternetChecksum(const uint8_t* data, size_t length) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < length; i += 2) sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
  if (length % 2) sum += static_cast<uint32_t>(data[length - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

void BuildEchoRequest(uint8_t* packet, uint16_t identifier, uint16_t sequence) {
  std::memset(packet, 0, kEchoRequestBytes);
  packet[0] = 8;  // echo request
  packet[1] = 0;
  packet[4] = static_cast<uint8_t>(identifier >> 8);
  packet[5] = static_cast<uint8_t>(identifier);
  packet[6] = static_cast<uint8_t>(sequence >> 8);
  packet[7] = static_cast<uint8_t>(sequence);
  for (size_t i = 8; i < kEchoRequestBytes; ++i) packet[i] = static_cast<uint8_t>('0' + (i - 8) % 10);
  uint16_t sum = InternetChecksum(packet, kEchoRequestBytes);
  packet[2] = static_cast<uint8_t>(sum >> 8);
  packet[3] = static_cast<uint8_t>(sum);
}

bool PacketFromAddress(const uint8_t* packet, size_t length, uint32_t address) {
  if (length < 16) return false;
  return std::memcmp(packet + 12, &address, 4) == 0;
}
