// The active-processes block over processes the test starts with known command
// lines: their lines, the running-image lists, the count, the hyphen lines and
// the total; the process strings read without running past their buffers; and
// the K and Mb texts with their remainders dropped.
#include "diag/process_inventory.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <algorithm>
#include <cwctype>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/diag_processes.h"
#include "tests/support/test_files.h"
#include "tests/support/guarded_texts.h"
#include "watch/launch_trace.h"

namespace {

const std::wstring kIdleDescription = L"Ожидающий процесс";

struct Inventory {
    std::vector<std::wstring> lines;
    std::vector<std::wstring> imagePaths;
    std::vector<FileFacts> imageFacts;
};

Inventory TakeInventory() {
    Inventory inventory;
    {
        LaunchTrace trace(L"x", nullptr, nullptr);
        trace.WriteProcessInventory();
        inventory.imagePaths = trace.runningImagePaths;
        inventory.imageFacts = trace.runningImageFacts;
    }
    inventory.lines = ReadLogLines(TestProgramFolder() + L"zar.log");
    return inventory;
}

// The process lines of the block: everything between the two hyphen lines.
std::vector<std::wstring> ProcessLines(const Inventory& inventory) {
    const auto& lines = inventory.lines;
    if (lines.size() < 6) return {};
    return std::vector<std::wstring>(lines.begin() + 4, lines.end() - 2);
}

std::optional<std::wstring> LineOf(const Inventory& inventory, const std::wstring& commandLine) {
    for (const std::wstring& line : ProcessLines(inventory)) {
        if (line.compare(0, commandLine.size() + 4, commandLine + L" - [") == 0) return line;
    }
    return std::nullopt;
}

bool Mentions(const Inventory& inventory, const std::wstring& text) {
    return std::any_of(inventory.lines.begin(), inventory.lines.end(),
                       [&](const std::wstring& line) { return line.find(text) != std::wstring::npos; });
}

// "<command line> - [<digits>K] - <description>": the kibibytes, or nothing when
// the line has another shape.
std::optional<unsigned long long> Kibibytes(const std::wstring& line, const std::wstring& commandLine,
                                            const std::wstring& description) {
    const std::wstring head = commandLine + L" - [";
    const std::wstring tail = L"K] - " + description;
    if (line.size() <= head.size() + tail.size() || line.compare(0, head.size(), head) != 0 ||
        line.compare(line.size() - tail.size(), tail.size(), tail) != 0) {
        return std::nullopt;
    }
    std::wstring digits = line.substr(head.size(), line.size() - head.size() - tail.size());
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](wchar_t c) { return std::iswdigit(c); })) {
        return std::nullopt;
    }
    return std::stoull(digits);
}

std::size_t NonIdleProcessCount() {
    UniqueSnapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    std::size_t count = 0;
    for (BOOL found = Process32FirstW(snapshot.get(), &entry); found; found = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID != 0) ++count;
    }
    return count;
}

// Tests of other folders start and end processes while these run: a count is
// only compared when the number of processes was the same before and after.
constexpr int kSteadyCountAttempts = 10;

std::wstring HeadingFor(std::size_t count) {
    return L"Активные процессы (" + std::to_wstring(count) + L"):";
}

// An inventory whose heading shows the count of a snapshot taken just before and
// just after it; the last attempt's inventory and the count before it otherwise.
std::pair<Inventory, std::size_t> TakeInventoryAtSteadyCount() {
    std::pair<Inventory, std::size_t> taken;
    for (int attempt = 0; attempt < kSteadyCountAttempts; ++attempt) {
        taken.second = NonIdleProcessCount();
        taken.first = TakeInventory();
        const bool steady = NonIdleProcessCount() == taken.second;
        if (steady && taken.first.lines.size() > 2 && taken.first.lines[2] == HeadingFor(taken.second)) break;
    }
    return taken;
}

std::wstring Upper(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towupper(c); });
    return text;
}

struct ProcessStrings {
    bool read = false;
    std::wstring imagePath;
    std::wstring commandLine;
};

