// The databases the station's tests run against: a fresh SQLite file always, and the PostgreSQL
// server that VELMORA_TEST_PG_URL names when it is set. Tests share that server, so each one
// works under a bench name and serial format of its own (Unique()).
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "loader_test_files.h"

namespace velmora::station::testing {

inline std::vector<std::string> TestDatabases(const velmora::testing::ScratchDir& scratch) {
  std::vector<std::string> urls{"sqlite:" + scratch.PathOf("station.db")};
  if (const char* pg = std::getenv("VELMORA_TEST_PG_URL"); pg != nullptr && *pg != '\0') {
    urls.push_back(pg);
  }
  return urls;
}

// A short name no earlier run on the same database used (serials must fit 31 characters).
inline std::string Unique(const std::string& stem) {
  static unsigned counter = 0;
  const auto now = std::chrono::system_clock::now().time_since_epoch().count();
  char text[24];
  std::snprintf(text, sizeof text, "%08x%02x", static_cast<unsigned>(now / 1000), ++counter & 0xFF);
  return stem + text;
}

}  // namespace velmora::station::testing
