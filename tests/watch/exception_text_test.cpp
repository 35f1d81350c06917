// Exception lines: the code, its description, and no function part when the
// symbol handler knows nothing of the address.
#include <gtest/gtest.h>
#include <windows.h>

#include "watch/exception_text.h"

namespace {

DEBUG_EVENT ExceptionEvent(DWORD code, void* address) {
    DEBUG_EVENT event = {};
    event.dwDebugEventCode = EXCEPTION_DEBUG_EVENT;
    event.u.Exception.ExceptionRecord.ExceptionCode = code;
    event.u.Exception.ExceptionRecord.ExceptionAddress = address;
    event.u.Exception.dwFirstChance = 1;
    return event;
}

}  // namespace

TEST(DescribeException, LineHoldsCodeAndDescriptionAndIsNeverHandled) {
    struct Case {
        DWORD code;
        const wchar_t* line;
    };
    const Case cases[] = {
        {0x80000003, L"Процесс сгенерировал исключение (0x80000003). Установлена точка останова (breakpoint)"},
        {0xC0000005, L"Процесс сгенерировал исключение (0xC0000005). У процесса недостаточно прав для получения доступа к "
                     L"виртуальному адресу"},
        {0xC0000092, L"Процесс сгенерировал исключение (0xC0000092). Переполнение стека при выполнении операции с "
                     L"плаваюшей точкой"},
        {0xC0000091, L"Процесс сгенерировал исключение (0xC0000091). EXCEPTION_FLT_OVERFLOW"},
        {0x80000002, L"Процесс сгенерировал исключение (0x80000002). DATATYPE_MISALIGNMENT"},
        {0xC00000FD, L"Процесс сгенерировал исключение (0xC00000FD). Стек переполнен"},
        {EXCEPTION_GUARD_PAGE, L"Процесс сгенерировал исключение (0x80000001). Нет описания"},
        {0xC0000142, L"Процесс сгенерировал исключение (0xC0000142). Нет описания"},
        {0x1, L"Процесс сгенерировал исключение (0x1). Нет описания"},
    };
    SymbolSession noSymbols;
    for (const Case& c : cases) {
        DEBUG_EVENT event = ExceptionEvent(c.code, reinterpret_cast<void*>(0x12345678));
        std::wstring line = L"previous";
        EXPECT_EQ(DescribeException(event, line, noSymbols), static_cast<DWORD>(DBG_EXCEPTION_NOT_HANDLED));
        EXPECT_EQ(line, c.line);
    }
}
