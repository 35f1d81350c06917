// Exception lines: the description table and the line of an exception event.
#include "watch/exception_text.h"

#include "base/format_bounded.h"

namespace {

struct ExceptionRow {
    DWORD code;
    const wchar_t* description;
};

constexpr ExceptionRow kExceptionRows[] = {
    {EXCEPTION_DATATYPE_MISALIGNMENT, L"DATATYPE_MISALIGNMENT"},
    {EXCEPTION_BREAKPOINT, L"Установлена точка останова (breakpoint)"},
    {EXCEPTION_SINGLE_STEP, L"Подан сигнал о выполнении очередной команды"},
    {EXCEPTION_ACCESS_VIOLATION, L"У процесса недостаточно прав для получения доступа к виртуальному адресу"},
    {EXCEPTION_IN_PAGE_ERROR, L"Процесс пытается получить доступ к несуществующей странице памяти"},
    {EXCEPTION_ILLEGAL_INSTRUCTION, L"Попытка выполнить недопустимую команду"},
    {EXCEPTION_NONCONTINUABLE_EXCEPTION, L"Процесс пытается продолжить выполнение после генерации аварийного исключения"},
    {EXCEPTION_INVALID_DISPOSITION, L"Установлен некорректный обработчик исключений"},
    {EXCEPTION_ARRAY_BOUNDS_EXCEEDED, L"Попытка прочитать данные за пределами объявленного массива"},
    {EXCEPTION_FLT_DENORMAL_OPERAND, L"FLT_DENORMAL_OPERAND"},
    {EXCEPTION_FLT_DIVIDE_BY_ZERO, L"Попытка деления на ноль"},
    {EXCEPTION_FLT_INEXACT_RESULT, L"FLT_INEXACT_RESULT"},
    {EXCEPTION_FLT_INVALID_OPERATION, L"Некорректная операция вычисления с плавающей точкой"},
    {EXCEPTION_FLT_OVERFLOW, L"EXCEPTION_FLT_OVERFLOW"},
    {EXCEPTION_FLT_STACK_CHECK, L"Переполнение стека при выполнении операции с плаваюшей точкой"},
    {EXCEPTION_FLT_UNDERFLOW, L"EXCEPTION_FLT_UNDERFLOW"},
    {EXCEPTION_INT_DIVIDE_BY_ZERO, L"Попытка деления целого числа на ноль"},
    {EXCEPTION_INT_OVERFLOW, L"Целочисленное переполнение"},
    {EXCEPTION_PRIV_INSTRUCTION, L"Процесс пытается выполнить инструкцию, недопустимую в данном машинном режиме"},
    {EXCEPTION_STACK_OVERFLOW, L"Стек переполнен"},
};

constexpr std::size_t kLineRoom = 300;

}  // namespace

std::wstring_view ExceptionDescription(DWORD code) {
    for (const ExceptionRow& row : kExceptionRows) {
        if (row.code == code) return row.description;
    }
    return L"Нет описания";
}

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
