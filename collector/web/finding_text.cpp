// The findings' sentences and the description tables, as zar.exe's log has
// them (verdict/verdict_text.cpp, watch/exception_text.cpp), in UTF-8.
#include "collector/web/finding_text.h"

#include <charconv>
#include <iterator>
#include <optional>

namespace collector {

namespace {

struct Description {
    std::uint32_t code;
    const char* text;
};

constexpr Description kStatuses[] = {
    {0xC0000005, "Нарушение доступа к памяти"},
    {0xC0000006, "Ошибка чтения страницы памяти с диска"},
    {0xC0000017, "Недостаточно памяти"},
    {0xC0000018, "Адрес загрузки модуля занят"},
    {0xC000001D, "Недопустимая команда процессора"},
    {0xC0000022, "Доступ запрещён"},
    {0xC0000034, "Объект не найден"},
    {0xC000003A, "Путь к объекту не найден"},
    {0xC000007B, "Неверный формат исполняемого файла: модуль собран для другой платформы или повреждён"},
    {0xC0000094, "Деление целого числа на ноль"},
    {0xC0000096, "Привилегированная команда процессора"},
    {0xC00000FD, "Переполнение стека"},
    {0xC000012F, "Файл не является исполняемым модулем Windows"},
    {0xC0000135, "Не найдена необходимая библиотека DLL"},
    {0xC0000138, "В библиотеке DLL не найден импортируемый порядковый номер"},
    {0xC0000139, "В библиотеке DLL не найдена импортируемая функция"},
    {0xC000013A, "Приложение прервано нажатием Ctrl+C"},
    {0xC0000142, "Ошибка инициализации библиотеки DLL"},
    {0xC0000143, "Отсутствует системный файл"},
    {0xC0000145, "Ошибка инициализации приложения"},
    {0xC0000374, "Повреждение кучи"},
    {0xC0000409, "Переполнение буфера в стеке"},
    {0xC0000428, "Цифровая подпись файла недействительна"},
    {0xC0000602, "Аварийное завершение по требованию программы (fail fast)"},
    {0xC0150002, "Ошибка конфигурации side-by-side (манифест приложения)"},
};

constexpr Description kExceptions[] = {
    {0x80000002, "DATATYPE_MISALIGNMENT"},
    {0x80000003, "Установлена точка останова (breakpoint)"},
    {0x80000004, "Подан сигнал о выполнении очередной команды"},
    {0xC0000005, "У процесса недостаточно прав для получения доступа к виртуальному адресу"},
    {0xC0000006, "Процесс пытается получить доступ к несуществующей странице памяти"},
    {0xC000001D, "Попытка выполнить недопустимую команду"},
    {0xC0000025, "Процесс пытается продолжить выполнение после генерации аварийного исключения"},
    {0xC0000026, "Установлен некорректный обработчик исключений"},
    {0xC000008C, "Попытка прочитать данные за пределами объявленного массива"},
    {0xC000008D, "FLT_DENORMAL_OPERAND"},
    {0xC000008E, "Попытка деления на ноль"},
    {0xC000008F, "FLT_INEXACT_RESULT"},
    {0xC0000090, "Некорректная операция вычисления с плавающей точкой"},
    {0xC0000091, "EXCEPTION_FLT_OVERFLOW"},
    {0xC0000092, "Переполнение стека при выполнении операции с плаваюшей точкой"},
    {0xC0000093, "EXCEPTION_FLT_UNDERFLOW"},
    {0xC0000094, "Попытка деления целого числа на ноль"},
    {0xC0000095, "Целочисленное переполнение"},
    {0xC0000096, "Процесс пытается выполнить инструкцию, недопустимую в данном машинном режиме"},
    {0xC00000FD, "Стек переполнен"},
};

std::string_view Lookup(const Description* begin, const Description* end, std::uint32_t code) {
    for (const Description* row = begin; row != end; ++row) {
        if (row->code == code) return row->text;
    }
    return "Нет описания";
}

// The detail of a finding with a code is "0x%X".
std::optional<std::uint32_t> CodeOf(std::string_view detail) {
    if (!detail.starts_with("0x")) return std::nullopt;
    std::uint32_t code = 0;
    const auto [end, error] = std::from_chars(detail.data() + 2, detail.data() + detail.size(), code, 16);
    if (error != std::errc() || end != detail.data() + detail.size()) return std::nullopt;
    return code;
}

// "%s" of the log's format replaced in order.
std::string Fill(std::string_view format, std::initializer_list<std::string_view> values) {
    std::string out;
    auto value = values.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format.substr(i, 2) == "%s" && value != values.end()) {
            out += *value++;
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

std::string Sentence(std::string_view kind, std::string_view module, std::string_view detail) {
    const std::optional<std::uint32_t> code = CodeOf(detail);
    const auto with = [&](std::string_view format, std::string_view described) {
        return code ? Fill(format, {module, described}) : Fill(format.substr(0, format.rfind(':')), {module});
    };
    if (kind == "dll_init_failed") return Fill("Библиотека %s не инициализирована: DllMain вернула FALSE", {module});
    if (kind == "dll_init_exception") {
        return with("Библиотека %s вызвала исключение при инициализации: %s", code ? ExceptionDescription(*code) : "");
    }
    if (kind == "dll_init_unfinished") return Fill("Процесс завершился во время инициализации библиотеки %s", {module});
    if (kind == "dll_init_note") {
        return Fill("Библиотека %s отказалась от инициализации: процесс продолжил работу", {module});
    }
    if (kind == "dll_not_found") {
        if (detail.empty()) return Fill("Не найдена библиотека %s", {module});
        return Fill("Не найдена библиотека %s, импортируемая модулем %s", {module, detail});
    }
    if (kind == "import_not_found") {
        if (detail.empty()) return Fill("В библиотеке %s нет импортируемой функции", {module});
        return Fill("В библиотеке %s нет функции %s", {module, detail});
    }
    if (kind == "bad_image_format") return Fill("Модуль %s собран для другой платформы, чем процесс", {module});
    if (kind == "unhandled_exception") {
        const std::string_view where = module.empty() ? std::string_view("неизвестном модуле") : module;
        if (!code) return Fill("Необработанное исключение в %s", {where});
        return Fill("Необработанное исключение в %s: %s", {where, ExceptionDescription(*code)});
    }
    if (kind == "exit_status") return with("Процесс %s завершился с ошибкой: %s", code ? ExitStatusDescription(*code) : "");
    if (kind == "desktop_heap") return Fill("Вероятная причина: Desktop Heap недостаточно для инициализации библиотеки %s", {module});
    if (kind == "appinit_dll") return Fill("Библиотека %s загружена из списка AppInit_DLLs", {module});
    if (module.empty()) return std::string(kind);
    return std::string(kind) + ": " + std::string(module);
}

}  // namespace

std::string_view ExitStatusDescription(std::uint32_t code) {
    return Lookup(std::begin(kStatuses), std::end(kStatuses), code);
}

std::string_view ExceptionDescription(std::uint32_t code) {
    return Lookup(std::begin(kExceptions), std::end(kExceptions), code);
}

std::string FindingSentence(const Finding& finding) {
    return Sentence(finding.kind, finding.module, finding.detail);
}

std::string FindingSentence(std::string_view kind, std::string_view module) {
    if (kind.empty() && module.empty()) return "—";
    return Sentence(kind, module, "");
}

}  // namespace collector
