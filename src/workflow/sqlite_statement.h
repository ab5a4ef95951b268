#pragma once

#include "common/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace perchwell {

// One prepared statement, finalized when it goes out of scope. Text is bound as
// UTF-8 with SQLITE_TRANSIENT (SQLite keeps its own copy).
class SqliteStatement {
public:
    SqliteStatement() = default;
    SqliteStatement(sqlite3* db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {}
    ~SqliteStatement();
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&& other) noexcept;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    void bind(int index, std::string_view text);
    void bind(int index, const std::optional<std::string>& text); // NULL when absent
    void bind(int index, int64_t value);
    void bind(int index, std::optional<int64_t> value); // NULL when absent
    void bindInt32(int index, int value);

    // One sqlite3_step; SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    // Steps once; SQLITE_ROW and SQLITE_DONE are success, anything else fails with
    // "step: <code>: <SQLite's message>".
    Result<void> execute();
    // Ready for the next set of parameters.
    void reset();

    bool isNull(int column) const;
    int64_t int64(int column) const;
    int int32(int column) const;
    std::string text(int column) const; // NULL reads as ""
    std::optional<std::string> optionalText(int column) const;

private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;
};

} // namespace perchwell
