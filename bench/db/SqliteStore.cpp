#include "SqliteStore.h"

#include <stdexcept>

namespace zev::bench {

TSqliteStore::TSqliteStore(const std::string& path, int64_t cacheBytes) : path_(path) {
  if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("sqlite3_open failed");
  Exec("PRAGMA journal_mode=WAL");
  Exec("PRAGMA synchronous=OFF");
  Exec(("PRAGMA cache_size=-" + std::to_string(cacheBytes / 1024)).c_str());
  Exec("CREATE TABLE IF NOT EXISTS msg(id TEXT PRIMARY KEY, rec BLOB NOT NULL) WITHOUT ROWID");
  sqlite3_prepare_v2(db_, "INSERT INTO msg(id, rec) VALUES(?, ?)", -1, &insert_, nullptr);
  sqlite3_prepare_v2(db_, "SELECT rec FROM msg WHERE id = ?", -1, &select_, nullptr);
}

TSqliteStore::~TSqliteStore() { Close(); }

void TSqliteStore::Exec(const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::string text = error ? error : "?";
    sqlite3_free(error);
    throw std::runtime_error(text);
  }
}

void TSqliteStore::InsertAll(const std::vector<std::string>& ids, const unsigned char* record77) {
  Exec("BEGIN");
  for (size_t i = 0; i < ids.size(); ++i) {
    sqlite3_bind_text(insert_, 1, ids[i].data(), static_cast<int>(ids[i].size()), SQLITE_STATIC);
    sqlite3_bind_blob(insert_, 2, record77, 77, SQLITE_STATIC);
    if (sqlite3_step(insert_) != SQLITE_DONE) throw std::runtime_error("insert failed");
    sqlite3_reset(insert_);
    if (i % 10000 == 9999) {
      Exec("COMMIT");
      Exec("BEGIN");
    }
  }
  Exec("COMMIT");
}

size_t TSqliteStore::FindAll(const std::vector<std::string>& ids) {
  size_t found = 0;
  for (const std::string& id : ids) {
    sqlite3_bind_text(select_, 1, id.data(), static_cast<int>(id.size()), SQLITE_STATIC);
    if (sqlite3_step(select_) == SQLITE_ROW && sqlite3_column_bytes(select_, 0) == 77) ++found;
    sqlite3_reset(select_);
  }
  return found;
}

void TSqliteStore::Close() {
  if (!db_) return;
  sqlite3_finalize(insert_);
  sqlite3_finalize(select_);
  sqlite3_close(db_);
  db_ = nullptr;
  insert_ = select_ = nullptr;
}

}  // namespace zev::bench
