// Result rows and placeholder numbering shared by the database wrappers.
#include "collector/storage/sql.h"

#include <charconv>
#include <stdexcept>

namespace collector {

std::int64_t SqlRow::Int(std::size_t i) const {
    const std::string& text = fields.at(i);
    if (text.empty()) return 0;
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        // SUM() over integers may come back as a decimal ("12" or "12.0").
        return static_cast<std::int64_t>(std::stod(text));
    }
    return value;
}

std::string NumberPlaceholders(const std::string& sql) {
    std::string out;
    out.reserve(sql.size() + 16);
    int n = 0;
    for (char c : sql) {
        if (c == '?') out += '$' + std::to_string(++n);
        else out += c;
    }
    return out;
}

}  // namespace collector
