// Reading a module file's version information block (the bytes that
// GetFileVersionInfoW gives): its translation list and its string values.
// Pure code over bytes that come from an untrusted file: every read is bounded
// by the block and by the length that each node gives itself.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct VersionTranslation {
    std::uint16_t language;
    std::uint16_t codePage;
};

// The entries of "\VarFileInfo\Translation" in the order written: as many
// whole entries as lie inside that node; none when the block has no such node.
std::vector<VersionTranslation> ReadVersionTranslations(const unsigned char* block, std::size_t size);

// The value of "\StringFileInfo\<table>\<key>" (the table named by eight
// hexadecimal digits, keys compared without case as the system does), up to
// its first NUL; nothing when there is no such node, and an empty text when
// the value's length claims more than its node or the block holds.
std::optional<std::wstring> ReadVersionString(const unsigned char* block, std::size_t size, std::wstring_view table,
                                              std::wstring_view key);
