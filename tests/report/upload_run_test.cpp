// A whole run under the debugger, then its upload: what the listener gets
// must say what the run's log says.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modules/fold_path.h"
#include "tests/support/report_listener.h"
#include "tests/support/test_files.h"
#include "watch/launch_trace.h"

namespace {

constexpr unsigned short kListenerPort = KORVANE_TEST_REPORT_PORT;
constexpr DWORD kRequestArrivalTimeoutMs = 20000;

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(separator, start)) != std::wstring::npos; start = end + 1)
        parts.push_back(text.substr(start, end - start));
    parts.push_back(text.substr(start));
    return parts;
}

// The entries of a list field ("&files=" or "&modules="), each ended by its line feed.
std::vector<std::wstring> Entries(const std::wstring& body, const std::wstring& field, const std::wstring& next) {
    std::size_t start = body.find(field);
    if (start == std::wstring::npos) return {};
    start += field.size();
    std::size_t end = next.empty() ? body.size() : body.find(next, start);
    std::wstring list = body.substr(start, end - start);
    EXPECT_TRUE(list.empty() || list.back() == L'\n') << "an entry without its line feed";
    std::vector<std::wstring> entries = Split(list, L'\n');
    entries.pop_back();  // what follows the last line feed: nothing
    return entries;
}

std::wstring Lower(std::wstring text) {
    if (!text.empty()) CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// The path as the upload writes it: folded, its directory without the final backslash.
std::wstring UploadedPath(const std::vector<std::wstring>& fields) {
    return fields[1].empty() ? fields[0] : fields[1] + L"\\" + fields[0];
}

// The lines of one block of the log: from the line that starts with the
// heading up to the next empty line.
std::vector<std::wstring> Block(const std::vector<std::wstring>& log, const std::wstring& heading) {
    std::vector<std::wstring> block;
    bool inside = false;
    for (const std::wstring& line : log) {
        if (!inside && line.rfind(heading, 0) == 0) inside = true;
        else if (inside && line.empty()) break;
        if (inside) block.push_back(line);
    }
    return block;
}

// The part of a loaded-modules row after its path, as the entry's fields give it:
// "[<K>; <version>; <created>; <modified>] - <description> - <company>".
std::wstring RowTailOf(const std::vector<std::wstring>& fields) {
    std::wstring sizeK = fields[2].empty() ? L"" : std::to_wstring(std::stoull(fields[2]) / 1024) + L"K";
    return L"[" + sizeK + L"; " + fields[3] + L"; " + fields[4] + L"; " + fields[5] + L"] - " + fields[6] + L" - " +
           fields[7];
}

}  // namespace

TEST(UploadReport, WholeRunPostsWhatItsLogSays) {
    LoopbackListener listener(kListenerPort);
    ASSERT_TRUE(listener.Listening());
    const std::wstring target = TargetPath(L"trace_basic.exe");
    {
        LaunchTrace trace(target, nullptr, nullptr);
        trace.RunDebugLoop();
        trace.log.Close();  // as CloseAndShowLog does, without starting Notepad
        trace.UploadReport();
    }
    std::optional<ReceivedRequest> request = listener.WaitForRequest(kRequestArrivalTimeoutMs);
    ASSERT_TRUE(request.has_value());
    const std::wstring body = FromCp1251(request->body);
    const std::vector<std::wstring> log = ReadLogLines(TestProgramFolder() + L"zar.log");
    ASSERT_FALSE(log.empty());

    // The exit code: the last process-exit line of the log.
    std::wstring lastExit;
    for (const std::wstring& line : log)
        if (line.find(L" уничтожен с кодом 0x") != std::wstring::npos && line.rfind(L"Процесс ", 0) == 0) lastExit = line;
    ASSERT_FALSE(lastExit.empty());
    const unsigned long code = std::stoul(lastExit.substr(lastExit.rfind(L"0x") + 2), nullptr, 16);
    EXPECT_NE(std::wstring::npos, body.find(L"&exitcode=" + std::to_wstring(code) + L"&separator=;&OS="));

    // "&modules=": one entry per row of the loaded-modules section, in order, with the row's facts.
    std::vector<std::wstring> rows = Block(log, L"Загруженные модули:");
    ASSERT_GE(rows.size(), 3u);
    rows.erase(rows.begin(), rows.begin() + 3);  // heading, legend, rule
    const std::vector<std::wstring> modules = Entries(body, L"&modules=", L"&verdict=");
    ASSERT_EQ(rows.size(), modules.size());
    ASSERT_FALSE(rows.empty());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::vector<std::wstring> fields = Split(modules[i], L';');
        ASSERT_EQ(8u, fields.size()) << testing::PrintToString(modules[i]);
        std::wstring tail = RowTailOf(fields);
        ASSERT_GE(rows[i].size(), tail.size() + 3);
        EXPECT_EQ(tail, rows[i].substr(rows[i].size() - tail.size())) << "row " << i;
        std::wstring rowPath = rows[i].substr(0, rows[i].size() - tail.size() - 3);
        FoldPath(rowPath);
        EXPECT_EQ(rowPath, UploadedPath(fields)) << "row " << i;
    }

    // "process=": the launched file, the first row of the section.
    const std::size_t processEnd = body.find(L"&exitcode=");
    ASSERT_EQ(0u, body.find(L"process="));
    EXPECT_EQ(modules[0], body.substr(8, processEnd - 8));
    EXPECT_EQ(L"trace_basic.exe", Split(modules[0], L';')[0]);

    // "&files=": the image files of the processes that the active-processes block lists;
    // no block, no entries.
    std::vector<std::wstring> processes = Block(log, L"Активные процессы (");
    const std::vector<std::wstring> files = Entries(body, L"&files=", L"&modules=");
    if (processes.empty()) {
        EXPECT_TRUE(files.empty());
        return;
    }
    ASSERT_GE(processes.size(), 4u);
    EXPECT_FALSE(files.empty());
    EXPECT_LE(files.size(), processes.size() - 4);  // heading, two rules, total
    for (const std::wstring& entry : files) {
        std::vector<std::wstring> fields = Split(entry, L';');
        ASSERT_EQ(8u, fields.size()) << testing::PrintToString(entry);
        bool listed = false;
        for (std::size_t i = 2; i < processes.size() - 2 && !listed; ++i)
            listed = Lower(processes[i]).find(Lower(fields[0])) != std::wstring::npos;
        EXPECT_TRUE(listed) << testing::PrintToString(entry);
    }
}
