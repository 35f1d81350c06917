// API set schemas made byte by byte, in the layouts the loader reads, for the
// schema reader's and the import check's tests.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "modules/api_set_schema.h"

struct CraftedApiSet {
    std::u16string name;  // version 6: the whole name without ".dll"; version 2: also without "api-"
    std::vector<ApiSetHost> hosts;
};

// Version 6 with its hash table sorted by the loader's hash, or version 2.
std::string BuildApiSetSchema(std::uint32_t version, const std::vector<CraftedApiSet>& sets);
