#include "workflow/sqlite_statement.h"

#include <sqlite3.h>
#include <utility>

namespace perchwell {

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(stmt_);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : db_(other.db_), stmt_(std::exchange(other.stmt_, nullptr)) {}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(stmt_);
        db_ = other.db_;
        stmt_ = std::exchange(other.stmt_, nullptr);
    }
    return *this;
}

void SqliteStatement::bind(int index, std::string_view text) {
    sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void SqliteStatement::bind(int index, const std::optional<std::string>& text) {
    if (text) {
        bind(index, std::string_view(*text));
    } else {
        sqlite3_bind_null(stmt_, index);
    }
}

void SqliteStatement::bind(int index, int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
}

void SqliteStatement::bind(int index, std::optional<int64_t> value) {
    if (value) {
        bind(index, *value);
    } else {
        sqlite3_bind_null(stmt_, index);
    }
}

void SqliteStatement::bindInt32(int index, int value) {
    sqlite3_bind_int(stmt_, index, value);
}

int SqliteStatement::step() {
    return sqlite3_step(stmt_);
}

Result<void> SqliteStatement::execute() {
    const int rc = step();
    if (rc == SQLITE_ROW || rc == SQLITE_DONE) {
        return {};
    }
    return Error{"step: " + std::to_string(rc) + ": " + sqlite3_errmsg(db_)};
}

void SqliteStatement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

bool SqliteStatement::isNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

int64_t SqliteStatement::int64(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

int SqliteStatement::int32(int column) const {
    return sqlite3_column_int(stmt_, column);
}

std::string SqliteStatement::text(int column) const {
    const auto* bytes = sqlite3_column_text(stmt_, column);
    if (bytes == nullptr) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(bytes),
                       static_cast<size_t>(sqlite3_column_bytes(stmt_, column)));
}

std::optional<std::string> SqliteStatement::optionalText(int column) const {
    if (isNull(column)) {
        return std::nullopt;
    }
    return text(column);
}

} // namespace perchwell
