#include "client/diag/traffic_meter.h"

#include "common/text_format.h"

namespace {

// No interface of a PC moves its counter faster than a 10-gigabit link: 1.25 MB a millisecond.
const uint64_t kMaxOctetsPerMs = 1250000;

float Rate(uint32_t last, uint32_t current, uint32_t elapsedMs) {
  uint32_t delta = current - last;
  if (current < last) {
    // A counter below its last value wrapped at 32 bits, or began again from 0 (an adapter
    // reset, a new connection under the same index). The count across the wrap is the
    // service's own, one short of the true distance; the speed line has always shown it
    // so. A distance no link could have made in the time is a new count from 0.
    uint32_t acrossWrap = (4294967295u - last) + current;
    delta = acrossWrap <= kMaxOctetsPerMs * elapsedMs ? acrossWrap : current;
  }
  return static_cast<float>(delta) / static_cast<float>(elapsedMs) * 8;
}

}  // namespace

bool TrafficMeter::Measure(uint32_t inOctets, uint32_t outOctets, uint32_t nowMs, float* up,
                           float* down) {
  if (m_dwLastTick == 0) {
    m_dwLastInOctets = inOctets;
    m_dwLastOutOctets = outOctets;
    m_dwLastTick = nowMs;
    return false;
  }
  uint32_t elapsed = nowMs - m_dwLastTick;
  if (elapsed < 900) return false;
  *up = Rate(m_dwLastOutOctets, outOctets, elapsed);
  *down = Rate(m_dwLastInOctets, inOctets, elapsed);
  m_dwLastInOctets = inOctets;
  m_dwLastOutOctets = outOctets;
  m_dwLastTick = nowMs;
  return true;
}

std::string FormatTrafficText(float up, float down) {
  return Format("上传：%.1f kb，下载：%.1f kb", static_cast<double>(up), static_cast<double>(down));
}