ProcessStrings ReadStrings(DWORD processId) {
    ProcessText imagePath = {};
    ProcessText commandLine = {};
    ProcessStrings strings;
    strings.read = ReadProcessStrings(processId, imagePath, commandLine);
    strings.imagePath = imagePath.data();
    strings.commandLine = commandLine.data();
    return strings;
}

TEST(ProcessInventory, StartedProcessesAreListedWithWorkingSetAndDescription) {
    IdleProcess first(TargetPath(L"idle_wait.exe"));
    IdleProcess second(TargetPath(L"idle_wait.exe"), 120);
    ASSERT_TRUE(first.Running() && second.Running());
    Inventory inventory = TakeInventory();
    for (const IdleProcess* process : {&first, &second}) {
        std::optional<std::wstring> line = LineOf(inventory, process->CommandLine());
        ASSERT_TRUE(line.has_value()) << "no line for " << testing::PrintToString(process->CommandLine());
        std::optional<unsigned long long> kib = Kibibytes(*line, process->CommandLine(), kIdleDescription);
        ASSERT_TRUE(kib.has_value()) << testing::PrintToString(*line);
        EXPECT_GT(*kib, 0u) << "a running process has a working set";
    }
}

TEST(ProcessInventory, SameImageIsRecordedOnceAndOtherLetterCaseSeparately) {
    const std::wstring image = TargetPath(L"idle_wait.exe");
    IdleProcess first(image);
    IdleProcess second(image);
    IdleProcess otherCase(Upper(image));
    ASSERT_TRUE(first.Running() && second.Running() && otherCase.Running());
    const std::wstring imagePath = ReadStrings(first.Id()).imagePath;
    const std::wstring otherCasePath = ReadStrings(otherCase.Id()).imagePath;
    ASSERT_EQ(imagePath, ReadStrings(second.Id()).imagePath);
    ASSERT_NE(imagePath, otherCasePath) << "the system kept one spelling of the path";
    ASSERT_EQ(Upper(imagePath), Upper(otherCasePath));

    Inventory inventory = TakeInventory();
    EXPECT_TRUE(LineOf(inventory, first.CommandLine()).has_value());
    EXPECT_TRUE(LineOf(inventory, second.CommandLine()).has_value());
    EXPECT_TRUE(LineOf(inventory, otherCase.CommandLine()).has_value());
    const auto& paths = inventory.imagePaths;
    EXPECT_EQ(1, std::count(paths.begin(), paths.end(), imagePath));
    EXPECT_EQ(1, std::count(paths.begin(), paths.end(), otherCasePath));
    EXPECT_EQ(paths.size(), std::set<std::wstring>(paths.begin(), paths.end()).size()) << "every path once";
    ASSERT_EQ(paths.size(), inventory.imageFacts.size());
    for (std::size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(paths[i], inventory.imageFacts[i].FilePath());
    auto index = std::find(paths.begin(), paths.end(), imagePath) - paths.begin();
    EXPECT_EQ(kIdleDescription, inventory.imageFacts[index].DescriptionText());
}

TEST(ProcessInventory, CommandLineOf500IsListedAndOf501OnlyCounted) {
    IdleProcess fits(TargetPath(L"idle_wait.exe"), 500);
    IdleProcess tooLong(TargetPath(L"idle_wait.exe"), 501);
    ASSERT_TRUE(fits.Running() && tooLong.Running());
    ASSERT_EQ(500u, fits.CommandLine().size());
    ASSERT_EQ(501u, tooLong.CommandLine().size());
    auto [inventory, processCount] = TakeInventoryAtSteadyCount();
    std::optional<std::wstring> line = LineOf(inventory, fits.CommandLine());
    ASSERT_TRUE(line.has_value());
    EXPECT_TRUE(Kibibytes(*line, fits.CommandLine(), kIdleDescription).has_value());
    EXPECT_FALSE(Mentions(inventory, tooLong.Marker()));
    // Still counted: the heading counts every process of the snapshot.
    ASSERT_GE(inventory.lines.size(), 3u);
    EXPECT_EQ(HeadingFor(processCount), inventory.lines[2]);
}

TEST(ProcessInventory, BlockLayoutCountHyphensAndTotal) {
    IdleProcess started(TargetPath(L"idle_wait.exe"));
    ASSERT_TRUE(started.Running());
    auto [inventory, processCount] = TakeInventoryAtSteadyCount();
    const auto& lines = inventory.lines;
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(L"", lines[0]);
    EXPECT_EQ(L"", lines[1]);
    EXPECT_EQ(HeadingFor(processCount), lines[2]);
    EXPECT_EQ(std::wstring(23, L'-'), lines[3]);
    EXPECT_EQ(std::wstring(28, L'-'), lines[lines.size() - 2]);

    // Every listed process is counted; the total is the sum of the exact byte
    // counts, so it lies between the sums of the K values, each with and without
    // the dropped remainder.
    std::vector<std::wstring> processLines = ProcessLines(inventory);
    EXPECT_LE(processLines.size(), processCount);
    unsigned long long kibSum = 0;
    for (const std::wstring& line : processLines) {
        std::size_t open = line.rfind(L" - [", line.rfind(L"K] - "));
        ASSERT_NE(std::wstring::npos, open) << testing::PrintToString(line);
        kibSum += std::stoull(line.substr(open + 4));
    }
    const std::wstring totalPrefix = L"Total Working Set: ";
    const std::wstring& total = lines.back();
    ASSERT_EQ(0u, total.compare(0, totalPrefix.size(), totalPrefix)) << testing::PrintToString(total);
    ASSERT_EQ(L"Mb", total.substr(total.size() - 2));
    const unsigned long long mb = std::stoull(total.substr(totalPrefix.size()));
    EXPECT_GE(mb, kibSum * 1024 / 1048576);
    EXPECT_LE(mb, (kibSum + processLines.size()) * 1024 / 1048576);
    EXPECT_GT(mb, 0u);
}

TEST(ProcessInventory, IdZeroIsNeitherCollectedNorCounted) {
    IdleProcess started(TargetPath(L"idle_wait.exe"));
    ASSERT_TRUE(started.Running());
    std::optional<ProcessSnapshot> snapshot;
    std::size_t processCount = 0;
    for (int attempt = 0; attempt < kSteadyCountAttempts; ++attempt) {
        processCount = NonIdleProcessCount();
        snapshot.emplace(TH32CS_SNAPPROCESS, 0);
        snapshot->CollectProcesses();
        if (NonIdleProcessCount() == processCount && snapshot->Records().size() == processCount) break;
    }
    const auto& records = snapshot->Records();
    EXPECT_EQ(processCount, records.size());
    EXPECT_TRUE(std::none_of(records.begin(), records.end(),
                             [](const ProcessRecord& r) { return r.entry.th32ProcessID == 0; }));
    auto own = std::find_if(records.begin(), records.end(), [&](const ProcessRecord& r) {
        return r.entry.th32ProcessID == started.Id();
    });
    ASSERT_NE(records.end(), own);
    // Collecting again starts from an empty list.
    const std::size_t collected = records.size();
    snapshot->CollectProcesses();
    EXPECT_EQ(collected, snapshot->Records().size());
}

TEST(ProcessInventory, NothingIsWrittenWithoutTheLogButTheImagesAreRecorded) {
    IdleProcess started(TargetPath(L"idle_wait.exe"));
    ASSERT_TRUE(started.Running());
    const std::wstring imagePath = ReadStrings(started.Id()).imagePath;
    std::vector<std::wstring> paths;
    {
        LaunchTrace trace(L"x", nullptr, nullptr);
        trace.log.Close();
        trace.WriteProcessInventory();
        paths = trace.runningImagePaths;
    }
    EXPECT_EQ("", ReadFileBytes(TestProgramFolder() + L"zar.log"));
    EXPECT_EQ(1, std::count(paths.begin(), paths.end(), imagePath));
}

TEST(ReadProcessStrings, CommandLineAndImagePathOfAStartedProcess) {
    IdleProcess started(TargetPath(L"idle_wait.exe"), 200);
    ASSERT_TRUE(started.Running());
    ProcessStrings strings = ReadStrings(started.Id());
    EXPECT_TRUE(strings.read);
    EXPECT_EQ(started.CommandLine(), strings.commandLine);
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, started.Id()));
    wchar_t image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    ASSERT_TRUE(QueryFullProcessImageNameW(process.get(), 0, image, &size));
    EXPECT_EQ(Upper(image), Upper(strings.imagePath));
}

