// A debuggee that misbehaves on purpose, one way per run, and writes what it
// did to <own path>.counts ("key=value" lines) so that a test can compare the
// log with it. The debug loop launches a path without arguments, so a copy
// named hostile-<mode>-<N>.exe takes its mode and count from its own name:
//   strings N     N numbered debug strings
//   bigstrings 0  a string of 65,535 bytes, strings with an invalid pointer or
//                 one that runs into unreadable memory, lengths that wrap
//   threads N     N threads, 64 at a time, each ending with code 0x10000 + its index
//   dlls N        loads and frees hostile-dlls\hostile_dll_<i>.dll, i < N (distinct files)
//   selfkill N    three threads send strings without end while the main thread
//                 sends N and then terminates its own process
//   cjk 0         loads a DLL from a folder whose name has Chinese letters
//   family ORDER  starts a child, which starts a grandchild; the three end in
//                 ORDER (a permutation of p, c, g), each after the one before it
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "unreadable_after.h"

namespace {

constexpr DWORD kPrintException = 0x40010006;  // DBG_PRINTEXCEPTION_C
constexpr DWORD kThreadCodeBase = 0x10000;
constexpr int kThreadWave = 64;
constexpr DWORD kSelfKillCode = 0x5E1F;
constexpr int kSelfKillWorkers = 3;
constexpr DWORD kFamilyTimeoutMs = 60000;
constexpr DWORD kFamilyCodeBase = 0x40;
constexpr std::size_t kBigStringBytes = 65535;  // the terminating zero included

std::wstring SelfPath() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return self;
}

std::wstring SelfFolder() {
    std::wstring path = SelfPath();
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

void WriteCounts(const std::vector<std::pair<const char*, long long>>& counts, const std::wstring& suffix = L"") {
    FILE* file = _wfopen((SelfPath() + suffix + L".counts").c_str(), L"wb");
    if (!file) return;
    for (const auto& [key, value] : counts) std::fprintf(file, "%s=%lld\n", key, value);
    std::fclose(file);
}

void Say(const char* format, long long a = 0, long long b = 0) {
    char text[200];
    std::snprintf(text, sizeof(text), format, a, b);
    OutputDebugStringA(text);
}

// A debugger turns this exception into a debug string; without one it comes back here.
LONG CALLBACK ContinueAfterPrint(EXCEPTION_POINTERS* info) {
    return info->ExceptionRecord->ExceptionCode == kPrintException ? EXCEPTION_CONTINUE_EXECUTION
                                                                   : EXCEPTION_CONTINUE_SEARCH;
}

void RaiseDebugString(ULONG_PTR length, ULONG_PTR address) {
    ULONG_PTR arguments[2] = {length, address};
    RaiseException(kPrintException, 0, 2, arguments);
}

void Strings(int count) {
    for (int i = 0; i < count; ++i) Say("hostile string %lld\n", i);
    WriteCounts({{"strings", count}});
}

void BigStrings() {
    AddVectoredExceptionHandler(1, ContinueAfterPrint);
    std::string big(kBigStringBytes - 1, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
    OutputDebugStringA(big.c_str());
    // The lowest 64 KB of an address space are never mapped.
    RaiseDebugString(64, 0x1000);
    // 40 characters, then nothing readable, and no zero among them.
    const std::string edge(40, 'e');
    RaiseDebugString(4000, reinterpret_cast<ULONG_PTR>(CopyBeforeUnreadable(edge.data(), edge.size())));
    // Lengths beyond 16 bits: only their low 16 bits reach the debugger.
    std::string longer(70000, 'w');
    RaiseDebugString(65536 + 5, reinterpret_cast<ULONG_PTR>(longer.c_str()));
    Say("hostile bigstrings: done\n");
    WriteCounts({{"strings", 5}});
}

DWORD WINAPI EndWithCode(void* parameter) {
    return kThreadCodeBase + static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(parameter));
}

void Threads(int count) {
    int created = 0;
    for (int first = 0; first < count; first += kThreadWave) {
        std::vector<HANDLE> wave;
        for (int i = first; i < count && i < first + kThreadWave; ++i) {
            HANDLE thread = CreateThread(nullptr, 0, EndWithCode, reinterpret_cast<void*>(static_cast<ULONG_PTR>(i)), 0,
                                         nullptr);
            if (thread) wave.push_back(thread), ++created;
        }
        WaitForMultipleObjects(static_cast<DWORD>(wave.size()), wave.data(), TRUE, INFINITE);
        for (HANDLE thread : wave) CloseHandle(thread);
    }
    WriteCounts({{"threads", created}});
}

void Dlls(int count) {
    std::wstring folder = SelfFolder() + L"hostile-dlls\\";
    int loaded = 0;
    for (int i = 0; i < count; ++i) {
        std::wstring path = folder + L"hostile_dll_" + std::to_wstring(i) + L".dll";
        if (HMODULE module = LoadLibraryW(path.c_str())) {
            ++loaded;
            FreeLibrary(module);
        }
    }
    WriteCounts({{"dlls", loaded}});
}

DWORD WINAPI SendForEver(void* parameter) {
    long long worker = reinterpret_cast<long long>(parameter);
    for (long long i = 0;; ++i) Say("hostile selfkill w%lld %lld\n", worker, i);
}

void SelfKill(int count) {
    for (long long w = 0; w < kSelfKillWorkers; ++w) CreateThread(nullptr, 0, SendForEver, reinterpret_cast<void*>(w), 0, nullptr);
    for (int i = 0; i < count; ++i) Say("hostile selfkill main %lld\n", i);
    WriteCounts({{"main", count}});
    TerminateProcess(GetCurrentProcess(), kSelfKillCode);
}

void Cjk() {
    std::wstring path = SelfFolder() + L"漢字 模块\\hostile_dll.dll";
    HMODULE module = LoadLibraryW(path.c_str());
    Say("hostile cjk: loaded %lld\n", module != nullptr);
    if (module) FreeLibrary(module);
    Say("hostile cjk: done\n");
    WriteCounts({{"loaded", module != nullptr}});
}

// The family: pids of parent, child and grandchild in a mapping named after the
// parent, and an event that the grandchild sets once all three exist.
struct FamilyPids {
    DWORD pids[3];
};

constexpr const char kRoles[] = "pcg";

std::wstring FamilyName(DWORD parentId, const wchar_t* what) {
    return L"Local\\hostile-family-" + std::to_wstring(parentId) + what;
}

HANDLE StartRelative(const wchar_t* role, const std::wstring& order, DWORD parentId) {
    std::wstring self = SelfPath();
    std::wstring commandLine =
        L"\"" + self + L"\" " + role + L" " + order + L" " + std::to_wstring(parentId);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(self.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started))
        return nullptr;
    CloseHandle(started.hThread);
    return started.hProcess;
}

