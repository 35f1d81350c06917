// The log's last section, one row per module path of the run, and the
// reported-module list that the upload sends.
#include <string>

#include "base/format_bounded.h"
#include "modules/file_facts.h"
#include "watch/launch_trace.h"

namespace {

constexpr std::size_t kModuleRowChars = 1000;
constexpr wchar_t kLoadedModulesHeading[] = L"\n\nЗагруженные модули:";
constexpr wchar_t kLoadedModulesLegend[] =
    L"Имя файла - [Размер, Кб; Версия; Дата создания; Дата модификации] - Описание - Компания";

}  // namespace

void LaunchTrace::WriteLoadedModules() {
    const std::wstring legend = kLoadedModulesLegend;
    WriteLogLine(kLoadedModulesHeading);
    WriteLogLine(legend);
    WriteLogLine(std::wstring(legend.size(), L'-'));
    for (const std::wstring& path : modulePaths) {
        // Read during the run, and looked at again now that it is over.
        const FileFacts& facts = moduleFacts.FinalFacts(path);
        WriteLogLine(FormatToString(kModuleRowChars, L"%s - [%s; %s; %s; %s] - %s - %s", facts.FilePath(),
                                    facts.SizeKText(), facts.ProductVersionText(), facts.CreatedText(),
                                    facts.ModifiedText(), facts.DescriptionText(), facts.CompanyText()));
        // The upload needs the list even when the log could not be written.
        reportedModules.push_back(facts);
    }
}
