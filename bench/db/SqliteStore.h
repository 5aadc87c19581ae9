#pragma once
// The yardstick: SQLite 3 with a table keyed by the Message-ID text and a 77-byte blob,
// WAL journal, synchronous OFF, one transaction per 10,000 inserts.
#include <sqlite3.h>

#include <string>
#include <vector>

namespace zev::bench {

class TSqliteStore {
 public:
  TSqliteStore(const std::string& path, int64_t cacheBytes);
  ~TSqliteStore();
  void InsertAll(const std::vector<std::string>& ids, const unsigned char* record77);
  // Returns how many of `ids` were found (each found row's blob is read).
  size_t FindAll(const std::vector<std::string>& ids);
  void Close();

 private:
  void Exec(const char* sql);
  std::string path_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
};

}  // namespace zev::bench
