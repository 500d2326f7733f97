// The speed line's arithmetic: sent and received rates of one interface from its 32-bit
// octet counters, measured about once a second.
#pragma once

#include <cstdint>
#include <string>

class TrafficMeter {
 public:
  // Takes one reading. True when a rate could be measured (up and down in kilobits per
  // second); false for the first reading, which only sets the baseline, and for a reading
  // less than 900 ms after the last one, which leaves the baseline where it was.
  bool Measure(uint32_t inOctets, uint32_t outOctets, uint32_t nowMs, float* up, float* down);

 private:
  uint32_t m_dwLastOutOctets = 0;
  uint32_t m_dwLastInOctets = 0;
  uint32_t m_dwLastTick = 0;  // 0: no reading yet
};

// "上传：%.1f kb，下载：%.1f kb"
std::string FormatTrafficText(float up, float down);
