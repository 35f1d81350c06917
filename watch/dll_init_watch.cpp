// The initialisation watch: int3 breakpoints at entry points, TLS callbacks
// and the loader's call sites, and what they tell of each initialisation.
#include "watch/dll_init_watch.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <iterator>
#include <optional>
#include <string_view>

#include "modules/split_path.h"

namespace {

constexpr BYTE kInt3 = 0xCC;
constexpr DWORD kTrapFlag = 0x100;  // EFLAGS.TF: a single-step exception after the next instruction
constexpr DWORD kContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
constexpr std::size_t kHeaderBytes = 4096;
constexpr std::size_t kMaxTlsCallbacks = 64;
// The x64 TEB's LastErrorValue and LastStatusValue.
constexpr std::uintptr_t kTebLastError = 0x68;
constexpr std::uintptr_t kTebLastStatus = 0x1250;
// What an initialisation's refusal keeps: a few of each, each cut.
constexpr std::size_t kMaxFailedLoads = 4;
constexpr std::size_t kMaxDebugStrings = 4;
constexpr std::size_t kMaxDebugStringChars = 120;
constexpr std::size_t kMaxNameChars = MAX_PATH;
constexpr std::size_t kMaxExportBytes = 1 << 20;

struct ImageHeader {
    DWORD entryRva = 0;
    DWORD sizeOfImage = 0;
    WORD machine = 0;
    DWORD64 imageBase = 0;  // the preferred base the file was linked for
    DWORD tlsRva = 0;
    IMAGE_DATA_DIRECTORY exports = {};
    std::vector<std::pair<DWORD, DWORD>> sharedRanges;
};

template <class T>
bool Take(const std::string& bytes, std::size_t offset, T& out) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return false;
    std::memcpy(&out, bytes.data() + offset, sizeof(T));
    return true;
}

// The header page as mapped in the process; every read bounded by what could be read.
std::optional<ImageHeader> ReadImageHeader(HANDLE process, DWORD64 base) {
    std::string bytes = ReadUpToUnreadable(process, base, kHeaderBytes);
    IMAGE_DOS_HEADER dos = {};
    if (!Take(bytes, 0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0) return std::nullopt;
    auto at = static_cast<std::size_t>(dos.e_lfanew);
    DWORD signature = 0;
    IMAGE_FILE_HEADER file = {};
    if (!Take(bytes, at, signature) || signature != IMAGE_NT_SIGNATURE || !Take(bytes, at + 4, file))
        return std::nullopt;
    std::size_t optionalAt = at + 4 + sizeof(IMAGE_FILE_HEADER);
    ImageHeader header;
    header.machine = file.Machine;
    // Entry point and image size stand at the same offsets in both optional header forms.
    IMAGE_OPTIONAL_HEADER64 optional = {};
    if (!Take(bytes, optionalAt, optional.Magic)) return std::nullopt;
    std::size_t taken = std::min<std::size_t>(file.SizeOfOptionalHeader, sizeof(optional));
    if (optionalAt + taken > bytes.size()) taken = bytes.size() - optionalAt;
    std::memcpy(&optional, bytes.data() + optionalAt, taken);
    header.entryRva = optional.AddressOfEntryPoint;
    header.sizeOfImage = optional.SizeOfImage;
    if (optional.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        header.imageBase = optional.ImageBase;
        if (optional.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_EXPORT &&
            taken >= offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory) + sizeof(IMAGE_DATA_DIRECTORY))
            header.exports = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
        if (optional.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_TLS &&
            taken >= offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory) +
                         (IMAGE_DIRECTORY_ENTRY_TLS + 1) * sizeof(IMAGE_DATA_DIRECTORY))
            header.tlsRva = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS].VirtualAddress;
    }
    std::size_t sectionAt = optionalAt + file.SizeOfOptionalHeader;
    for (WORD i = 0; i < file.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER section = {};
        if (!Take(bytes, sectionAt + i * sizeof(section), section)) break;
        if (section.Characteristics & IMAGE_SCN_MEM_SHARED)
            header.sharedRanges.emplace_back(section.VirtualAddress,
                                             std::max(section.Misc.VirtualSize, section.SizeOfRawData));
    }
    return header;
}

