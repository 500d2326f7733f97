// The system's tables that are handed out by size (the routing table, the TCP owner table):
// a probe for the size, then a read into a buffer of that size. The table can grow between
// the two (a route added, a connection opened) and the read then asks for more: it is tried
// again with the newer size, up to three reads in all. No operating system: the read is the
// caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

// The system's answers as the reads return them.
const uint32_t kTableReadOk = 0;           // NO_ERROR
const uint32_t kTableNoMemory = 8;         // ERROR_NOT_ENOUGH_MEMORY
const uint32_t kTableTooSmall = 122;       // ERROR_INSUFFICIENT_BUFFER

class SizedTable {
 public:
  // read(buffer, &size) is the system's call for the table (buffer null for the probe); it
  // returns the system's code and leaves the size it needs, or has written, in size.
  // Returns kTableReadOk with the table held (none at all when the probe said so: no rows),
  // kTableNoMemory when no buffer could be had, or the last failure (kTableTooSmall when the
  // table kept growing or its size made no sense).
  template <typename Read>
  uint32_t Load(Read read) {
    m_buffer.reset();
    m_bytes = 0;
    uint32_t size = 0;
    uint32_t rc = read(nullptr, &size);
    for (int attempt = 0; attempt < 3 && rc == kTableTooSmall; ++attempt) {
      // Not even the row count fits: no table to read.
      if (size < sizeof(uint32_t)) break;
      m_buffer.reset(new (std::nothrow) unsigned char[size]());
      if (!m_buffer) return kTableNoMemory;
      uint32_t got = size;
      rc = read(m_buffer.get(), &got);
      // The count must fit the bytes the system said it wrote, and the buffer.
      m_bytes = got < size ? got : size;
      size = got;
    }
    if (rc != kTableReadOk) {
      m_buffer.reset();
      m_bytes = 0;
    }
    return rc;
  }

  const unsigned char* Data() const { return m_buffer.get(); }
  // Rows of rowSize bytes from offset `first`, after the row count in the first four bytes:
  // as many as the count says and the bytes hold.
  size_t RowCount(size_t first, size_t rowSize) const {
    if (!m_buffer || m_bytes < sizeof(uint32_t) || m_bytes < first || rowSize == 0) return 0;
    uint32_t count;
    std::memcpy(&count, m_buffer.get(), sizeof count);
    size_t room = (m_bytes - first) / rowSize;
    return count < room ? count : room;
  }

 private:
  std::unique_ptr<unsigned char[]> m_buffer;
  size_t m_bytes = 0;
};
