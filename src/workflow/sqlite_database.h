#pragma once

#include "common/result.h"
#include "workflow/sqlite_statement.h"

#include <string>
#include <string_view>

struct sqlite3;

namespace perchwell {

// One SQLite connection, closed when it goes out of scope.
class SqliteDatabase {
public:
    SqliteDatabase() = default;
    ~SqliteDatabase();
    SqliteDatabase(SqliteDatabase&& other) noexcept;
    SqliteDatabase& operator=(SqliteDatabase&& other) noexcept;
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    // How long a statement waits for another connection's lock before failing.
    static constexpr int busyTimeoutMs = 5000;

    // Read-write, created when missing, serialized threading mode. Fails with SQLite's
    // message for the connection.
    static Result<SqliteDatabase> open(const std::string& path);

    struct ExecFailure {
        int code;
        std::string message; // SQLite's error text, "?" when it gave none
    };
    // sqlite3_exec without callback; nothing on success.
    std::optional<ExecFailure> execDetailed(const std::string& sql);
    // sqlite3_exec; fails with "<code>: <error> [sql: <first 200 characters>]".
    Result<void> execRaw(const std::string& sql);
    // Fails with "prepare: <SQLite's message>".
    Result<SqliteStatement> prepare(std::string_view sql);

    sqlite3* handle() const { return db_; }

private:
    explicit SqliteDatabase(sqlite3* db) : db_(db) {}
    sqlite3* db_ = nullptr;
};

// BEGIN IMMEDIATE ... COMMIT; rolled back when it ends without a successful commit.
class SqliteTransaction {
public:
    static Result<SqliteTransaction> begin(SqliteDatabase& db);
    ~SqliteTransaction();
    SqliteTransaction(SqliteTransaction&& other) noexcept;
    SqliteTransaction& operator=(SqliteTransaction&&) = delete;
    SqliteTransaction(const SqliteTransaction&) = delete;
    SqliteTransaction& operator=(const SqliteTransaction&) = delete;

    Result<void> commit();

private:
    explicit SqliteTransaction(SqliteDatabase* db) : db_(db) {}
    SqliteDatabase* db_ = nullptr; // null once committed or moved from
};

} // namespace perchwell
