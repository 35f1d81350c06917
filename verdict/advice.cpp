// The advice on a finding, in zar.exe's wide text.
#include "verdict/advice.h"

#include "base/format_bounded.h"
#include "verdict/advice_rule.h"
#include "verdict/verdict_text.h"

namespace {

constexpr std::size_t kAdviceRoom = 2000;
constexpr std::uint16_t kMachineI386 = 0x014C;
constexpr std::uint16_t kMachineAmd64 = 0x8664;

// " (x86)" or " (x64)"; nothing for a machine the advice cannot name.
std::wstring_view ArchitectureText(std::uint16_t machine) {
    if (machine == kMachineI386) return L" (x86)";
    if (machine == kMachineAmd64) return L" (x64)";
    return L"";
}

}  // namespace

std::wstring AdviceLine(const Finding& finding) {
    const AdviceRow* row = FindAdviceRow(FindingKindName(finding.kind), std::wstring_view(finding.module),
                                         !finding.importer.empty(), finding.code);
    if (!row) return {};
    std::wstring advice = FormatToString(kAdviceRoom, row->wide, ArchitectureText(finding.machine));
    return kAdvicePrefix + advice;
}
