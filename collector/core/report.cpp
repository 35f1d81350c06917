// The failure signature of a report: what puts two failing runs in one group.
#include "collector/core/report.h"

namespace collector {

namespace {

constexpr std::uint32_t kFirstNtStatusError = 0xC0000000;

}  // namespace

bool ExplainsFailure(std::string_view kind) {
    return kind != "dll_init_note" && kind != "appinit_dll" && kind != "desktop_heap";
}

const Finding* ExplainingFinding(const Report& report) {
    for (const Finding& finding : report.verdict) {
        if (ExplainsFailure(finding.kind)) return &finding;
    }
    return nullptr;
}

std::uint32_t FailureExitCode(const Report& report) { return report.failExitCode.value_or(report.exitCode); }

bool IsSuccess(const Report& report) {
    return !ExplainingFinding(report) && FailureExitCode(report) < kFirstNtStatusError;
}

GroupKey SignatureOf(const Report& report) {
    GroupKey key;
    key.program = report.process.name;
    key.programVersion = report.process.productVersion;
    key.exitCode = FailureExitCode(report);
    if (const Finding* finding = ExplainingFinding(report)) {
        key.findingKind = finding->kind;
        key.findingModule = finding->module;
    }
    return key;
}

}  // namespace collector