// A virtual address the file holds, as it stands in the mapped image: already
// relocated, or still for the preferred base when the loader has not relocated yet.
std::optional<DWORD64> MappedAddress(DWORD64 linked, DWORD64 base, const ImageHeader& header) {
    if (linked >= base && linked - base < header.sizeOfImage) return linked;
    if (linked >= header.imageBase && linked - header.imageBase < header.sizeOfImage)
        return base + (linked - header.imageBase);
    return std::nullopt;
}

std::vector<DWORD64> TlsCallbacks(HANDLE process, DWORD64 base, const ImageHeader& header) {
    std::vector<DWORD64> callbacks;
    IMAGE_TLS_DIRECTORY64 directory = {};
    if (!header.tlsRva || header.tlsRva >= header.sizeOfImage ||
        !ReadValue(process, base + header.tlsRva, directory))
        return callbacks;
    std::optional<DWORD64> list = MappedAddress(directory.AddressOfCallBacks, base, header);
    if (!list) return callbacks;
    // The whole list in one read (each read is a call into the other process):
    // it ends at its zero entry or where the readable memory does.
    std::string bytes = ReadUpToUnreadable(process, *list, kMaxTlsCallbacks * sizeof(DWORD64));
    for (std::size_t i = 0; i < kMaxTlsCallbacks; ++i) {
        DWORD64 linked = 0;
        if (!Take(bytes, i * sizeof(linked), linked) || !linked) break;
        if (std::optional<DWORD64> callback = MappedAddress(linked, base, header)) callbacks.push_back(*callback);
    }
    return callbacks;
}

// The address of a function the mapped image exports by name; none when it is
// not exported there, is forwarded, or the export table cannot be read whole.
std::optional<DWORD64> ExportedFunction(HANDLE process, DWORD64 base, const ImageHeader& header,
                                        std::string_view wanted) {
    const IMAGE_DATA_DIRECTORY& directory = header.exports;
    if (!directory.VirtualAddress || directory.Size > kMaxExportBytes || directory.VirtualAddress >= header.sizeOfImage)
        return std::nullopt;
    std::string table = ReadUpToUnreadable(process, base + directory.VirtualAddress, directory.Size);
    // Addresses in the table are the image's; they must fall inside what was read.
    auto at = [&](DWORD rva, std::size_t size) -> std::optional<std::size_t> {
        if (rva < directory.VirtualAddress) return std::nullopt;
        std::size_t offset = rva - directory.VirtualAddress;
        if (offset > table.size() || table.size() - offset < size) return std::nullopt;
        return offset;
    };
    IMAGE_EXPORT_DIRECTORY exports = {};
    if (!Take(table, 0, exports)) return std::nullopt;
    std::optional<std::size_t> names = at(exports.AddressOfNames, std::size_t{exports.NumberOfNames} * sizeof(DWORD));
    std::optional<std::size_t> ordinals =
        at(exports.AddressOfNameOrdinals, std::size_t{exports.NumberOfNames} * sizeof(WORD));
    if (!names || !ordinals) return std::nullopt;
    for (DWORD i = 0; i < exports.NumberOfNames; ++i) {
        DWORD nameRva = 0;
        Take(table, *names + i * sizeof(DWORD), nameRva);
        std::optional<std::size_t> name = at(nameRva, wanted.size() + 1);
        if (!name || table.compare(*name, wanted.size(), wanted) != 0 || table[*name + wanted.size()] != '\0')
            continue;
        WORD index = 0;
        Take(table, *ordinals + i * sizeof(WORD), index);
        if (index >= exports.NumberOfFunctions) return std::nullopt;
        const auto functionAt = static_cast<DWORD>(exports.AddressOfFunctions + index * sizeof(DWORD));
        std::optional<std::size_t> function = at(functionAt, sizeof(DWORD));
        DWORD functionRva = 0;
        if (function)
            Take(table, *function, functionRva);
        else if (!ReadValue(process, base + functionAt, functionRva))
            return std::nullopt;
        // A forwarder points into the export table; code lies elsewhere in the image.
        bool forwarded = functionRva >= directory.VirtualAddress && functionRva - directory.VirtualAddress < directory.Size;
        if (!functionRva || forwarded || functionRva >= header.sizeOfImage) return std::nullopt;
        return base + functionRva;
    }
    return std::nullopt;
}

