#include "launcher_lists.h"

#ifndef _WIN32

#include <sqlite3.h>

#include <cstring>

std::vector<std::string> LutrisGameFolders(const unsigned char* database, size_t size) {
    std::vector<std::string> folders;
    if (database == nullptr || size == 0) return folders;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return folders;
    }
    // SQLite gets its own copy, which it frees: the caller's bytes are only read, and a
    // damaged file makes the query fail rather than read past them (defensive mode).
    auto* copy = static_cast<unsigned char*>(sqlite3_malloc64(size));
    if (copy == nullptr) {
        sqlite3_close(db);
        return folders;
    }
    std::memcpy(copy, database, size);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_stmt* query = nullptr;
    if (sqlite3_deserialize(db, "main", copy, static_cast<sqlite3_int64>(size), static_cast<sqlite3_int64>(size),
                            SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_READONLY) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT directory FROM games WHERE installed = 1", -1, &query, nullptr) == SQLITE_OK) {
        while (sqlite3_step(query) == SQLITE_ROW) {
            // As bytes: a folder's name need not be UTF-8. A number is no folder.
            const int type = sqlite3_column_type(query, 0);
            if (type != SQLITE_TEXT && type != SQLITE_BLOB) continue;
            const void* bytes = sqlite3_column_blob(query, 0);
            const int length = sqlite3_column_bytes(query, 0);
            if (bytes != nullptr && length > 0) folders.emplace_back(static_cast<const char*>(bytes), length);
        }
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    return folders;
}

#endif
