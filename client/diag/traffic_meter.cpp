#include "client/diag/traffic_meter.h"

#include "common/text_format.h"

namespace {

float Rate(uint32_t last, uint32_t current, uint32_t elapsedMs) {
  // A counter below its last value wrapped at 32 bits. The count across the wrap is the
  // service's own, one short of the true distance; the speed line has always shown it so.
  uint32_t delta = current >= last ? current - last : (4294967295u - last) + current;
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