// UNICODE_STRING as a 64-bit process holds it.
struct RemoteUnicodeString {
    USHORT length;  // bytes, without a terminator
    USHORT maximumLength;
    DWORD64 buffer;
};

bool IsFileNamed(const std::wstring& path, std::wstring_view name) {
    const std::wstring file = FileNameOf(path);
    return file.size() == name.size() &&
           CompareStringOrdinal(file.data(), static_cast<int>(file.size()), name.data(), static_cast<int>(name.size()),
                                TRUE) == CSTR_EQUAL;
}

// The system's text for an error code, without its closing period and line break.
std::wstring SystemErrorText(DWORD code) {
    wchar_t text[512] = L"";
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                  static_cast<DWORD>(std::size(text)), nullptr);
    std::wstring result(text, length);
    while (!result.empty() && (iswspace(result.back()) || result.back() == L'.')) result.pop_back();
    return result;
}

// One line of text: control characters (line breaks among them) as blanks, cut to a bound.
std::wstring OneLine(std::wstring text, std::size_t bound) {
    if (text.size() > bound) text.resize(bound);
    for (wchar_t& c : text) {
        if (c < L' ') c = L' ';
    }
    while (!text.empty() && text.back() == L' ') text.pop_back();
    return text;
}

bool IsWow64(HANDLE process) {
    BOOL wow64 = FALSE;
    return IsWow64Process(process, &wow64) && wow64;
}

}  // namespace

DllInitWatch::DllInitWatch(HANDLE process, bool armed) : process_(process), armed_(armed && !IsWow64(process)) {}

bool DllInitWatch::AddModule(DWORD64 base, const std::wstring& path, DWORD* entryRva) {
    std::optional<ImageHeader> header = ReadImageHeader(process_, base);
    if (!header) return false;
    modules_[base] = Module{header->sizeOfImage, path, header->sharedRanges};
    // Code this watch does not speak is left alone.
    if (!armed_ || header->machine != IMAGE_FILE_MACHINE_AMD64) return true;
    for (DWORD64 callback : TlsCallbacks(process_, base, *header))
        AddBreakpoint(callback, Call{CallKind::TlsCallback, base, path});
    // A load that fails raises no event: the loader's own entry tells it.
    if (IsFileNamed(path, L"ntdll.dll")) {
        std::optional<DWORD64> loadDll = ExportedFunction(process_, base, *header, "LdrLoadDll");
        loadDllEntry_ = loadDll && Writable(*loadDll) ? *loadDll : 0;
    }
    // No entry point (resource-only DLLs): nothing to arm.
    if (entryRva && header->entryRva != 0 && header->entryRva < header->sizeOfImage) *entryRva = header->entryRva;
    return true;
}

void DllInitWatch::ImageMapped(const void* base, const std::wstring& path) {
    // The program's entry is its main, no initialisation: only its TLS callbacks are the loader's calls.
    AddModule(reinterpret_cast<DWORD64>(base), path, nullptr);
}

void DllInitWatch::DllLoaded(const void* base, const std::wstring& path) {
    auto at = reinterpret_cast<DWORD64>(base);
    DWORD entryRva = 0;
    // The loader calls the TLS callbacks before the entry point, also where one is the entry itself.
    if (AddModule(at, path, &entryRva) && entryRva) AddBreakpoint(at + entryRva, Call{CallKind::Entry, at, path});
}

void DllInitWatch::DllUnloaded(const void* base) {
    auto at = reinterpret_cast<DWORD64>(base);
    auto module = modules_.find(at);
    DWORD64 size = module == modules_.end() ? 0 : module->second.size;
    for (auto it = breakpoints_.lower_bound(at); it != breakpoints_.end() && it->first - at < size;) {
        Lift(it->first, it->second);
        it = breakpoints_.erase(it);
    }
    if (loadDllEntry_ - at < size) loadDllEntry_ = 0;
    // Another image may come to these addresses, with int3 bytes of its own.
    everWritten_.erase(everWritten_.lower_bound(at), everWritten_.lower_bound(at + size));
    if (module != modules_.end()) modules_.erase(module);
}

void DllInitWatch::ThreadCreated(DWORD threadId, HANDLE thread) {
    // A reused id starts afresh.
    ThreadWatch watch;
    watch.handle = thread;
    threads_[threadId] = std::move(watch);
}

