// A process whose own parameters lie: at start it rewrites the CommandLine
// counted string of its RTL_USER_PROCESS_PARAMETERS (found through its PEB), then signals the event
// named by its first argument and waits to be killed. The way it lies comes
// from its file name, hostile_params-<mode>.exe:
//   overlong  Length runs past MaximumLength into other text of the process
//   beyond    Length and MaximumLength claim 600 bytes; the text is shorter and nothing readable follows it
//   odd       an odd Length (half a character at the end)
//   huge      Length and MaximumLength claim 65534 bytes of a short text
// The text that is meant to be shown starts with "hostile-params-line" and the
// first argument; what lies past the string's buffer says "PAST-THE-BUFFER".
#include <windows.h>

#include <cstring>
#include <string>

#include "unreadable_after.h"

namespace {

constexpr std::size_t kPebProcessParameters = 0x20;
constexpr std::size_t kCommandLine = 0x70;  // UNICODE_STRING: Length, MaximumLength, then Buffer at 0x78

struct CountedString {
    USHORT length;
    USHORT maximumLength;
    ULONG padding;
    wchar_t* buffer;
};

CountedString* OwnCommandLine() {
    // The environment block's address, as ProcessBasicInformation gives it.
    using QueryFn = LONG NTAPI(HANDLE, ULONG, void*, ULONG, ULONG*);
    auto* query = reinterpret_cast<QueryFn*>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    ULONG_PTR basic[6] = {};
    if (!query || query(GetCurrentProcess(), 0, basic, sizeof(basic), nullptr) != 0) return nullptr;
    auto* peb = reinterpret_cast<unsigned char*>(basic[1]);
    unsigned char* parameters = *reinterpret_cast<unsigned char**>(peb + kPebProcessParameters);
    return reinterpret_cast<CountedString*>(parameters + kCommandLine);
}

std::wstring OwnMode() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring name(self);
    name = name.substr(name.find_last_of(L'\\') + 1);
    std::size_t dash = name.rfind(L'-'), dot = name.rfind(L'.');
    return dash == std::wstring::npos ? L"" : name.substr(dash + 1, dot - dash - 1);
}

// Text placed so that it ends exactly where readable memory ends.
wchar_t* AtReadableEnd(const std::wstring& text) {
    return static_cast<wchar_t*>(CopyBeforeUnreadable(text.data(), text.size() * sizeof(wchar_t)));
}

USHORT Bytes(const std::wstring& text) {
    return static_cast<USHORT>(text.size() * sizeof(wchar_t));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 1;
    const std::wstring line = std::wstring(L"hostile-params-line ") + argv[1];
    static std::wstring withTail;
    CountedString* commandLine = OwnCommandLine();
    if (!commandLine) return 1;
    const std::wstring mode = OwnMode();
    if (mode == L"overlong") {
        withTail = line + L" PAST-THE-BUFFER";
        commandLine->buffer = withTail.data();
        commandLine->maximumLength = Bytes(line);
        commandLine->length = Bytes(withTail);
    } else if (mode == L"beyond") {
        commandLine->buffer = AtReadableEnd(line);
        commandLine->maximumLength = 600;
        commandLine->length = 600;
    } else if (mode == L"odd") {
        withTail = line;
        commandLine->buffer = withTail.data();
        commandLine->maximumLength = Bytes(line);
        commandLine->length = static_cast<USHORT>(Bytes(line) - 1);
    } else if (mode == L"huge") {
        commandLine->buffer = AtReadableEnd(line);
        commandLine->maximumLength = 65534;
        commandLine->length = 65534;
    }
    if (HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1])) {
        SetEvent(ready);
        CloseHandle(ready);
    }
    Sleep(INFINITE);
    return 0;
}
