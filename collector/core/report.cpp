// The failure signature of a report: what puts two failing runs in one group.
#include "collector/core/report.h"

namespace collector {

bool IsSuccess(const Report& report) {
    return report.exitCode == 0 && report.verdict.empty();
}

GroupKey SignatureOf(const Report& report) {
    GroupKey key;
    key.program = report.process.name;
    key.programVersion = report.process.productVersion;
    key.exitCode = report.exitCode;
    if (!report.verdict.empty()) {
        key.findingKind = report.verdict.front().kind;
        key.findingModule = report.verdict.front().module;
    }
    return key;
}

}  // namespace collector