void DllInitWatch::ThreadExited(DWORD threadId) {
    auto found = threads_.find(threadId);
    if (found == threads_.end()) return;
    if (found->second.stepAddress) AbandonStep(found->second);
    while (!found->second.loads.empty()) EndLoad(found->second);
    while (!found->second.pending.empty()) EndPending(found->second, InitResult::Unknown);
    threads_.erase(found);
}

void DllInitWatch::AddBreakpoint(DWORD64 address, Call call) {
    if (!Writable(address)) return;
    Breakpoint& breakpoint = breakpoints_[address];
    breakpoint.calls.push_back(std::move(call));
    if (!breakpoint.written && !Write(address, breakpoint) && breakpoint.calls.size() == 1 && !breakpoint.waiters)
        breakpoints_.erase(address);
}

bool DllInitWatch::Write(DWORD64 address, Breakpoint& breakpoint) {
    if (breakpoint.written) return true;
    BYTE original = 0;
    if (!ReadValue(process_, address, original) || !WriteCodeByte(process_, address, kInt3)) return false;
    breakpoint.original = original;
    breakpoint.written = true;
    everWritten_.insert(address);
    return true;
}

void DllInitWatch::Lift(DWORD64 address, Breakpoint& breakpoint) {
    if (!breakpoint.written) return;
    WriteCodeByte(process_, address, breakpoint.original);
    breakpoint.written = false;
}

// The int3 goes for good, so that a thread whose instruction pointer could
// not be set back never meets it again; the calls it waited for stay unseen.
void DllInitWatch::GiveUp(DWORD64 address, Breakpoint& breakpoint) {
    Lift(address, breakpoint);
    breakpoint.calls.clear();
}

void DllInitWatch::Release(DWORD64 address) {
    auto found = breakpoints_.find(address);
    if (found == breakpoints_.end() || found->second.Needed()) return;
    for (const auto& [threadId, thread] : threads_) {
        if (thread.stepAddress == address) return;  // its step puts it back or lets it go
    }
    Lift(address, found->second);
    breakpoints_.erase(found);
}

// Only inside a module's image, never in a section that other processes share.
bool DllInitWatch::Writable(DWORD64 address) const {
    DWORD64 base = 0;
    const Module* module = ModuleHolding(address, base);
    if (!module) return false;
    auto rva = static_cast<DWORD>(address - base);
    return std::none_of(module->sharedRanges.begin(), module->sharedRanges.end(),
                        [&](const auto& range) { return rva - range.first < range.second; });
}

const DllInitWatch::Module* DllInitWatch::ModuleHolding(DWORD64 address, DWORD64& base) const {
    auto above = modules_.upper_bound(address);
    if (above == modules_.begin()) return nullptr;
    --above;
    if (address - above->first >= above->second.size) return nullptr;
    base = above->first;
    return &above->second;
}

std::wstring DllInitWatch::ModuleAt(DWORD64 address) const {
    DWORD64 base = 0;
    const Module* module = ModuleHolding(address, base);
    return module ? module->path : std::wstring();
}

bool DllInitWatch::TakeOwnBreakpoint(const DEBUG_EVENT& event) {
    const EXCEPTION_RECORD& exception = event.u.Exception.ExceptionRecord;
    auto thread = threads_.find(event.dwThreadId);
    if (thread == threads_.end()) return false;
    auto address = reinterpret_cast<DWORD64>(exception.ExceptionAddress);
    if (exception.ExceptionCode == EXCEPTION_BREAKPOINT) return OnBreakpoint(thread->first, thread->second, address);
    if (exception.ExceptionCode == EXCEPTION_SINGLE_STEP) return OnSingleStep(thread->second);
    return false;
}

