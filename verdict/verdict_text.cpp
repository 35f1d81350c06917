// The verdict's texts: the line and upload entry of each finding.
#include "verdict/verdict_text.h"

#include "base/format_bounded.h"
#include "verdict/status_text.h"

namespace {

constexpr std::size_t kLineRoom = 2000;
constexpr std::size_t kCodeRoom = 16;

std::wstring CodeText(std::uint32_t code) {
    return FormatToString(kCodeRoom, L"0x%X", code);
}

// "0x7E (text)", or the code alone when there is no text for it.
std::wstring CodeWithText(std::uint32_t code, std::wstring_view text) {
    if (text.empty()) return CodeText(code);
    return FormatToString(kLineRoom, L"0x%X (%s)", code, text);
}

std::wstring JoinQuoted(const std::vector<std::wstring>& texts, std::wstring_view open, std::wstring_view close,
                        std::wstring_view between) {
    std::wstring joined;
    for (const std::wstring& text : texts) {
        if (!joined.empty()) joined += between;
        joined += open;
        joined += text;
        joined += close;
    }
    return joined;
}

// What the refusing thread showed, after the line's own text; empty when it showed nothing.
std::wstring RefusalText(const InitRefusal& refusal) {
    std::wstring text;
    if (refusal.lastError || refusal.lastStatus) {
        std::wstring values;
        if (refusal.lastError) values = L"последняя ошибка " + CodeWithText(*refusal.lastError, refusal.lastErrorText);
        if (refusal.lastStatus) {
            if (!values.empty()) values += L", ";
            values += L"последний статус " + CodeWithText(*refusal.lastStatus, KnownExitStatusDescription(*refusal.lastStatus));
        }
        text += L". Поток: " + values;
    }
    if (!refusal.failedLoads.empty()) text += L". Не загружены: " + JoinQuoted(refusal.failedLoads, L"", L"", L", ");
    if (!refusal.debugStrings.empty())
        text += L". Отладочный вывод: " + JoinQuoted(refusal.debugStrings, L"«", L"»", L", ");
    return text;
}

// The same for the upload's detail: key=value pairs after the code.
std::wstring RefusalDetail(const InitRefusal& refusal) {
    std::wstring detail;
    if (refusal.lastError) detail += L" error=" + CodeText(*refusal.lastError);
    if (refusal.lastStatus) detail += L" status=" + CodeText(*refusal.lastStatus);
    for (const std::wstring& name : refusal.failedLoads) detail += L" notloaded=\"" + name + L"\"";
    for (const std::wstring& output : refusal.debugStrings) detail += L" output=\"" + output + L"\"";
    return detail;
}

// "(процесс 0x%X, код 0x%X)", which ends every line.
std::wstring Tail(const Finding& finding) {
    if (!finding.code) return FormatToString(kLineRoom, L"(процесс 0x%X)", finding.processId);
    return FormatToString(kLineRoom, L"(процесс 0x%X, код 0x%X)", finding.processId, *finding.code);
}

// "imported by": the participle agrees with the missing library or function.
std::wstring ImportedBy(const Finding& finding, std::wstring_view participle) {
    return FormatToString(kLineRoom, L"%s модулем %s", participle, finding.importer);
}

std::wstring UnhandledLine(const Finding& finding) {
    std::wstring_view where = finding.module.empty() ? std::wstring_view(L"неизвестном модуле") : finding.module;
    std::wstring line = FormatToString(kLineRoom, L"Необработанное исключение в %s: %s", where,
                                       ExceptionDescription(finding.code.value_or(0)));
    if (!finding.function.empty()) line = FormatToString(kLineRoom, L"%s. Функция: %s", line, finding.function);
    return line;
}

std::wstring Statement(const Finding& finding) {
    switch (finding.kind) {
    case FindingKind::DllInitFailed:
        return FormatToString(kLineRoom, L"Библиотека %s не инициализирована: DllMain вернула FALSE", finding.module);
    case FindingKind::DllInitException:
        return FormatToString(kLineRoom, L"Библиотека %s вызвала исключение при инициализации: %s", finding.module,
                              ExceptionDescription(finding.code.value_or(0)));
    case FindingKind::DllInitUnfinished:
        return FormatToString(kLineRoom, L"Процесс завершился во время инициализации библиотеки %s", finding.module);
    case FindingKind::DllNotFound:
        return FormatToString(kLineRoom, L"Не найдена библиотека %s, %s", finding.module,
                              ImportedBy(finding, L"импортируемая"));
    case FindingKind::ImportNotFound:
        return FormatToString(kLineRoom, L"В библиотеке %s нет функции %s, %s", finding.module, finding.function,
                              ImportedBy(finding, L"импортируемой"));
    case FindingKind::BadImageFormat:
        if (finding.importer.empty())
            return FormatToString(kLineRoom, L"Модуль %s собран для другой платформы, чем процесс", finding.module);
        return FormatToString(kLineRoom, L"Модуль %s собран для другой платформы, чем процесс, импортируется модулем %s",
                              finding.module, finding.importer);
    case FindingKind::UnhandledException:
        return UnhandledLine(finding);
    case FindingKind::ExitStatus:
        return FormatToString(kLineRoom, L"Процесс %s завершился с ошибкой: %s", finding.module,
                              ExitStatusDescription(finding.code.value_or(0)));
    case FindingKind::DesktopHeap:
        return FormatToString(kLineRoom,
                              L"Вероятная причина: Desktop Heap = %d Кб недостаточно для инициализации библиотеки %s",
                              finding.desktopHeapKb, finding.module);
    case FindingKind::AppInitDll:
        return FormatToString(kLineRoom, L"Библиотека %s загружена из списка AppInit_DLLs", finding.module);
    case FindingKind::DllInitNote:
        return FormatToString(kLineRoom, L"Библиотека %s отказалась от инициализации: процесс продолжил работу",
                              finding.module);
    }
    return {};
}

}  // namespace

