// The run's symbol sessions: one per debuggee process, the names they share,
// and the system's ntdll prepared on a thread of its own.
#include "watch/symbol_session.h"

#include <dbghelp.h>

#include <cwchar>
#include <iterator>
#include <system_error>
#include <thread>
#include <vector>

#include "base/format_bounded.h"
#include "base/system_library.h"

namespace {

constexpr std::size_t kFunctionRoom = 2048;
constexpr std::size_t kSymbolNameRoom = 16;  // room beyond the name: "+0x" and the offset
// Names kept for the run at most (a program may raise at ever new addresses).
constexpr std::size_t kNamesKept = 4096;
constexpr DWORD kSymbolOptions = SYMOPT_UNDNAME | SYMOPT_DEFERRED_LOADS;

// dbghelp is not a known DLL: it is never imported, only loaded from the system folder.
template <class Fn>
Fn* Dbghelp(const char* name) {
    return SystemProc<Fn>(L"dbghelp.dll", name);
}

// The name at the address in the session, with the room its text was given; room 0 when nothing was found.
KnownName LookupSymbolName(DWORD64 address, HANDLE session) {
    static auto symFromAddr = Dbghelp<decltype(SymFromAddrW)>("SymFromAddrW");
    if (!symFromAddr || !session) return {};
    // The record is followed by room for the name.
    std::vector<unsigned char> record(sizeof(SYMBOL_INFOW) + kFunctionRoom * sizeof(wchar_t), 0);
    auto* symbol = reinterpret_cast<SYMBOL_INFOW*>(record.data());
    symbol->SizeOfStruct = sizeof(SYMBOL_INFOW);
    symbol->MaxNameLen = kFunctionRoom;
    DWORD64 displacement = 0;
    if (!symFromAddr(session, address, &displacement, symbol)) return {};
    std::wstring_view name(symbol->Name, wcsnlen(symbol->Name, kFunctionRoom));
    return {FormatToString(kFunctionRoom, L"%s+0x%x", name, static_cast<DWORD>(displacement)),
            name.size() + kSymbolNameRoom};
}

// A session of the handler under the key, its options set; false when it cannot start.
bool StartSession(HANDLE key) {
    static auto symSetOptions = Dbghelp<decltype(SymSetOptions)>("SymSetOptions");
    static auto symInitialize = Dbghelp<decltype(SymInitializeW)>("SymInitializeW");
    if (!symSetOptions || !symInitialize) return false;
    symSetOptions(kSymbolOptions);
    return symInitialize(key, nullptr, FALSE) != FALSE;
}

// By name only: the event's file handle is closed right after its event. A
// module the handler already knows gives 0 with no error.
bool RegisterModule(HANDLE session, const std::wstring& path, DWORD64 base) {
    static auto symLoadModule = Dbghelp<decltype(SymLoadModuleExW)>("SymLoadModuleExW");
    if (!symLoadModule) return false;
    SetLastError(ERROR_SUCCESS);
    return symLoadModule(session, nullptr, path.c_str(), nullptr, base, 0, nullptr, 0) ||
           GetLastError() == ERROR_SUCCESS;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

}  // namespace

void SymbolHandlerTraits::Close(HANDLE process) {
    static auto symCleanup = Dbghelp<decltype(SymCleanup)>("SymCleanup");
    std::lock_guard lock(RunSymbols::HandlerLock());
    if (symCleanup) symCleanup(process);
}

// Never destroyed: the preparing thread may still hold it while the program ends.
std::recursive_mutex& RunSymbols::HandlerLock() {
    static auto* lock = new std::recursive_mutex;
    return *lock;
}

namespace {

// The program's one prepared session; never destroyed, so that no thread of
// it outlives its object while the program ends.
class SystemSymbols {
public:
    SystemSymbols() : sessionKey_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        wchar_t path[MAX_PATH] = {};
        DWORD length = ntdll ? GetModuleFileNameW(ntdll, path, MAX_PATH) : 0;
        if (!sessionKey_ || length == 0 || length >= MAX_PATH) return;
        path_.assign(path, length);
        base_ = reinterpret_cast<DWORD64>(ntdll);
        try {
            preparer_ = std::thread([this] { Prepare(); });
        } catch (const std::system_error&) {
            // Without a thread each process's session reads ntdll itself, as it can.
        }
    }