bool DllInitWatch::OnBreakpoint(DWORD threadId, ThreadWatch& thread, DWORD64 address) {
    std::optional<DWORD64> own = OwnInt3At(address);
    if (!own) return false;
    address = *own;
    auto found = breakpoints_.find(address);
    if (found == breakpoints_.end() || !found->second.written) {
        // Raised before another thread's event lifted the int3: the thread
        // runs the original instruction again, as if it had never met it.
        SetBackTo(thread.handle, address);
        return true;
    }
    ThreadContextScope scope(thread.handle, kContextFlags);
    if (!scope.Read()) {
        // Without the registers the instruction pointer cannot be told: what
        // the thread waited for stays unknown.
        GiveUp(address, found->second);
        return true;
    }
    CONTEXT& context = scope.Context();
    if (context.Rip == address + 1) context.Rip = address;
    if (!TakeReturn(threadId, thread, context, address) && !TakeLoadReturn(threadId, thread, context, address)) {
        Breakpoint& breakpoint = breakpoints_[address];
        if (!breakpoint.calls.empty()) {
            TakeCall(threadId, thread, context, address);
        } else {
            if (breakpoint.loaderLoad) TakeLoadCall(thread, context);
            StepOver(threadId, thread, context, address);
        }
    }
    if (!scope.Commit()) GiveUp(address, found->second);  // the instruction pointer could not be set back
    Release(address);
    return true;
}

// The call site reached by the thread whose innermost pending call returns:
// its stack pointer is the one just above that call's frame.
bool DllInitWatch::TakeReturn(DWORD threadId, ThreadWatch& thread, CONTEXT& context, DWORD64 address) {
    if (thread.pending.empty()) return false;
    const PendingCall& top = thread.pending.back();
    if (top.returnAddress != address || context.Rsp != top.entryRsp + sizeof(DWORD64)) return false;
    bool tls = records_[top.record].tlsCallback;
    // A TLS callback returns nothing: that it returned is all there is to know.
    bool refused = !tls && !static_cast<DWORD>(context.Rax);
    if (refused) NoteRefusal(thread, top);
    EndPending(thread, refused ? InitResult::Failed : InitResult::Succeeded);
    PassReturnSite(threadId, thread, context, address);
    return true;
}

void DllInitWatch::TakeCall(DWORD threadId, ThreadWatch& thread, CONTEXT& context, DWORD64 address) {
    Breakpoint& breakpoint = breakpoints_[address];
    Call call = std::move(breakpoint.calls.front());
    breakpoint.calls.pop_front();
    Lift(address, breakpoint);
    // A new call from the frame of a pending one: that one was left without
    // returning (the loader calls DllMain again with DLL_PROCESS_DETACH after
    // catching an exception inside it).
    while (!thread.pending.empty() && thread.pending.back().entryRsp <= context.Rsp) {
        if (thread.pending.back().callAddress == address) thread.pending.back().rearmed = false;  // consumed now
        EndPending(thread, thread.pending.back().exceptionSeen ? InitResult::Unwound : InitResult::Unknown);
    }
    // The next call of the same address (a TLS callback that is also the
    // entry point) gets its int3 back once this call has ended, or at once
    // after one step when this call is not waited for.
    bool watched = context.Rdx == DLL_PROCESS_ATTACH && WaitForReturn(thread, context, address, call);
    if (!watched && !breakpoint.calls.empty()) StepOver(threadId, thread, context, address);
}

bool DllInitWatch::WaitForReturn(ThreadWatch& thread, const CONTEXT& context, DWORD64 address, const Call& call) {
    DllInitRecord& record = records_.emplace_back();
    record.path = call.path;
    record.tlsCallback = call.kind == CallKind::TlsCallback;
    DWORD64 returnAddress = 0;
    if (!ReadValue(process_, context.Rsp, returnAddress) || !Writable(returnAddress)) return false;  // stays unknown
    Breakpoint& site = breakpoints_[returnAddress];
    if (!Write(returnAddress, site)) {
        if (site.calls.empty() && !site.waiters) breakpoints_.erase(returnAddress);
        return false;
    }
    ++site.waiters;
    PendingCall pending{records_.size() - 1, address, context.Rsp, returnAddress};
    thread.pending.push_back(pending);
    // A refusal's reasons are a DllMain's: a TLS callback returns nothing to refuse with.
    if (record.tlsCallback) return true;
    thread.pending.back().lastValuesAtCall = LastValues(thread);
    PendingInitsChanged(1);
    return true;
}

