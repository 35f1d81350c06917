// The description tables, widened from the one file the report collector reads too.
#include "verdict/status_text.h"

#include <iterator>

namespace {

struct StatusRow {
    std::uint32_t code;
    const wchar_t* description;
};

#define KORVANE_WIDE(text) L"" text
constexpr StatusRow kExceptionRows[] = {
#define KORVANE_EXCEPTION_TEXT(code, text) {code, KORVANE_WIDE(text)},
#define KORVANE_EXIT_STATUS_TEXT(code, text)
#include "verdict/status_texts.inc"
#undef KORVANE_EXCEPTION_TEXT
#undef KORVANE_EXIT_STATUS_TEXT
};

constexpr StatusRow kExitStatusRows[] = {
#define KORVANE_EXCEPTION_TEXT(code, text)
#define KORVANE_EXIT_STATUS_TEXT(code, text) {code, KORVANE_WIDE(text)},
#include "verdict/status_texts.inc"
#undef KORVANE_EXCEPTION_TEXT
#undef KORVANE_EXIT_STATUS_TEXT
};
#undef KORVANE_WIDE

// The .NET hosting layer's failure codes lie in one documented range.
constexpr std::uint32_t kFirstDotNetHostStatus = 0x80008081;
constexpr std::uint32_t kLastDotNetHostStatus = 0x800080A6;

const StatusRow* Find(const StatusRow* begin, const StatusRow* end, std::uint32_t code) {
    for (const StatusRow* row = begin; row != end; ++row) {
        if (row->code == code) return row;
    }
    return nullptr;
}

std::wstring_view Lookup(const StatusRow* begin, const StatusRow* end, std::uint32_t code) {
    const StatusRow* row = Find(begin, end, code);
    return row ? row->description : L"Нет описания";
}

}  // namespace

std::wstring_view ExceptionDescription(std::uint32_t code) {
    return Lookup(std::begin(kExceptionRows), std::end(kExceptionRows), code);
}

std::wstring_view ExitStatusDescription(std::uint32_t code) {
    return Lookup(std::begin(kExitStatusRows), std::end(kExitStatusRows), code);
}

std::wstring_view KnownExitStatusDescription(std::uint32_t code) {
    const StatusRow* row = Find(std::begin(kExitStatusRows), std::end(kExitStatusRows), code);
    return row ? row->description : std::wstring_view();
}

bool IsDotNetHostStatus(std::uint32_t code) {
    // Only the codes the host documents: a managed program may end with any
    // other number of its own.
    return code >= kFirstDotNetHostStatus && code <= kLastDotNetHostStatus &&
           Find(std::begin(kExitStatusRows), std::end(kExitStatusRows), code);
}