TEST(ReadProcessStrings, MissingProcessFailsWithEmptyBuffers) {
    ProcessStrings strings = ReadStrings(0xFFFFFFF0);
    EXPECT_FALSE(strings.read);
    EXPECT_EQ(L"", strings.commandLine);
    EXPECT_EQ(L"", strings.imagePath);
}

TEST(ReadProcessStrings, CommandLinesBeyond500CharactersFailAndStayInTheirBuffers) {
    for (std::size_t length : {500u, 501u, 999u, 1000u, 1001u, 20000u}) {
        IdleProcess started(TargetPath(L"idle_wait.exe"), length);
        ASSERT_TRUE(started.Running()) << length;
        GuardedTexts texts;
        const bool read = ReadProcessStrings(started.Id(), texts.imagePath, texts.commandLine);
        EXPECT_TRUE(texts.GuardsIntact()) << length;
        EXPECT_EQ(L'\0', texts.imagePath.back()) << length;
        EXPECT_EQ(L'\0', texts.commandLine.back()) << length;
        if (length <= 500) {
            EXPECT_TRUE(read);
            EXPECT_EQ(started.CommandLine(), std::wstring(texts.commandLine.data())) << length;
        } else {
            EXPECT_FALSE(read) << length;
            EXPECT_EQ(L'\0', texts.commandLine[0]) << length;
        }
    }
}

