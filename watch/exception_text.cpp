// Exception lines: the line of an exception event, its description from the
// one table of status texts.
#include "watch/exception_text.h"

#include "base/format_bounded.h"

namespace {

constexpr std::size_t kLineRoom = 300;

}  // namespace

DWORD DescribeException(const DEBUG_EVENT& event, std::wstring& line, SymbolSession& symbols) {
    const EXCEPTION_RECORD& exception = event.u.Exception.ExceptionRecord;
    std::wstring function;
    auto address = reinterpret_cast<DWORD64>(exception.ExceptionAddress);
    std::size_t functionRoom = symbols.FunctionAt(address, function);
    std::size_t room = kLineRoom + functionRoom;
    line = FormatToString(room, L"Процесс сгенерировал исключение (0x%X). %s", exception.ExceptionCode,
                          ExceptionDescription(exception.ExceptionCode));
    if (!function.empty()) line = FormatToString(room, L"%s. Функция: %s", line, function);
    return DBG_EXCEPTION_NOT_HANDLED;
}
