// What the two database wrappers share: statement parameters and result rows,
// so that the store's queries are written once for SQLite and PostgreSQL.
#pragma once
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace collector {

using SqlParam = std::variant<std::int64_t, std::string>;
using SqlParams = std::vector<SqlParam>;

// One result row; NULL reads as empty text.
struct SqlRow {
    std::vector<std::string> fields;
    const std::string& Text(std::size_t i) const { return fields.at(i); }
    std::int64_t Int(std::size_t i) const;
};
using SqlRows = std::vector<SqlRow>;

// Statements are written with "?" placeholders; PostgreSQL's wrapper numbers them.
std::string NumberPlaceholders(const std::string& sql);

}  // namespace collector
