// Exception lines: the symbol session of a debuggee
// process and the lookup of the function at an exception address.
#include "watch/exception_text.h"

#include <dbghelp.h>

#include <cwchar>
#include <iterator>
#include <vector>

#include "base/format_bounded.h"
#include "base/system_library.h"

namespace {

constexpr std::size_t kLineRoom = 300;
constexpr std::size_t kFunctionRoom = 2048;
constexpr std::size_t kSymbolNameRoom = 16;  // room beyond the name: "+0x" and the offset
// Names kept per process at most (a program may raise at ever new addresses).
constexpr std::size_t kNamesKept = 4096;
constexpr DWORD kSymbolOptions = SYMOPT_UNDNAME | SYMOPT_DEFERRED_LOADS;

// dbghelp is not a known DLL: it is never imported, only loaded from the system folder.
template <class Fn>
Fn* Dbghelp(const char* name) {
    return SystemProc<Fn>(L"dbghelp.dll", name);
}

// "Name+0xoffset" for the address in the process whose symbol handler is
// started, and the room the text was given; 0 when nothing was found.
std::size_t LookupSymbolName(DWORD64 address, std::wstring& function, HANDLE process) {
    function.clear();
    static auto symFromAddr = Dbghelp<decltype(SymFromAddrW)>("SymFromAddrW");
    if (!symFromAddr || !process) return 0;
    // The record is followed by room for the name.
    std::vector<unsigned char> record(sizeof(SYMBOL_INFOW) + kFunctionRoom * sizeof(wchar_t), 0);
    auto* symbol = reinterpret_cast<SYMBOL_INFOW*>(record.data());
    symbol->SizeOfStruct = sizeof(SYMBOL_INFOW);
    symbol->MaxNameLen = kFunctionRoom;
    DWORD64 displacement = 0;
    if (!symFromAddr(process, address, &displacement, symbol)) return 0;
    std::wstring_view name(symbol->Name, wcsnlen(symbol->Name, kFunctionRoom));
    function = FormatToString(kFunctionRoom, L"%s+0x%x", name, static_cast<DWORD>(displacement));
    return name.size() + kSymbolNameRoom;
}

}  // namespace

void SymbolHandlerTraits::Close(HANDLE process) {
    static auto symCleanup = Dbghelp<decltype(SymCleanup)>("SymCleanup");
    if (symCleanup) symCleanup(process);
}

HANDLE SymbolSession::ReadyFor(DWORD64 address) {
    if (!Started()) return nullptr;
    ForgetUnloaded();
    RegisterModuleAt(address);
    return handler_.get();
}

HANDLE SymbolSession::Started() {
    if (!process_) return nullptr;
    if (handler_) return handler_.get();
    static auto symSetOptions = Dbghelp<decltype(SymSetOptions)>("SymSetOptions");
    static auto symInitialize = Dbghelp<decltype(SymInitializeW)>("SymInitializeW");
    if (!symSetOptions || !symInitialize) return nullptr;
    symSetOptions(kSymbolOptions);
    // The debuggee's own handle: its modules, not Korvane's, name its addresses.
    if (!symInitialize(process_, nullptr, FALSE)) return nullptr;
    handler_.reset(process_);
    registered_.clear();
    return handler_.get();
}

std::size_t SymbolSession::FunctionAt(DWORD64 address, std::wstring& function) {
    if (auto known = named_.find(address); known != named_.end()) {
        function = known->second.function;
        return known->second.room;
    }
    std::size_t room = LookupSymbolName(address, function, ReadyFor(address));
    // Only names found: a module refused this time is offered again next time.
    if (room == 0) return 0;
    if (named_.size() >= kNamesKept) named_.clear();
    named_[address] = {function, room};
    return room;
}

void SymbolSession::ModuleLoaded(const std::wstring& path, DWORD64 base) {
    if (path.empty()) return;
    loaded_[base] = path;
    named_.clear();
}

void SymbolSession::ModuleUnloaded(DWORD64 base) {
    loaded_.erase(base);
    named_.clear();
}

// A module gone since its registration would still claim its old addresses,
// some of which a DLL loaded later may now hold.
void SymbolSession::ForgetUnloaded() {
    static auto symUnloadModule = Dbghelp<decltype(SymUnloadModule64)>("SymUnloadModule64");
    for (auto it = registered_.begin(); it != registered_.end();) {
        auto now = loaded_.find(it->first);
        if (now != loaded_.end() && now->second == it->second) {
            ++it;
            continue;
        }
        if (symUnloadModule) symUnloadModule(handler_.get(), it->first);
        it = registered_.erase(it);
    }
}

// The module with the highest base at or below the address is the only one
// that can hold it; the handler knows its size and finds nothing beyond it.
void SymbolSession::RegisterModuleAt(DWORD64 address) {
    static auto symLoadModule = Dbghelp<decltype(SymLoadModuleExW)>("SymLoadModuleExW");
    auto above = loaded_.upper_bound(address);
    if (above == loaded_.begin() || !symLoadModule) return;
    const auto& [base, path] = *std::prev(above);
    if (registered_.count(base)) return;
    // By name only: the event's file handle was closed right after its event.
    // A module the handler already knows gives 0 with no error.
    SetLastError(ERROR_SUCCESS);
    if (symLoadModule(handler_.get(), nullptr, path.c_str(), nullptr, base, 0, nullptr, 0) ||
        GetLastError() == ERROR_SUCCESS)
        registered_.emplace(base, path);
}

DWORD DescribeException(const DEBUG_EVENT& event, std::wstring& line, SymbolSession& symbols) {
    const EXCEPTION_RECORD& exception = event.u.Exception.ExceptionRecord;
    std::wstring function;
    auto address = reinterpret_cast<DWORD64>(exception.ExceptionAddress);
    std::size_t functionRoom = symbols.FunctionAt(address, function);
    std::size_t room = kLineRoom + functionRoom;
    line = FormatToString(room, L"Процесс сгенерировал исключение (0x%X). %s", exception.ExceptionCode,
                          ExceptionDescription(exception.ExceptionCode));
    if (!function.empty()) line = FormatToString(room, L"%s. Функция: %s", line, function);
    return DBG_EXCEPTION_NOT_HANDLED;
}
