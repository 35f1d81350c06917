// The report upload against a real loopback listener: the request, the body
// byte for byte, and a run that ends quietly when no server answers.
#include "report/upload.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "diag/os_version.h"
#include "modules/file_facts.h"
#include "tests/support/report_listener.h"
#include "tests/support/test_files.h"
#include "watch/launch_trace.h"

namespace {

constexpr unsigned short kListenerPort = KORVANE_TEST_REPORT_PORT;
// Generous bounds, far above a loopback post, above the upload's own 30 s
// time-outs: they only tell "finished" from "hangs".
constexpr DWORD kRequestArrivalTimeoutMs = 20000;
constexpr DWORD kUploadEndTimeoutMs = 90000;
constexpr DWORD kPollStepMs = 50;
constexpr wchar_t kSenderFailedCaption[] = L"HttpSender doesn't work";
constexpr wchar_t kDemoFolder[] = L"C:\\Demo";

FILETIME UtcNoon(WORD year, WORD month, WORD day) {
    SYSTEMTIME time = {};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = 12;
    FILETIME result = {};
    SystemTimeToFileTime(&time, &result);
    return result;
}

void SetFileDates(const std::wstring& path, const FILETIME& created, const FILETIME& modified) {
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << "cannot open " << testing::PrintToString(path);
    EXPECT_TRUE(SetFileTime(file, &created, nullptr, &modified));
    CloseHandle(file);
}

// A file of the given size without a version resource, dated 05.03.2013 / 06.03.2013.
void MakeDemoFile(const std::wstring& path, std::size_t size) {
    WriteFileBytes(path, std::string(size, 'Z'));
    SetFileDates(path, UtcNoon(2013, 3, 5), UtcNoon(2013, 3, 6));
}

// The creation date as the file system keeps it, "dd.mm.yyyy". Windows keeps
// what SetFileTime set; Wine keeps no creation time of its own and reports the
// last-write time instead.
std::wstring StoredCreationDate(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    SYSTEMTIME date = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        !FileTimeToSystemTime(&data.ftCreationTime, &date))
        return L"(unknown)";
    wchar_t text[16];
    swprintf(text, 16, L"%02u.%02u.%04u", unsigned(date.wDay), unsigned(date.wMonth), unsigned(date.wYear));
    return text;
}

std::string Ascii(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

struct UploadOutcome {
    bool endedInTime = false;
    bool senderBoxShown = false;
};

// Runs the upload on a thread of its own, as the worker does, watching for the
// uploader's message box (and closing it, so that the upload can end). An
// upload still running after kUploadEndTimeoutMs counts as hanging; then
// onOverdue gets the chance to release it.
UploadOutcome RunUpload(LaunchTrace& trace, const std::function<void()>& onOverdue = {}) {
    UploadOutcome outcome;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        trace.UploadReport();
        done = true;
    });
    DWORD start = GetTickCount();
    outcome.endedInTime = true;
    while (!done) {
        if (HWND box = FindWindowW(nullptr, kSenderFailedCaption)) {
            outcome.senderBoxShown = true;
            PostMessageW(box, WM_CLOSE, 0, 0);
        }
        if (outcome.endedInTime && GetTickCount() - start > kUploadEndTimeoutMs) {
            outcome.endedInTime = false;
            if (onOverdue) onOverdue();
        }
        Sleep(kPollStepMs);
    }
    worker.join();
    return outcome;
}

// The whole request as the listener got it, checked for what every upload sends.
std::string PostedBody(LaunchTrace& trace) {
    LoopbackListener listener(kListenerPort);
    EXPECT_TRUE(listener.Listening());
    UploadOutcome outcome = RunUpload(trace);
    EXPECT_TRUE(outcome.endedInTime);
    EXPECT_FALSE(outcome.senderBoxShown);
    std::optional<ReceivedRequest> request = listener.WaitForRequest(kRequestArrivalTimeoutMs);
    if (!request) {
        ADD_FAILURE() << "no request reached the listener";
        return {};
    }
    EXPECT_EQ("POST /zar/registrator.php HTTP/1.1", request->requestLine);
    EXPECT_EQ("application/x-www-form-urlencoded", request->Header("Content-Type").value_or("(none)"));
    EXPECT_EQ(std::to_string(request->body.size()), request->Header("Content-Length").value_or("(none)"));
    return request->body;
}

std::wstring DemoPath(const std::wstring& name) {
    CreateDirectoryW(kDemoFolder, nullptr);
    return std::wstring(kDemoFolder) + L"\\" + name;
}

}  // namespace

TEST(ToNarrowText, GivesOneWindows1251BytePerCharacter) {
    EXPECT_EQ("\xCE\xEF\xE8\xF1\xE0\xED\xE8\xE5", ToNarrowText(L"Описание"));
    EXPECT_EQ("\xA8\xB8 \xAB\xBB", ToNarrowText(L"Ёё «»"));
    EXPECT_EQ("", ToNarrowText(L""));
}

TEST(ToNarrowText, UnrepresentableCharactersBecomeQuestionMarksInPlace) {
    EXPECT_EQ("??.exe", ToNarrowText(L"数据.exe"));
    EXPECT_EQ("a?b", ToNarrowText(L"a\x4E2D" L"b"));
    // A character outside the basic plane takes two UTF-16 units, so two bytes.
    EXPECT_EQ("x??y", ToNarrowText(L"x\xD83D\xDE00y"));
}

