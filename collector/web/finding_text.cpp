// The findings' sentences, as zar.exe's log has them (verdict/verdict_text.cpp),
// the description tables and the advice, from the files zar.exe reads too, in UTF-8.
#include "collector/web/finding_text.h"

#include "verdict/advice_rule.h"

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
#define KORVANE_EXCEPTION_TEXT(code, text)
#define KORVANE_EXIT_STATUS_TEXT(code, text) {code, text},
#include "verdict/status_texts.inc"
#undef KORVANE_EXCEPTION_TEXT
#undef KORVANE_EXIT_STATUS_TEXT
};

constexpr Description kExceptions[] = {
#define KORVANE_EXCEPTION_TEXT(code, text) {code, text},
#define KORVANE_EXIT_STATUS_TEXT(code, text)
#include "verdict/status_texts.inc"
#undef KORVANE_EXCEPTION_TEXT
#undef KORVANE_EXIT_STATUS_TEXT
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

std::string FindingAdvice(const Finding& finding) {
    const std::optional<std::uint32_t> code = CodeOf(finding.detail);
    // The detail of a foreign image is its importer, when a module imports it, else its code.
    const bool importerKnown = !finding.detail.empty() && !code;
    const AdviceRow* row = FindAdviceRow(finding.kind, std::string_view(finding.module), importerKnown, code);
    // The upload does not say the process's architecture: the advice leaves it out.
    return row ? Fill(row->utf8, {""}) : std::string();
}

std::string FindingSentence(std::string_view kind, std::string_view module) {
    if (kind.empty() && module.empty()) return "—";
    return Sentence(kind, module, "");
}

}  // namespace collector