int Family(int role, const std::wstring& order, DWORD parentId) {
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(FamilyPids),
                                        FamilyName(parentId, L"-pids").c_str());
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, FamilyName(parentId, L"-ready").c_str());
    if (!mapping || !ready) return 1;
    auto* shared = static_cast<FamilyPids*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(FamilyPids)));
    if (!shared) return 1;
    shared->pids[role] = GetCurrentProcessId();
    HANDLE next = nullptr;
    if (role == 0) next = StartRelative(L"child", order, parentId);
    if (role == 1) next = StartRelative(L"grandchild", order, parentId);
    if (role == 2) SetEvent(ready);
    if (WaitForSingleObject(ready, kFamilyTimeoutMs) != WAIT_OBJECT_0) return 2;
    Say("hostile family: %c started\n", kRoles[role]);
    std::size_t place = order.find(static_cast<wchar_t>(kRoles[role]));
    if (place != std::wstring::npos && place > 0) {
        int before = static_cast<int>(std::string(kRoles).find(static_cast<char>(order[place - 1])));
        // A process that cannot be opened any more has already ended.
        if (HANDLE predecessor = OpenProcess(SYNCHRONIZE, FALSE, shared->pids[before])) {
            WaitForSingleObject(predecessor, kFamilyTimeoutMs);
            CloseHandle(predecessor);
        }
    }
    Say("hostile family: %c exits\n", kRoles[role]);
    WriteCounts({{"done", 1}}, std::wstring(L".") + static_cast<wchar_t>(kRoles[role]));
    if (next) CloseHandle(next);
    return static_cast<int>(kFamilyCodeBase) + role;
}

// Mode and count from a name such as C:\b\hostile-strings-100000.exe.
bool ArgumentsFromOwnName(std::wstring& mode, std::wstring& count) {
    std::wstring path = SelfPath();
    std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
    name = name.substr(0, name.rfind(L'.'));
    std::size_t first = name.find(L'-'), second = name.rfind(L'-');
    if (first == std::wstring::npos || second == first) return false;
    mode = name.substr(first + 1, second - first - 1);
    count = name.substr(second + 1);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4) {
        int role = std::wstring(argv[1]) == L"child" ? 1 : 2;
        return Family(role, argv[2], static_cast<DWORD>(_wtoi(argv[3])));
    }
    std::wstring mode, argument;
    if (!ArgumentsFromOwnName(mode, argument)) return 1;
    int count = _wtoi(argument.c_str());
    if (mode == L"strings") Strings(count);
    else if (mode == L"bigstrings") BigStrings();
    else if (mode == L"threads") Threads(count);
    else if (mode == L"dlls") Dlls(count);
    else if (mode == L"selfkill") SelfKill(count);
    else if (mode == L"cjk") Cjk();
    else if (mode == L"family") return Family(0, argument, GetCurrentProcessId());
    else return 1;
    return 0;
}