void DllInitWatch::StepOver(DWORD threadId, ThreadWatch& thread, CONTEXT& context, DWORD64 address) {
    Lift(address, breakpoints_[address]);
    context.EFlags |= kTrapFlag;
    thread.stepAddress = address;
    // No thread waiting here may pass the lifted int3 unseen meanwhile.
    for (auto& [id, other] : threads_) {
        if (id == threadId) continue;
        bool waits = std::any_of(other.pending.begin(), other.pending.end(),
                                 [&](const PendingCall& call) { return call.returnAddress == address; }) ||
                     std::any_of(other.loads.begin(), other.loads.end(),
                                 [&](const PendingLoad& load) { return load.returnAddress == address; });
        if (waits) thread.held.emplace_back(other.handle);
    }
}

bool DllInitWatch::OnSingleStep(ThreadWatch& thread) {
    if (!thread.stepAddress) return false;
    AbandonStep(thread);
    return true;
}

// The step is over, or another event came before it: the flag goes, the
// threads held for it run again, and the int3 is back where calls wait.
void DllInitWatch::AbandonStep(ThreadWatch& thread) {
    DWORD64 address = std::exchange(thread.stepAddress, 0);
    ThreadContextScope scope(thread.handle, CONTEXT_CONTROL);
    if (scope.Read()) {
        scope.Context().EFlags &= ~kTrapFlag;
        scope.Commit();
    }
    auto found = breakpoints_.find(address);
    if (found != breakpoints_.end()) {
        if (found->second.Needed()) Write(address, found->second);
        Release(address);
    }
    thread.held.clear();
}

void DllInitWatch::EndPending(ThreadWatch& thread, InitResult result) {
    PendingCall call = thread.pending.back();
    thread.pending.pop_back();
    records_[call.record].result = result;
    auto called = breakpoints_.find(call.callAddress);
    if (called != breakpoints_.end()) {
        // The entry's int3 waited for a call from this frame that did not come.
        if (call.rearmed && !called->second.calls.empty()) called->second.calls.pop_back();
        // A further call of the same address waits for its int3.
        if (!called->second.calls.empty()) Write(call.callAddress, called->second);
        Release(call.callAddress);
    }
    auto site = breakpoints_.find(call.returnAddress);
    if (site != breakpoints_.end()) {
        --site->second.waiters;
        Release(call.returnAddress);
    }
    if (!records_[call.record].tlsCallback) PendingInitsChanged(-1);
}

void DllInitWatch::PendingInitsChanged(int change) {
    pendingInits_ += change;
    if (!loadDllEntry_) return;
    if (pendingInits_ > 0) {
        Breakpoint& entry = breakpoints_[loadDllEntry_];
        entry.loaderLoad = true;
        // A thread stepping over it gets it back when its step ends, not before it has run the instruction.
        bool stepping = std::any_of(threads_.begin(), threads_.end(),
                                    [&](const auto& thread) { return thread.second.stepAddress == loadDllEntry_; });
        if (!stepping) Write(loadDllEntry_, entry);
    } else if (auto found = breakpoints_.find(loadDllEntry_); found != breakpoints_.end()) {
        found->second.loaderLoad = false;
        Release(loadDllEntry_);
    }
}

// x64: LdrLoadDll(path, flags, UNICODE_STRING* name, HMODULE* module); the name in R8.
void DllInitWatch::TakeLoadCall(ThreadWatch& thread, const CONTEXT& context) {
    // Only a load asked from inside the innermost pending initialisation is its.
    if (thread.pending.empty() || context.Rsp > thread.pending.back().entryRsp) return;
    if (!thread.loads.empty() && thread.loads.back().entryRsp == context.Rsp) return;  // this call is waited for
    RemoteUnicodeString name = {};
    DWORD64 returnAddress = 0;
    if (!ReadValue(process_, context.R8, name) || !ReadValue(process_, context.Rsp, returnAddress) ||
        !Writable(returnAddress))
        return;
    std::wstring text(std::min<std::size_t>(name.length / sizeof(wchar_t), kMaxNameChars), L'\0');
    if (text.empty() || !ReadWhole(process_, name.buffer, text.data(),
                                   text.size() * sizeof(wchar_t)))
        return;  // a name that cannot be read is never guessed
    Breakpoint& site = breakpoints_[returnAddress];
    if (!Write(returnAddress, site)) {
        Release(returnAddress);
        return;
    }
    ++site.waiters;
    thread.loads.push_back(
        {thread.pending.back().record, context.Rsp, returnAddress, OneLine(std::move(text), kMaxNameChars)});
}