TEST(ProcessTexts, KibibytesAndMegabytesDropTheirRemainders) {
    EXPECT_EQ(L"C:\\a.exe -x - [0K] - Описание", FormatProcessLine(L"C:\\a.exe -x", 1023, L"Описание"));
    EXPECT_EQ(L"a - [1K] - ", FormatProcessLine(L"a", 1024, L""));
    EXPECT_EQ(L"a - [1K] - d", FormatProcessLine(L"a", 2047, L"d"));
    EXPECT_EQ(L"a - [7168K] - d", FormatProcessLine(L"a", 7ull * 1048576, L"d"));
    EXPECT_EQ(L"----------------------------\nTotal Working Set: 0Mb", FormatWorkingSetTotal(1048575));
    EXPECT_EQ(L"----------------------------\nTotal Working Set: 1Mb", FormatWorkingSetTotal(1048576));
    EXPECT_EQ(L"----------------------------\nTotal Working Set: 3Mb", FormatWorkingSetTotal(4ull * 1048576 - 1));
    EXPECT_EQ(L"----------------------------\nTotal Working Set: 0Mb", FormatWorkingSetTotal(0));
    EXPECT_EQ(L"\n\nАктивные процессы (0):", FormatProcessHeading(0));
    EXPECT_EQ(L"\n\nАктивные процессы (17):", FormatProcessHeading(17));
}

TEST(ProcessTexts, ProcessLineIsCutAt1999Characters) {
    std::wstring line = FormatProcessLine(std::wstring(500, L'c'), 4096, std::wstring(3000, L'd'));
    EXPECT_EQ(1999u, line.size());
    EXPECT_EQ(std::wstring(500, L'c') + L" - [4K] - " + std::wstring(1999 - 510, L'd'), line);
}

}  // namespace

