#include "client/accel/app_item.h"

const CAppItem* FindAppById(const std::vector<CAppItem>& apps, int id) {
  for (const CAppItem& app : apps)
    if (app.m_id == id) return &app;
  return nullptr;
}