// The call site reached by the thread whose innermost load returns, with its NTSTATUS in RAX.
bool DllInitWatch::TakeLoadReturn(DWORD threadId, ThreadWatch& thread, CONTEXT& context, DWORD64 address) {
    if (thread.loads.empty()) return false;
    const PendingLoad& top = thread.loads.back();
    if (top.returnAddress != address || context.Rsp != top.entryRsp + sizeof(DWORD64)) return false;
    std::vector<std::wstring>& failed = records_[top.record].refusal.failedLoads;
    if (static_cast<LONG>(context.Rax) < 0 && failed.size() < kMaxFailedLoads) failed.push_back(top.name);
    EndLoad(thread);
    PassReturnSite(threadId, thread, context, address);
    return true;
}

// The returned thread goes past the call site: stepping over its int3 while
// others still wait there, else with the int3 lifted.
void DllInitWatch::PassReturnSite(DWORD threadId, ThreadWatch& thread, CONTEXT& context, DWORD64 address) {
    Breakpoint& site = breakpoints_[address];
    if (site.Needed())
        StepOver(threadId, thread, context, address);
    else
        Lift(address, site);
}

void DllInitWatch::EndLoad(ThreadWatch& thread) {
    DWORD64 returnAddress = thread.loads.back().returnAddress;
    thread.loads.pop_back();
    auto site = breakpoints_.find(returnAddress);
    if (site == breakpoints_.end()) return;
    --site->second.waiters;
    Release(returnAddress);
}

// The thread's LastErrorValue and LastStatusValue, from its TEB.
std::optional<std::pair<DWORD, DWORD>> DllInitWatch::LastValues(ThreadWatch& thread) {
    if (!std::exchange(thread.tebAsked, true)) thread.teb = ThreadEnvironmentBlock(thread.handle);
    // Both values in one read: each read is a call into the other process.
    std::string bytes(kTebLastStatus + sizeof(DWORD) - kTebLastError, '\0');
    std::pair<DWORD, DWORD> values;
    if (!thread.teb || !ReadWhole(process_, *thread.teb + kTebLastError, bytes.data(), bytes.size()) ||
        !Take(bytes, 0, values.first) || !Take(bytes, kTebLastStatus - kTebLastError, values.second))
        return std::nullopt;
    return values;
}

// A value counts only when the initialisation set it: one left from before the
// call, or one not read at the call, says nothing of this refusal.
void DllInitWatch::NoteRefusal(ThreadWatch& thread, const PendingCall& call) {
    std::optional<std::pair<DWORD, DWORD>> now = LastValues(thread);
    if (!now || !call.lastValuesAtCall) return;
    InitRefusal& refusal = records_[call.record].refusal;
    if (now->first && now->first != call.lastValuesAtCall->first) {
        refusal.lastError = now->first;
        refusal.lastErrorText = SystemErrorText(now->first);
    }
    if (now->second && now->second != call.lastValuesAtCall->second) refusal.lastStatus = now->second;
}

void DllInitWatch::NoteDebugString(DWORD threadId, const std::wstring& text) {
    auto found = threads_.find(threadId);
    if (found == threads_.end() || found->second.pending.empty()) return;
    std::vector<std::wstring>& strings = records_[found->second.pending.back().record].refusal.debugStrings;
    std::wstring line = OneLine(text, kMaxDebugStringChars);
    if (strings.size() < kMaxDebugStrings && !line.empty()) strings.push_back(std::move(line));
}

void DllInitWatch::ThreadShown(const DEBUG_EVENT& event) {
    auto found = threads_.find(event.dwThreadId);
    if (found == threads_.end()) return;
    ThreadWatch& thread = found->second;
    // Another event came before the step's: the threads held for it must not wait on.
    if (thread.stepAddress) AbandonStep(thread);
    if ((thread.pending.empty() && thread.loads.empty()) || event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT)
        return;
    ThreadContextScope scope(thread.handle, CONTEXT_CONTROL);
    if (!scope.Read()) return;
    // A load left without returning (an exception unwound it) has no result to tell.
    while (!thread.loads.empty() && scope.Context().Rsp > thread.loads.back().entryRsp) EndLoad(thread);
    while (!thread.pending.empty() && scope.Context().Rsp > thread.pending.back().entryRsp)
        EndPending(thread, thread.pending.back().exceptionSeen ? InitResult::Unwound : InitResult::Unknown);
}