namespace {

using NtQueryInformationProcessFn = LONG NTAPI(HANDLE, ULONG, void*, ULONG, ULONG*);

// Where the image path's counted string lies in the process parameters (x64).
constexpr std::size_t kImagePathLengthField = 0x60;
constexpr std::size_t kImagePathBufferField = 0x68;

ULONG_PTR ProcessParametersOf(HANDLE process) {
    auto query = reinterpret_cast<NtQueryInformationProcessFn*>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    ULONG_PTR basic[6] = {};
    if (!query || query(process, 0, basic, sizeof(basic), nullptr) != 0) return 0;
    ULONG_PTR parameters = 0;
    ReadProcessMemory(process, reinterpret_cast<const void*>(basic[1] + 0x20), &parameters, sizeof(parameters),
                      nullptr);
    return parameters;
}

// Makes the process's parameters claim an image path of `claimedBytes` at `address`.
bool ClaimImagePath(HANDLE process, ULONG_PTR address, USHORT claimedBytes) {
    ULONG_PTR parameters = ProcessParametersOf(process);
    if (!parameters) return false;
    USHORT lengths[2] = {claimedBytes, claimedBytes};
    return WriteProcessMemory(process, reinterpret_cast<void*>(parameters + kImagePathLengthField), lengths,
                              sizeof(lengths), nullptr) &&
           WriteProcessMemory(process, reinterpret_cast<void*>(parameters + kImagePathBufferField), &address,
                              sizeof(address), nullptr);
}

// One committed page in the process holding `text` at its very end, so that
// anything claimed beyond the text is unreadable.
ULONG_PTR PlantAtPageEnd(HANDLE process, const std::wstring& text) {
    const std::size_t bytes = text.size() * sizeof(wchar_t);
    const std::size_t pageBytes = (bytes + 4095) / 4096 * 4096;
    auto* region = static_cast<unsigned char*>(
        VirtualAllocEx(process, nullptr, pageBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!region) return 0;
    unsigned char* at = region + pageBytes - bytes;
    if (!WriteProcessMemory(process, at, text.data(), bytes, nullptr)) return 0;
    return reinterpret_cast<ULONG_PTR>(at);
}

TEST(ReadProcessStrings, ImagePathLongerThanItsBufferIsCutToFit) {
    IdleProcess started(TargetPath(L"idle_wait.exe"));
    ASSERT_TRUE(started.Running());
    std::wstring longPath = L"C:\\";
    for (int i = 0; longPath.size() < 1500; ++i) longPath += L"папка" + std::to_wstring(i) + L"\\";
    const ULONG_PTR address = PlantAtPageEnd(started.Handle(), longPath);
    ASSERT_NE(0u, address);
    ASSERT_TRUE(ClaimImagePath(started.Handle(), address, static_cast<USHORT>(longPath.size() * sizeof(wchar_t))));
    GuardedTexts texts;
    EXPECT_TRUE(ReadProcessStrings(started.Id(), texts.imagePath, texts.commandLine));
    EXPECT_TRUE(texts.GuardsIntact());
    EXPECT_EQ(longPath.substr(0, 999), std::wstring(texts.imagePath.data()));
    EXPECT_EQ(started.CommandLine(), std::wstring(texts.commandLine.data()));
}

TEST(ReadProcessStrings, UnreadableImagePathLeavesItEmptyAndTheCommandLineRead) {
    IdleProcess started(TargetPath(L"idle_wait.exe"));
    ASSERT_TRUE(started.Running());
    // The lowest 64 KB of an address space are never mapped.
    constexpr ULONG_PTR kUnmappedAddress = 0x1000;
    ASSERT_TRUE(ClaimImagePath(started.Handle(), kUnmappedAddress, 400));
    GuardedTexts texts;
    EXPECT_TRUE(ReadProcessStrings(started.Id(), texts.imagePath, texts.commandLine));
    EXPECT_TRUE(texts.GuardsIntact());
    EXPECT_EQ(L"", std::wstring(texts.imagePath.data()));
    EXPECT_EQ(started.CommandLine(), std::wstring(texts.commandLine.data()));
}

}  // namespace