TEST(UploadReport, DemoTargetPostsTheDocumented152ByteBody) {
    const std::wstring demo = DemoPath(L"demo.exe");
    MakeDemoFile(demo, 5120);
    ASSERT_EQ(L"6.1.7601", GetOsVersionTriple()) << "the documented body names Windows 6.1.7601";
    LaunchTrace trace(demo, nullptr, nullptr);
    trace.lastExitCode = 0;
    trace.reportedModules = {FileFacts(demo)};

    // On Windows the created date is 05.03.2013, the documented body itself.
    const std::string created = Ascii(StoredCreationDate(demo));
    const std::string expected = "process=demo.exe;C:\\Demo;5120;;" + created +
                                 ";06.03.2013;;&exitcode=0&separator=;&OS=6.1.7601"
                                 "&files=&modules=demo.exe;C:\\Demo;5120;;" + created + ";06.03.2013;;\n";
    EXPECT_EQ(152u, expected.size());
    EXPECT_EQ(expected, PostedBody(trace));
}

TEST(UploadReport, PlusIsEscapedAloneAndCyrillicGoesAsWindows1251) {
    // "+", "&", "%" and blanks in a path, and a DLL whose Russian version strings hold them too.
    // (File names stay ASCII: the test machine's Wine maps only ASCII names to its file system.)
    const std::wstring folder = DemoPath(L"a+b & 50% off");
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring target = folder + L"\\x+y.exe";
    MakeDemoFile(target, 4096);
    const std::wstring dll = folder + L"\\opisanie.dll";
    ASSERT_TRUE(CopyFileW(TargetPath(L"described_ru.dll").c_str(), dll.c_str(), FALSE));
    SetFileDates(dll, UtcNoon(2020, 12, 31), UtcNoon(2021, 1, 2));
    const std::wstring dllSize = std::to_wstring(ReadFileBytes(dll).size());

    LaunchTrace trace(target, nullptr, nullptr);
    trace.lastExitCode = 0xC0000142;
    trace.runningImageFacts = {FileFacts(dll)};
    trace.reportedModules = {FileFacts(target), FileFacts(dll)};
    const std::string body = PostedBody(trace);

    const std::wstring targetLine =
        L"x%2By.exe;C:\\Demo\\a%2Bb & 50% off;4096;;" + StoredCreationDate(target) + L";06.03.2013;;";
    const std::wstring dllLine = L"opisanie.dll;C:\\Demo\\a%2Bb & 50% off;" + dllSize + L";2.5%2Bbuild 7;" +
                                 StoredCreationDate(dll) +
                                 L";02.01.2021;Описание модуля %2B 100% проверка;ООО «Ромашка» & Ко";
    EXPECT_EQ(L"process=" + targetLine + L"&exitcode=3221225794&separator=;&OS=" + GetOsVersionTriple() + L"&files=" +
                  dllLine + L"\n&modules=" + targetLine + L"\n" + dllLine + L"\n",
              FromCp1251(body));
    // The bytes themselves: Windows-1251, neither UTF-8 nor percent-encoded.
    EXPECT_NE(std::string::npos, body.find(";\xCE\xEF\xE8\xF1\xE0\xED\xE8\xE5 \xEC\xEE\xE4\xF3\xEB\xFF %2B 100% "));
    EXPECT_EQ(std::string::npos, body.find('+'));
}

TEST(UploadReport, UnrepresentableNamesGoAsQuestionMarksNeverAsNul) {
    // Files that do not exist still give their name and folder; their other facts stay empty.
    const std::wstring target = DemoPath(L"\x6570\x636E.exe");
    LaunchTrace trace(target, nullptr, nullptr);
    trace.lastExitCode = 1;
    trace.reportedModules = {FileFacts(target), FileFacts(L"C:\\Demo\\x\x4E2D.dll")};
    const std::string body = PostedBody(trace);
    EXPECT_EQ("process=??.exe;C:\\Demo;;;;;;&exitcode=1&separator=;&OS=" + Ascii(GetOsVersionTriple()) +
                  "&files=&modules=??.exe;C:\\Demo;;;;;;\nx?.dll;C:\\Demo;;;;;;\n",
              body);
}

TEST(UploadReport, NoServerListeningEndsQuietlyWithoutAnyMessage) {
    const std::wstring demo = DemoPath(L"demo.exe");
    MakeDemoFile(demo, 5120);
    LaunchTrace trace(demo, nullptr, nullptr);
    trace.lastExitCode = 0;
    UploadOutcome outcome = RunUpload(trace);
    EXPECT_TRUE(outcome.endedInTime);
    EXPECT_FALSE(outcome.senderBoxShown);
}

TEST(UploadReport, ServerThatNeverAnswersDoesNotHoldTheRun) {
    const std::wstring demo = DemoPath(L"demo.exe");
    MakeDemoFile(demo, 5120);
    LaunchTrace trace(demo, nullptr, nullptr);
    trace.lastExitCode = 0;
    LoopbackListener silent(kListenerPort, ListenerReply::Never);
    ASSERT_TRUE(silent.Listening());
    UploadOutcome outcome = RunUpload(trace, [&] { silent.Close(); });
    EXPECT_TRUE(outcome.endedInTime);
    EXPECT_FALSE(outcome.senderBoxShown);
    EXPECT_TRUE(silent.WaitForRequest(0).has_value()) << "the request never reached the listener";
}
