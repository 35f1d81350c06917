// UploadReport: posts the report form to the report server through WinINet,
// which is loaded from the system folder at first use, never imported.
#include "report/upload.h"

#include <windows.h>
#include <wininet.h>

#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/handles.h"
#include "base/system_library.h"
#include "base/text_1251.h"
#include "diag/os_version.h"
#include "modules/file_facts.h"
#include "report/report_server.h"
#include "report/upload_body.h"
#include "verdict/verdict_text.h"
#include "watch/launch_trace.h"

namespace {

constexpr wchar_t kWinInet[] = L"wininet.dll";
constexpr wchar_t kObjectPath[] = L"/zar/registrator.php";
constexpr wchar_t kSenderFailedCaption[] = L"HttpSender doesn't work";
constexpr wchar_t kFormContentType[] = L"Content-Type: application/x-www-form-urlencoded\n";
static_assert(std::size(kFormContentType) - 1 == 48);
constexpr DWORD kResponseTextChars = 1000;
// A server that takes the connection but never answers must not hold the
// worker, and so the end of the run, without limit: the system's defaults
// differ between versions, and Wine waits for an answer forever.
constexpr DWORD kRequestTimeoutMs = 30000;

struct InternetHandleTraits {
    using Type = HINTERNET;
    static Type Invalid() { return nullptr; }
    static void Close(Type handle) {
        static auto closeHandle = SystemProc<decltype(InternetCloseHandle)>(kWinInet, "InternetCloseHandle");
        if (closeHandle) closeHandle(handle);
    }
};
using UniqueInternetHandle = UniqueResource<InternetHandleTraits>;

void ShowSenderFailure(const wchar_t* text) {
    MessageBoxW(nullptr, text, kSenderFailedCaption, MB_ICONERROR | MB_OK);
}

// The report uploader: the root and connection handles of one upload.
// Members are destroyed in reverse order: the connection closes first.
class HttpSender {
public:
    HttpSender(std::wstring hostIn, std::wstring objectPathIn)
        : host_(std::move(hostIn)), objectPath_(std::move(objectPathIn)) {
        OpenInternet();
        Connect();
    }

    // The request handle of a POST to the object path; invalid on failure.
    UniqueInternetHandle OpenRequest() const;
    void Send(HINTERNET request, const std::string& body) const;

private:
    void OpenInternet();
    void Connect();

    std::wstring host_;
    std::wstring objectPath_;
    UniqueInternetHandle internet_;
    UniqueInternetHandle connection_;
};

void HttpSender::OpenInternet() {
    static auto internetOpen = SystemProc<decltype(InternetOpenW)>(kWinInet, "InternetOpenW");
    if (internetOpen) internet_.reset(internetOpen(L"ZAR", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet_) ShowSenderFailure(L"Internet Open is failed");
}

void HttpSender::Connect() {
    static auto internetConnect = SystemProc<decltype(InternetConnectW)>(kWinInet, "InternetConnectW");
    static auto lastResponseInfo =
        SystemProc<decltype(InternetGetLastResponseInfoW)>(kWinInet, "InternetGetLastResponseInfoW");
    if (internetConnect && internet_) {
        connection_.reset(internetConnect(internet_.get(), host_.c_str(), ReportServerPort(), nullptr, nullptr,
                                         INTERNET_SERVICE_HTTP, 0, 0));
    }
    if (connection_) return;
    wchar_t text[kResponseTextChars] = {};
    DWORD error = 0;
    DWORD length = kResponseTextChars;
    if (lastResponseInfo) lastResponseInfo(&error, text, &length);
    text[kResponseTextChars - 1] = L'\0';
    ShowSenderFailure(text);
}

UniqueInternetHandle HttpSender::OpenRequest() const {
    static auto openRequest = SystemProc<decltype(HttpOpenRequestW)>(kWinInet, "HttpOpenRequestW");
    static auto setOption = SystemProc<decltype(InternetSetOptionW)>(kWinInet, "InternetSetOptionW");
    UniqueInternetHandle request;
    if (!openRequest || !connection_) return request;
    const wchar_t* acceptTypes[] = {L"*/*", nullptr};
    request.reset(openRequest(connection_.get(), L"POST", objectPath_.c_str(), nullptr, nullptr, acceptTypes, 0, 1));
    if (request && setOption) {
        DWORD timeoutMs = kRequestTimeoutMs;
        for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT}) {
            setOption(request.get(), option, &timeoutMs, sizeof(timeoutMs));
        }
    }
    return request;
}

void HttpSender::Send(HINTERNET request, const std::string& body) const {
    static auto sendRequest = SystemProc<decltype(HttpSendRequestW)>(kWinInet, "HttpSendRequestW");
    if (!sendRequest || !request) return;
    // The answer is never read: a failed send is not reported and not retried.
    sendRequest(request, kFormContentType, static_cast<DWORD>(std::size(kFormContentType) - 1),
                const_cast<char*>(body.data()), static_cast<DWORD>(body.size()));
}

UploadFields NarrowFields(const std::vector<std::wstring>& fields) {
    UploadFields narrow;
    narrow.reserve(fields.size());
    for (const std::wstring& field : fields) narrow.push_back(ToNarrowText(field));
    return narrow;
}

std::vector<UploadFields> NarrowUploadFields(const std::vector<FileFacts>& records) {
    std::vector<UploadFields> entries;
    entries.reserve(records.size());
    for (const FileFacts& facts : records) entries.push_back(NarrowFields(facts.UploadFields()));
    return entries;
}

std::vector<UploadFields> NarrowVerdictFields(const std::vector<Finding>& findings) {
    std::vector<UploadFields> entries;
    for (const Finding& finding : findings) entries.push_back(NarrowFields(FindingUploadFields(finding)));
    return entries;
}

}  // namespace

std::string ToNarrowText(std::wstring_view text) {
    return ToCp1251(text);
}

void LaunchTrace::UploadReport() {
    // First, so that its boxes come before anything else of the upload.
    HttpSender sender(ReportServerHost(), kObjectPath);
    // The launched file as it is at the end of the run.
    // The separator is chosen so that no field of this report holds it.
    const UploadEntries entries{NarrowFields(moduleFacts.FinalFacts(targetPath).UploadFields()),
                                NarrowUploadFields(runningImageFacts), NarrowUploadFields(reportedModules),
                                NarrowVerdictFields(verdict)};
    std::string body = BuildReportBody(entries, lastExitCode, ToNarrowText(GetOsVersionTriple()));
    // The last exit code may be another process's (a child, or a console's
    // host ending after the program): the failure's own travels beside it.
    if (std::optional<std::uint32_t> failed = FailedExitCode(verdict, processOutcomes))
        body += "&failexitcode=" + std::to_string(*failed);
    UniqueInternetHandle request = sender.OpenRequest();
    body = EscapePlus(body);
    sender.Send(request.get(), body);
}
