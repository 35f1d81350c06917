// Fuzzes the verdict over records built from the input: every finding names a
// process of the run and a kind the upload knows, its line ends with its
// process's tail, its advice is empty or begins "Что делать: ", and the exit
// code that travels with the findings is that of the process the first cause
// names. The collector's side of the advice reads the same rows from UTF-8.
#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_input.h"
#include "verdict/advice.h"
#include "verdict/advice_rule.h"
#include "verdict/findings.h"
#include "verdict/verdict_text.h"

namespace {

constexpr std::size_t kMaxProcesses = 4;
constexpr std::size_t kMaxEach = 4;
constexpr std::size_t kMaxText = 40;

// Codes of every kind the rules tell apart, and any other number.
std::uint32_t Code(FuzzInput& in) {
    static constexpr std::uint32_t kCodes[] = {0,          3,          0x80008083, 0x80008086, 0x80008096,
                                               0xC0000005, 0xC0000135, 0xC0000139, 0xC000007B, 0xC0000142};
    std::uint8_t pick = in.Byte();
    return pick < 200 ? kCodes[pick % std::size(kCodes)] : in.Number();
}

// Names the rows and the rules look at, and any other text.
std::wstring Name(FuzzInput& in) {
    static const wchar_t* const kNames[] = {L"vcruntime140.dll", L"C:\\x\\MSVCR100.dll", L"api-ms-win-crt-heap-l1-1-0.dll",
                                            L"api-ms-win-core-x.dll", L"user32.dll", L"hook.dll", L""};
    std::uint8_t pick = in.Byte();
    return pick < 128 ? kNames[pick % std::size(kNames)] : in.Text(kMaxText);
}

ProcessOutcome Process(FuzzInput& in, std::uint32_t id) {
    ProcessOutcome process{id, Name(in), Code(in), {}, {}, {}};
    process.machine = in.Byte() < 128 ? 0x8664 : 0x014C;
    for (std::size_t i = in.Byte() % (kMaxEach + 1); i > 0 && !in.empty(); --i) {
        DllInitRecord init{Name(in), static_cast<InitResult>(in.Byte() % 5), std::nullopt, false};
        if (in.Byte() & 1) init.exceptionCode = Code(in);
        init.exceptionUnhandled = in.Byte() & 1;
        process.inits.push_back(init);
    }
    for (std::size_t i = in.Byte() % (kMaxEach + 1); i > 0 && !in.empty(); --i)
        process.unhandled.push_back({Code(in), Name(in), in.Text(kMaxText)});
    for (std::size_t i = in.Byte() % (kMaxEach + 1); i > 0 && !in.empty(); --i)
        process.importProblems.push_back({static_cast<ImportProblemKind>(in.Byte() % 3), Name(in), Name(in), in.Text(kMaxText)});
    return process;
}

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    std::vector<ProcessOutcome> processes;
    std::set<std::uint32_t> ids;
    for (std::size_t i = in.Byte() % (kMaxProcesses + 1); i > 0 && !in.empty(); --i) {
        processes.push_back(Process(in, static_cast<std::uint32_t>(processes.size() + 1)));
        ids.insert(processes.back().processId);
    }
    MachineSettings machine{Name(in), std::nullopt};
    if (in.Byte() & 1) machine.smallDesktopHeapKb = static_cast<int>(in.Number() % 256);

    std::vector<Finding> findings = FindStartFailures(processes, machine);
    const std::wstring prefix = kAdvicePrefix;
    for (const Finding& finding : findings) {
        Check(ids.count(finding.processId) == 1);
        Check(!FindingKindName(finding.kind).empty());
        std::wstring line = FindingLine(finding);
        Check(!line.empty() && line.back() == L')');
        Check(FindingUploadFields(finding).size() == 3);
        std::wstring advice = AdviceLine(finding);
        Check(advice.empty() || advice.compare(0, prefix.size(), prefix) == 0);
        Check(advice.find(L"%s") == std::wstring::npos);
    }
    auto cause = std::find_if(findings.begin(), findings.end(), ExplainsFailure);
    std::optional<std::uint32_t> failed = FailedExitCode(findings, processes);
    Check(failed.has_value() == (cause != findings.end()));
    if (failed) Check(*failed == processes[cause->processId - 1].exitCode);

    // The collector picks from the same rows over UTF-8 bytes.
    std::wstring rest = in.Rest();
    std::string bytes(rest.begin(), rest.end());
    const AdviceRow* row = FindAdviceRow("dll_not_found", std::string_view(bytes), false, std::nullopt);
    Check(!row || !row->utf8.empty());
    return 0;
}