std::string_view FindingKindName(FindingKind kind) {
    switch (kind) {
    case FindingKind::DllInitFailed: return "dll_init_failed";
    case FindingKind::DllInitException: return "dll_init_exception";
    case FindingKind::DllInitUnfinished: return "dll_init_unfinished";
    case FindingKind::DllNotFound: return "dll_not_found";
    case FindingKind::ImportNotFound: return "import_not_found";
    case FindingKind::BadImageFormat: return "bad_image_format";
    case FindingKind::UnhandledException: return "unhandled_exception";
    case FindingKind::ExitStatus: return "exit_status";
    case FindingKind::DesktopHeap: return "desktop_heap";
    case FindingKind::AppInitDll: return "appinit_dll";
    case FindingKind::DllInitNote: return "dll_init_note";
    }
    return {};
}

std::wstring FindingLine(const Finding& finding) {
    std::wstring line = FormatToString(kLineRoom, L"%s %s", Statement(finding), Tail(finding));
    if (finding.kind == FindingKind::DllInitFailed)
        line = FormatToString(kLineRoom, L"%s%s", line, RefusalText(finding.refusal));
    return line;
}

std::vector<std::wstring> FindingUploadFields(const Finding& finding) {
    // One image of another machine imported by two modules is two entries.
    const bool importedForeignImage = finding.kind == FindingKind::BadImageFormat && !finding.importer.empty();
    std::wstring detail = finding.kind == FindingKind::DllNotFound || importedForeignImage ? finding.importer
                          : finding.kind == FindingKind::ImportNotFound                    ? finding.function
                          : finding.code                                                   ? CodeText(*finding.code)
                                                                                           : std::wstring();
    if (finding.kind == FindingKind::DllInitFailed) detail += RefusalDetail(finding.refusal);
    std::string_view kind = FindingKindName(finding.kind);
    return {std::wstring(kind.begin(), kind.end()), finding.module, detail};
}

std::wstring FindingUploadEntry(const Finding& finding, std::string_view separator) {
    std::wstring between(separator.begin(), separator.end());
    std::vector<std::wstring> fields = FindingUploadFields(finding);
    return fields[0] + between + fields[1] + between + fields[2];
}
