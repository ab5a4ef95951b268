#include "workflow/sqlite_database.h"

#include <sqlite3.h>
#include <utility>

namespace perchwell {
namespace {

// The first `count` code points of `text`, never cutting a UTF-8 sequence in two.
std::string_view prefixCodePoints(std::string_view text, size_t count) {
    size_t i = 0;
    for (size_t seen = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (seen == count) {
                break;
            }
            ++seen;
        }
    }
    return text.substr(0, i);
}

} // namespace

SqliteDatabase::~SqliteDatabase() {
    sqlite3_close_v2(db_);
}

SqliteDatabase::SqliteDatabase(SqliteDatabase&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {}

SqliteDatabase& SqliteDatabase::operator=(SqliteDatabase&& other) noexcept {
    if (this != &other) {
        sqlite3_close_v2(db_);
        db_ = std::exchange(other.db_, nullptr);
    }
    return *this;
}

Result<SqliteDatabase> SqliteDatabase::open(const std::string& path) {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(
        path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        sqlite3_close_v2(db);
        return Error{std::move(message)};
    }
    // Another reader of the file (a dashboard query, the sqlite3 shell) holds its lock
    // only briefly: wait for it rather than failing the open or the write.
    sqlite3_busy_timeout(db, busyTimeoutMs);
    return SqliteDatabase(db);
}

std::optional<SqliteDatabase::ExecFailure> SqliteDatabase::execDetailed(const std::string& sql) {
    char* error = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
    if (rc == SQLITE_OK) {
        return std::nullopt;
    }
    ExecFailure failure{rc, error != nullptr ? error : "?"};
    sqlite3_free(error);
    return failure;
}

Result<void> SqliteDatabase::execRaw(const std::string& sql) {
    if (auto failure = execDetailed(sql)) {
        return Error{std::to_string(failure->code) + ": " + failure->message +
                     " [sql: " + std::string(prefixCodePoints(sql, 200)) + "]"};
    }
    return {};
}

Result<SqliteStatement> SqliteDatabase::prepare(std::string_view sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return Error{std::string("prepare: ") + sqlite3_errmsg(db_)};
    }
    return SqliteStatement(db_, stmt);
}

Result<SqliteTransaction> SqliteTransaction::begin(SqliteDatabase& db) {
    if (auto r = db.execRaw("BEGIN IMMEDIATE TRANSACTION;"); !r) {
        return r.error();
    }
    return SqliteTransaction(&db);
}

SqliteTransaction::~SqliteTransaction() {
    if (db_ != nullptr) {
        (void)db_->execRaw("ROLLBACK;"); // a failing rollback has nothing left to report to
    }
}

SqliteTransaction::SqliteTransaction(SqliteTransaction&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)) {}

Result<void> SqliteTransaction::commit() {
    auto r = db_->execRaw("COMMIT;");
    if (r) {
        db_ = nullptr;
    }
    return r;
}

} // namespace perchwell