    HANDLE PreparedFor(const std::wstring& path, DWORD64 base) {
        if (path_.empty() || base != base_ || !SamePath(path, path_)) return nullptr;
        std::call_once(joined_, [this] {
            if (preparer_.joinable()) preparer_.join();
        });
        return prepared_.get();
    }

private:
    void Prepare() {
        std::lock_guard lock(RunSymbols::HandlerLock());
        // A value of our own that no process handle can equal, as the
        // handler's key for a session that is no process's.
        if (!StartSession(sessionKey_.get())) return;
        UniqueSymbolHandler session(sessionKey_.get());
        if (!RegisterModule(session.get(), path_, base_)) return;
        // Symbols are read at the first lookup in a module: that one is made now, while nobody waits.
        auto breakPoint = reinterpret_cast<DWORD64>(NtdllProc<void NTAPI()>("DbgBreakPoint"));
        LookupSymbolName(breakPoint ? breakPoint : base_, session.get());
        prepared_ = std::move(session);
    }

    UniqueHandle sessionKey_;
    std::wstring path_;
    DWORD64 base_ = 0;
    UniqueSymbolHandler prepared_;
    std::thread preparer_;
    std::once_flag joined_;
};

SystemSymbols& TheSystemSymbols() {
    static auto* symbols = new SystemSymbols;
    return *symbols;
}

}  // namespace

void PrepareSystemSymbols() {
    TheSystemSymbols();
}

HANDLE RunSymbols::PreparedFor(const std::wstring& path, DWORD64 base) {
    return TheSystemSymbols().PreparedFor(path, base);
}

const KnownName* RunSymbols::Known(const std::wstring& path, DWORD64 base, DWORD64 address) const {
    auto found = known_.find({path, base, address});
    return found == known_.end() ? nullptr : &found->second;
}

void RunSymbols::Keep(const std::wstring& path, DWORD64 base, DWORD64 address, KnownName name) {
    if (known_.size() >= kNamesKept) known_.clear();
    known_[{path, base, address}] = std::move(name);
}

std::size_t SymbolSession::FunctionAt(DWORD64 address, std::wstring& function) {
    function.clear();
    // The module with the highest base at or below the address is the only
    // one that can hold it; the handler finds nothing beyond its size.
    auto above = loaded_.upper_bound(address);
    if (above == loaded_.begin()) return 0;
    const auto& [base, path] = *std::prev(above);
    const KnownName* known = shared_ ? shared_->Known(path, base, address) : nullptr;
    KnownName found = known ? *known : Lookup(address, path, base);
    // Only names found are kept: a module refused this time is offered again next time.
    if (found.room == 0) return 0;
    if (shared_ && !known) shared_->Keep(path, base, address, found);
    function = std::move(found.function);
    return found.room;
}

KnownName SymbolSession::Lookup(DWORD64 address, const std::wstring& path, DWORD64 base) {
    // Waited for before the lock is taken: the preparation holds it.
    HANDLE prepared = shared_ ? shared_->PreparedFor(path, base) : nullptr;
    std::lock_guard lock(RunSymbols::HandlerLock());
    return LookupSymbolName(address, prepared ? prepared : ReadyFor(path, base));
}

void SymbolSession::ModuleLoaded(const std::wstring& path, DWORD64 base) {
    if (!path.empty()) loaded_[base] = path;
}

void SymbolSession::ModuleUnloaded(DWORD64 base) {
    loaded_.erase(base);
}

HANDLE SymbolSession::ReadyFor(const std::wstring& path, DWORD64 base) {
    if (!Started()) return nullptr;
    ForgetUnloaded();
    if (!registered_.count(base) && RegisterModule(handler_.get(), path, base)) registered_.emplace(base, path);
    return handler_.get();
}

HANDLE SymbolSession::Started() {
    if (!process_) return nullptr;
    if (handler_) return handler_.get();
    // The debuggee's own handle: its modules, not Korvane's, name its addresses.
    if (!StartSession(process_)) return nullptr;
    handler_.reset(process_);
    registered_.clear();
    return handler_.get();
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