bool DllInitWatch::NoteException(const DEBUG_EVENT& event) {
    const EXCEPTION_RECORD& exception = event.u.Exception.ExceptionRecord;
    // The loader's breakpoint is raised outside every initialisation (after
    // them, under Wine): never a DLL's.
    if (exception.ExceptionCode == EXCEPTION_BREAKPOINT && !loaderBreakpointSeen_) {
        loaderBreakpointSeen_ = true;
        return false;
    }
    auto found = threads_.find(event.dwThreadId);
    if (found == threads_.end() || found->second.pending.empty()) return false;
    // Running inside the innermost frame: its stack pointer below the frame's.
    ThreadContextScope scope(found->second.handle, CONTEXT_CONTROL);
    PendingCall& top = found->second.pending.back();
    if (!scope.Read() || scope.Context().Rsp > top.entryRsp) return false;
    DllInitRecord& record = records_[top.record];
    if (!record.exceptionCode) record.exceptionCode = exception.ExceptionCode;
    if (!event.u.Exception.dwFirstChance && *record.exceptionCode == exception.ExceptionCode)
        record.exceptionUnhandled = true;
    DWORD64 base = 0;
    const Module* module = ModuleHolding(top.callAddress, base);
    if (!top.exceptionSeen && !record.tlsCallback && module) {
        // Should the loader catch it, its next call of this entry comes from
        // the same frame (DLL_PROCESS_DETACH): the int3 waits for it.
        AddBreakpoint(top.callAddress, Call{CallKind::Entry, base, module->path});
        top.rearmed = true;
    }
    top.exceptionSeen = true;
    return true;
}

std::vector<DllInitRecord> DllInitWatch::Finish() {
    for (auto& [threadId, thread] : threads_) {
        for (const PendingCall& pending : thread.pending) records_[pending.record].result = InitResult::Unfinished;
        thread.pending.clear();
        thread.loads.clear();
        thread.held.clear();
    }
    threads_.clear();
    pendingInits_ = 0;
    return std::move(records_);
}

void DllInitWatch::Disarm() {
    for (auto& [address, breakpoint] : breakpoints_) Lift(address, breakpoint);
    breakpoints_.clear();
    loadDllEntry_ = 0;  // never written again
    // The process runs: a thread stops for the change of its registers.
    for (auto& [threadId, thread] : threads_) {
        thread.held.clear();
        thread.loads.clear();
        if (!thread.stepAddress) continue;
        thread.stepAddress = 0;
        thread.lateStep = true;
        ThreadContextScope scope(thread.handle, CONTEXT_CONTROL, true);
        if (scope.Read()) {
            scope.Context().EFlags &= ~kTrapFlag;
            scope.Commit();
        }
    }
}

bool DllInitWatch::SettleLateEvent(const DEBUG_EVENT& event) {
    const EXCEPTION_RECORD& exception = event.u.Exception.ExceptionRecord;
    auto address = reinterpret_cast<DWORD64>(exception.ExceptionAddress);
    auto thread = threads_.find(event.dwThreadId);
    HANDLE handle = thread == threads_.end() ? nullptr : thread->second.handle;
    if (exception.ExceptionCode == EXCEPTION_SINGLE_STEP) {
        // A step of the watch's that ended before Disarm cleared its flag.
        return thread != threads_.end() && std::exchange(thread->second.lateStep, false);
    }
    if (exception.ExceptionCode != EXCEPTION_BREAKPOINT) return false;
    std::optional<DWORD64> own = OwnInt3At(address);
    if (own) SetBackTo(handle, *own);
    return own.has_value();
}

// The exception address is the int3 itself; one system may report the byte after it.
std::optional<DWORD64> DllInitWatch::OwnInt3At(DWORD64 address) const {
    if (everWritten_.count(address)) return address;
    if (everWritten_.count(address - 1)) return address - 1;
    return std::nullopt;
}

// A thread stopped by an int3 at address runs it again from its first byte.
void DllInitWatch::SetBackTo(HANDLE thread, DWORD64 address) {
    ThreadContextScope scope(thread, CONTEXT_CONTROL);
    if (scope.Read() && scope.Context().Rip == address + 1) {
        scope.Context().Rip = address;
        scope.Commit();
    }
}
