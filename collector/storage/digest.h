// The digest that identifies a dictionary row (a file, a program, a group, an
// attribute): the only unique index the dictionaries need, whatever the length
// of their hostile texts.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace collector {

// A 128-bit BLAKE2b digest (hex) of the fields, each length-prefixed so that
// ("ab","c") and ("a","bc") differ.
std::string DigestOf(const std::vector<std::string_view>& fields);

}  // namespace collector
