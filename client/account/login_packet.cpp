#include "client/account/login_packet.h"

#include <cstring>
#include <ctime>

void CPacketWriter::Reserve(size_t needed) {
  if (needed < m_bytes.size()) return;
  // Reaching the capacity grows it as well, so the buffer always keeps a spare byte.
  m_bytes.resize((needed / 1024 + 1) * 1024);
}

void CPacketWriter::PutBytes(const void* data, size_t length) {
  if (length == 0) return;
  Reserve(m_length + length);
  std::memcpy(m_bytes.data() + m_length, data, length);
  m_length += length;
}

void CPacketWriter::PutByte(uint8_t value) { PutBytes(&value, 1); }

void CPacketWriter::PutUint32(uint32_t value) {
  uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                  static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  PutBytes(b, sizeof b);
}

void CPacketWriter::PutString(const std::string& text) {
  size_t n = text.size() > 0xFFFF ? 0xFFFF : text.size();
  uint8_t len[2] = {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
  PutBytes(len, sizeof len);
  PutBytes(text.data(), n);
}

bool CPacketReader::GetBytes(void* out, size_t n) {
  if (Remaining() < n) return false;
  if (n) std::memcpy(out, m_data + m_pos, n);
  m_pos += n;
  return true;
}

bool CPacketReader::GetByte(uint8_t* value) { return GetBytes(value, 1); }

bool CPacketReader::GetUint32(uint32_t* value) {
  uint8_t b[4];
  if (!GetBytes(b, sizeof b)) return false;
  *value = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
  return true;
}

bool CPacketReader::GetString(std::string* text) {
  if (Remaining() < 2) return false;
  size_t n = static_cast<size_t>(m_data[m_pos]) << 8 | m_data[m_pos + 1];
  if (Remaining() - 2 < n) return false;  // length and bytes go together or not at all
  text->assign(reinterpret_cast<const char*>(m_data + m_pos + 2), n);
  m_pos += 2 + n;
  return true;
}

std::vector<uint8_t> BuildLoginRequest(uint32_t requestNumber, const std::string& hostId,
                                       const std::string& user, const std::string& password,
                                       const std::string& lineHost) {
  CPacketWriter w;
  w.PutByte(0x03);
  w.PutByte(kLoginCommand);
  w.PutByte(0x01);
  w.PutUint32(requestNumber);
  w.PutUint32(0);
  w.PutUint32(0);
  w.PutString(hostId);
  w.PutString(user);
  w.PutString(password);
  w.PutString(lineHost);
  return std::vector<uint8_t>(w.Data(), w.Data() + w.Length());
}

namespace {

// The code goes into the dial command as the tunnel password, and nobody authenticated the
// answer that brought it: a short run of plain characters, or no answer at all.
bool IsUsableLoginCode(const std::string& code) {
  if (code.size() > kMaxLoginCodeBytes) return false;
  for (unsigned char c : code) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

}  // namespace

bool ParseLoginResponse(const uint8_t* data, size_t length, LoginResponse* out) {
  CPacketReader r(data, length);
  LoginResponse got;
  uint8_t skip;
  std::string ignored;
  if (!r.GetByte(&skip) || !r.GetByte(&skip) || !r.GetUint32(&got.result)) return false;
  if (got.result == 0 &&
      (!r.GetString(&ignored) || !r.GetString(&got.loginCode) || !r.GetUint32(&got.kind) ||
       !r.GetUint32(&got.expiry)))
    return false;
  if (got.result == 0 && !IsUsableLoginCode(got.loginCode)) return false;
  *out = got;
  return true;
}

const char* AccountKindText(uint32_t kind) {
  return kind == kPaidAccountKind ? "付费用户" : "免费积分用户";
}

std::string ExpiryText(uint32_t expiry, LocalTimeFn toLocal) {
  struct tm local;
  std::memset(&local, 0, sizeof local);
  if (!toLocal || !toLocal(static_cast<int64_t>(expiry), &local)) return std::string();
  char text[64];
  size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return std::string(text, n);
}
