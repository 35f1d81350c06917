// Fuzzes the version block reader with any bytes as a block, asking for every
// key in every table that the block's own translation list names, as the file
// facts do: every read stays inside the block (AddressSanitizer watches), a
// text holds no NUL and is never longer than the block could hold, and the
// translations fit in the block.
#include <cstdlib>
#include <string>
#include <vector>

#include "modules/version_block.h"

namespace {

const wchar_t* const kKeys[] = {L"CompanyName", L"FileDescription", L"ProductVersion", L"Comments", L""};

std::wstring TableName(VersionTranslation translation) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    unsigned long both = (static_cast<unsigned long>(translation.language) << 16) | translation.codePage;
    std::wstring name(8, L'0');
    for (int i = 7; i >= 0; --i, both >>= 4) name[i] = kDigits[both & 0xF];
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly the input's size, so that a read past it is caught.
    std::vector<unsigned char> block(data, data + size);
    const unsigned char* bytes = block.empty() ? nullptr : block.data();
    std::vector<VersionTranslation> translations = ReadVersionTranslations(bytes, size);
    if (translations.size() * 4 > size) std::abort();
    for (VersionTranslation translation : translations) {
        for (const wchar_t* key : kKeys) {
            auto text = ReadVersionString(bytes, size, TableName(translation), key);
            if (!text) continue;
            if (text->find(L'\0') != std::wstring::npos || text->size() * 2 > size) std::abort();
        }
    }
    return 0;
}
