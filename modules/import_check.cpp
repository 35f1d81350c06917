// The static import check: finds each image's DLLs as the loader would for the
// process, reads them from disk with the PE reader, and names what the loader
// could not find, could not bind or could not load for the process's machine.
// Where a rule cannot be decided (side-by-side assemblies, .local redirection,
// a PATH that could not be read, a walk deeper than any real one), nothing is
// named. Delay-loaded DLLs are never followed: the loader loads none of them
// at the start, so none of them can make it fail.
#include "modules/import_check.h"

#include <winternl.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <tuple>

#include "base/handles.h"
#include "base/system_library.h"
#include "diag/process_parameters.h"
#include "modules/pe_image.h"
#include "modules/split_path.h"
#include "watch/debuggee.h"

namespace {

constexpr std::size_t kLongestFolderChars = 32767;
constexpr std::size_t kLongestEnvironmentChars = 1 << 20;
constexpr std::size_t kLargestManifestBytes = 1 << 20;
constexpr int kMostForwarderHops = 16;
// Real import chains are a few DLLs deep; a crafted chain of thousands of
// files would otherwise exhaust the stack of the walk.
constexpr int kDeepestImport = 64;
constexpr std::size_t kPebApiSetMap = 0x68;
// Windows 10's schema is about 100 KB; a map claiming more is not read.
constexpr std::size_t kLargestApiSetSchemaBytes = 4 << 20;
const wchar_t kKnownDllsKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\KnownDLLs";

using IsWow64Process2Fn = BOOL WINAPI(HANDLE, USHORT*, USHORT*);

std::wstring Lower(std::wstring text) {
    if (!text.empty()) CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// DLL names of import tables are ANSI text, as the loader takes them.
std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    const int chars = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(chars > 0 ? chars : 0, L'\0');
    if (chars > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), chars);
    return wide;
}

// An API set's host as the rest of the walk names DLLs: ANSI text, as import tables hold them.
std::string Narrow(const std::u16string& text) {
    const std::wstring wide(text.begin(), text.end());
    if (wide.empty()) return {};
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(bytes > 0 ? bytes : 0, '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), bytes, nullptr, nullptr);
    return narrow;
}

// The file's path with its name spelled as on disk, when it exists.
std::optional<std::wstring> ExistingFile(const std::wstring& path) {
    WIN32_FIND_DATAW found = {};
    UniqueFind search(FindFirstFileExW(path.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (!search || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return std::nullopt;
    return JoinPath(FolderOf(path), found.cFileName);
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsApiSetName(const std::string& lowerName) {
    return lowerName.starts_with("api-ms-win-") || lowerName.starts_with("ext-ms-");
}

std::wstring FunctionText(const PeImportedFunction& function) {
    return function.byOrdinal ? L"#" + std::to_wstring(function.ordinal) : Widen(function.name);
}

// A system folder from one of the Get...Directory calls.
std::wstring FolderFrom(UINT (*get)(LPWSTR, UINT)) {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT chars = get(folder, MAX_PATH);
    return chars > 0 && chars <= MAX_PATH ? std::wstring(folder, chars) : std::wstring();
}

UINT SystemWindowsFolder(LPWSTR buffer, UINT chars) { return GetSystemWindowsDirectoryW(buffer, chars); }
UINT SystemFolder(LPWSTR buffer, UINT chars) { return GetSystemDirectoryW(buffer, chars); }
UINT SystemWow64Folder(LPWSTR buffer, UINT chars) { return GetSystemWow64DirectoryW(buffer, chars); }

// The process's machine. On an ARM64 host a process that is not a WOW64 guest
// may be native or emulated x64: unknown, and then no machine is compared.
std::uint16_t ProcessMachine(HANDLE process, bool& wow64) {
    auto* isWow64Process2 = reinterpret_cast<IsWow64Process2Fn*>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2")));
    USHORT processMachine = IMAGE_FILE_MACHINE_UNKNOWN;
    USHORT nativeMachine = IMAGE_FILE_MACHINE_UNKNOWN;
    if (isWow64Process2 && isWow64Process2(process, &processMachine, &nativeMachine)) {
        wow64 = processMachine != IMAGE_FILE_MACHINE_UNKNOWN;
        if (wow64) return processMachine;
        return nativeMachine == IMAGE_FILE_MACHINE_AMD64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_UNKNOWN;
    }
    BOOL isWow64 = FALSE;
    if (!IsWow64Process(process, &isWow64)) return IMAGE_FILE_MACHINE_UNKNOWN;
    wow64 = isWow64 != FALSE;
    return wow64 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64;
}

// The sections of the \KnownDlls object directory (\KnownDlls32 for a 32-bit
// process), where Windows' session manager maps the known DLLs and the names
// they pull in: the loader takes each from there. Wine 8 has no such
// directory; nothing is added then.
void ReadKnownDllsDirectory(bool wow64, std::vector<std::wstring>& names) {
    struct DirectoryEntryInfo {
        UNICODE_STRING name;
        UNICODE_STRING typeName;
    };
    using NtOpenDirectoryObjectFn = NTSTATUS NTAPI(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*);
    using NtQueryDirectoryObjectFn = NTSTATUS NTAPI(HANDLE, void*, ULONG, BOOLEAN, BOOLEAN, ULONG*, ULONG*);
    constexpr ACCESS_MASK kDirectoryQuery = 0x0001;
    constexpr std::size_t kMostEntries = 4096;
    auto* openDirectory = NtdllProc<NtOpenDirectoryObjectFn>("NtOpenDirectoryObject");
    auto* queryDirectory = NtdllProc<NtQueryDirectoryObjectFn>("NtQueryDirectoryObject");
    if (!openDirectory || !queryDirectory) return;
    std::wstring path = wow64 ? L"\\KnownDlls32" : L"\\KnownDlls";
    UNICODE_STRING name = {static_cast<USHORT>(path.size() * sizeof(wchar_t)),
                           static_cast<USHORT>(path.size() * sizeof(wchar_t)), path.data()};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    HANDLE opened = nullptr;
    if (openDirectory(&opened, kDirectoryQuery, &attributes) < 0) return;
    UniqueHandle directory(opened);
    alignas(8) unsigned char buffer[4096];
    ULONG context = 0;
    for (std::size_t entry = 0; entry < kMostEntries; ++entry) {
        ULONG returned = 0;
        if (queryDirectory(directory.get(), buffer, sizeof(buffer), TRUE, entry == 0, &context, &returned) < 0) return;
        const auto* info = reinterpret_cast<const DirectoryEntryInfo*>(buffer);
        const std::wstring_view type(info->typeName.Buffer, info->typeName.Length / sizeof(wchar_t));
        // Besides the sections it holds KnownDllPath, a link to the folder.
        if (type != L"Section") continue;
        names.push_back(Lower(std::wstring(info->name.Buffer, info->name.Length / sizeof(wchar_t))));
    }
}

std::vector<std::wstring> ReadKnownDlls(bool wow64) {
    std::vector<std::wstring> names;
    ReadKnownDllsDirectory(wow64, names);
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKnownDllsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256] = {};
        wchar_t data[MAX_PATH + 1] = {};
        DWORD nameChars = 255;
        DWORD dataBytes = MAX_PATH * sizeof(wchar_t);
        DWORD type = 0;
        const LONG status = RegEnumValueW(key.get(), index, name, &nameChars, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataBytes);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS || type != REG_SZ) continue;
        // DllDirectory and DllDirectory32 name the folder, not a DLL.
        const std::wstring valueName = Lower(name);
        if (valueName == L"dlldirectory" || valueName == L"dlldirectory32") continue;
        std::wstring dll(data, wcsnlen(data, dataBytes / sizeof(wchar_t)));
        if (!dll.empty()) names.push_back(Lower(dll));
    }
    return names;
}

// PATH from an environment block; false when the block was cut before PATH's
// end could be known.
bool PathFromEnvironment(const std::wstring& environment, std::vector<std::wstring>& folders) {
    const bool whole = environment.size() >= 2 && environment.ends_with(std::wstring_view(L"\0\0", 2));
    for (std::size_t start = 0; start < environment.size();) {
        const std::size_t end = environment.find(L'\0', start);
        if (end == std::wstring::npos) return whole;
        const std::wstring entry = environment.substr(start, end - start);
        start = end + 1;
        if (Lower(entry.substr(0, 5)) != L"path=") continue;
        const std::wstring value = entry.substr(5);
        for (std::size_t from = 0; from <= value.size();) {
            std::size_t split = value.find(L';', from);
            if (split == std::wstring::npos) split = value.size();
            std::wstring folder = value.substr(from, split - from);
            // A quoted entry is taken without its quotes: searching more never names a DLL wrongly.
            if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"') folder = folder.substr(1, folder.size() - 2);
            if (!folder.empty()) folders.push_back(folder);
            from = split + 1;
        }
        return true;
    }
    return whole;
}

// The schema the process's PEB points to: the loader's map, which the system
// sets before the process runs (the 64-bit PEB's pointer serves a WOW64
// process too). Read from the pointer to the end of its memory region.
std::optional<ApiSetSchema> ReadProcessApiSets(HANDLE process) {
    ULONG_PTR map = 0;
    MEMORY_BASIC_INFORMATION region = {};
    if (!ReadPebPointer(process, kPebApiSetMap, map) || map == 0 ||
        VirtualQueryEx(process, reinterpret_cast<void*>(map), &region, sizeof(region)) != sizeof(region) ||
        region.State != MEM_COMMIT) {
        return std::nullopt;
    }
    const ULONG_PTR regionEnd = reinterpret_cast<ULONG_PTR>(region.BaseAddress) + region.RegionSize;
    std::string bytes(std::min<std::size_t>(regionEnd - map, kLargestApiSetSchemaBytes), '\0');
    if (!ReadWhole(process, map, bytes.data(), bytes.size())) return std::nullopt;
    return ReadApiSetSchema(bytes);
}

// An image file read from disk; `read` is false when the file could not be
// opened or mapped (then nothing about it is decided).
struct DiskImage {
    std::wstring path;
    bool read = false;
    PeImage pe;
    bool walked = false;
    std::optional<std::vector<std::string>> manifestNames;
    std::optional<PeExportIndex> exportIndex;  // built at the first lookup
};

PeImage ReadImageFile(const std::wstring& path, bool& read) {
    read = false;
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !GetFileSizeEx(file.get(), &size)) return ReadPeImage({});
    read = true;
    if (size.QuadPart == 0) return ReadPeImage({});
    UniqueHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    UniqueMapView view(mapping ? MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr);
    if (!view) {
        read = false;
        return ReadPeImage({});
    }
    return ReadPeImage(std::string_view(static_cast<const char*>(view.get()), static_cast<std::size_t>(size.QuadPart)));
}

std::string ReadSmallFile(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes(kLargestManifestBytes, '\0');
    DWORD read = 0;
    if (!file || !ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) return {};
    bytes.resize(read);
    return bytes;
}

enum class Found { System, File, Nowhere, Unusable };

struct Resolution {
    Found found = Found::Nowhere;
    std::wstring path;  // the file, or the first unusable one
};

class ImportWalk {
public:
    explicit ImportWalk(const LoaderSearch& search) : search_(search) {}

    std::vector<ImportProblem> Run(const std::wstring& imagePath);

private:
    DiskImage& Image(const std::wstring& path);
    bool Usable(const DiskImage& image) const;
    Resolution Resolve(const std::string& name);
    Resolution ResolveFor(const DiskImage& importer, const std::string& name);
    std::wstring SeenByProcess(const std::wstring& folder) const;
    std::vector<std::wstring> CandidatesOfPath(const std::wstring& path) const;
    void Walk(DiskImage& image, int depth);
    void FollowImport(DiskImage& importer, const PeImportedDll& dll, int depth);
    void CheckFunction(const DiskImage& importer, DiskImage& target, PeImportedFunction wanted, int depth);
    const PeExport* FindExport(DiskImage& image, const PeImportedFunction& wanted);
    // Found nowhere: the loader would fail, unless something we cannot evaluate supplies it.
    void NameMissing(DiskImage& importer, const std::string& name);
    bool AssemblyMaySupply(DiskImage& importer, const std::string& lowerName);
    const std::vector<std::string>& ManifestNamesOf(DiskImage& image);
    void Report(ImportProblemKind kind, const std::wstring& module, const std::wstring& importer,
                const std::wstring& function);

    const LoaderSearch& search_;
    std::vector<std::wstring> folders_;
    DiskImage* root_ = nullptr;
    bool dotLocal_ = false;
    std::map<std::wstring, DiskImage> images_;        // by lower-case path
    std::map<std::string, Resolution> resolutions_;   // by lower-case name
    std::set<std::tuple<ImportProblemKind, std::wstring, std::wstring, std::wstring>> reported_;
    std::vector<ImportProblem> problems_;
};

DiskImage& ImportWalk::Image(const std::wstring& path) {
    auto [entry, added] = images_.try_emplace(Lower(path));
    if (added) {
        entry->second.path = path;
        entry->second.pe = ReadImageFile(path, entry->second.read);
    }
    return entry->second;
}

// An IL-only .NET image that does not require 32 bits is mapped for any process.
bool ImportWalk::Usable(const DiskImage& image) const {
    return image.pe.headersRead && (search_.machine == 0 || image.pe.machine == search_.machine || image.pe.anyMachine);
}

// The loader's order: KnownDLLs from the system folder, then the folders; an
// image of another machine or no image at all is passed over while another
// copy may follow.
Resolution ImportWalk::Resolve(const std::string& name) {
    const std::string lowerName = LowerAscii(name);
    if (auto cached = resolutions_.find(lowerName); cached != resolutions_.end()) return cached->second;
    Resolution resolution;
    std::vector<std::wstring> candidates;
    const std::size_t fileName = name.find_last_of("\\/");
    const bool extension = name.find('.', fileName == std::string::npos ? 0 : fileName + 1) != std::string::npos;
    const std::wstring wideName = Widen(extension ? name : name + ".dll");
    if (fileName != std::string::npos || name.find(':') != std::string::npos) {
        candidates = CandidatesOfPath(wideName);
        if (candidates.empty()) resolution.found = Found::System;  // undecided: never named
    } else {
        const std::wstring lowerWide = Lower(wideName);
        for (const std::wstring& known : search_.knownDlls) {
            if (known == lowerWide) resolution.found = Found::System;
        }
        if (resolution.found == Found::System) candidates.push_back(JoinPath(search_.systemFolder, wideName));
        for (const std::wstring& folder : folders_) {
            if (resolution.found != Found::System) candidates.push_back(JoinPath(folder, wideName));
        }
    }
    for (const std::wstring& candidate : candidates) {
        const std::optional<std::wstring> file = ExistingFile(candidate);
        if (!file) continue;
        DiskImage& image = Image(*file);
        if (!image.read || Usable(image)) {
            resolution = {Found::File, *file};
            break;
        }
        if (resolution.found == Found::Nowhere) resolution = {Found::Unusable, *file};
    }
    resolutions_[lowerName] = resolution;
    return resolution;
}

// A name as the loader takes it from this importer: an API set is the DLL
// that the process's schema names as its host for the importer, found like
// any other; a set without a host is found nowhere. Without a schema every
// set counts as present.
Resolution ImportWalk::ResolveFor(const DiskImage& importer, const std::string& name) {
    if (!IsApiSetName(LowerAscii(name))) return Resolve(name);
    if (!search_.apiSets) return {Found::System, {}};
    const std::wstring importerName = FileNameOf(importer.path);
    const ApiSetResolution set =
        ResolveApiSet(*search_.apiSets, name, std::u16string(importerName.begin(), importerName.end()));
    switch (set.answer) {
    case ApiSetAnswer::NotASet:
        return Resolve(name);
    case ApiSetAnswer::NoHost:
        return {Found::Nowhere, {}};
    case ApiSetAnswer::Hosted:
        break;
    }
    return Resolve(Narrow(set.host));
}

// A name holding a path, as the loader takes it: a full path as it is, a
// path from the root on the process's current drive, a relative one under
// each folder of the search in turn. A drive's own current folder is not
// known: no candidate, nothing decided.
std::vector<std::wstring> ImportWalk::CandidatesOfPath(const std::wstring& path) const {
    std::wstring name = path;
    for (wchar_t& c : name) {
        if (c == L'/') c = L'\\';
    }
    if (name.starts_with(L"\\\\") || (name.size() > 2 && name[1] == L':' && name[2] == L'\\')) return {name};
    if (name.starts_with(L"\\")) {
        if (search_.currentFolder.size() < 2 || search_.currentFolder[1] != L':') return {};
        return {search_.currentFolder.substr(0, 2) + name};
    }
    if (name.find(L':') != std::wstring::npos) return {};
    std::vector<std::wstring> candidates;
    for (const std::wstring& folder : folders_) candidates.push_back(JoinPath(folder, name));
    return candidates;
}

// Only the import table: delay-loaded DLLs are loaded, if ever, after the start.
void ImportWalk::Walk(DiskImage& image, int depth) {
    image.walked = true;
    if (depth >= kDeepestImport) return;
    for (const PeImportedDll& dll : image.pe.imports) {
        if (!dll.delayLoad) FollowImport(image, dll, depth + 1);
    }
}

void ImportWalk::FollowImport(DiskImage& importer, const PeImportedDll& dll, int depth) {
    const Resolution resolution = ResolveFor(importer, dll.name);
    switch (resolution.found) {
    case Found::System:
        return;
    case Found::Nowhere:
        NameMissing(importer, dll.name);
        return;
    case Found::Unusable:
        Report(ImportProblemKind::BadImageFormat, resolution.path, importer.path, {});
        return;
    case Found::File:
        break;
    }
    DiskImage& target = Image(resolution.path);
    if (!target.walked) Walk(target, depth);
    for (const PeImportedFunction& function : dll.functions) CheckFunction(importer, target, function, depth);
}

const PeExport* ImportWalk::FindExport(DiskImage& image, const PeImportedFunction& wanted) {
    if (!image.exportIndex) image.exportIndex.emplace(image.pe.exports);
    return image.exportIndex->Find(wanted);
}

// Follows forwarders ("dll.func", "dll.#n") as far as kMostForwarderHops; a
// longer chain or a loop decides nothing.
void ImportWalk::CheckFunction(const DiskImage& importer, DiskImage& target, PeImportedFunction wanted, int depth) {
    DiskImage* at = &target;
    for (int hop = 0; hop < kMostForwarderHops; ++hop) {
        if (!at->read || !at->pe.exportsComplete) return;
        const PeExport* entry = FindExport(*at, wanted);
        if (!entry) {
            Report(ImportProblemKind::ImportNotFound, at->path, importer.path, FunctionText(wanted));
            return;
        }
        if (entry->forwarder.empty()) return;
        const std::size_t dot = entry->forwarder.rfind('.');
        if (dot == std::string::npos || dot == 0 || dot + 1 == entry->forwarder.size()) return;
        const std::string module = entry->forwarder.substr(0, dot);
        const std::string function = entry->forwarder.substr(dot + 1);
        PeImportedFunction next;
        if (function[0] == '#') {
            if (function.size() < 2 || function.size() > 6 || function.find_first_not_of("0123456789", 1) != std::string::npos ||
                std::stoul(function.substr(1)) > 0xFFFF) {
                return;
            }
            next.byOrdinal = true;
            next.ordinal = static_cast<std::uint16_t>(std::stoul(function.substr(1)));
        } else {
            next.name = function;
        }
        const Resolution resolution = ResolveFor(*at, module);
        if (resolution.found == Found::System) return;
        if (resolution.found == Found::Nowhere) {
            NameMissing(*at, module.find('.') == std::string::npos ? module + ".dll" : module);
            return;
        }
        if (resolution.found == Found::Unusable) {
            Report(ImportProblemKind::BadImageFormat, resolution.path, at->path, {});
            return;
        }
        DiskImage& forwardedTo = Image(resolution.path);
        if (!forwardedTo.walked) Walk(forwardedTo, depth);
        at = &forwardedTo;
        wanted = next;
    }
}

void ImportWalk::NameMissing(DiskImage& importer, const std::string& name) {
    if (!search_.parametersRead || dotLocal_ || AssemblyMaySupply(importer, LowerAscii(name))) return;
    Report(ImportProblemKind::DllNotFound, Widen(name), importer.path, {});
}

const std::vector<std::string>& ImportWalk::ManifestNamesOf(DiskImage& image) {
    if (!image.manifestNames) {
        image.manifestNames.emplace();
        std::vector<std::string> manifests = image.pe.manifests;
        manifests.push_back(ReadSmallFile(image.path + L".manifest"));
        for (const std::string& manifest : manifests) {
            for (std::string& name : ManifestNames(manifest)) image.manifestNames->push_back(std::move(name));
        }
    }
    return *image.manifestNames;
}

// A manifest of the importer or of the process's image that names the DLL, or
// names an assembly that exists privately beside either image or in the side-
// by-side store with a file of that name, may supply it: that is not decided here.
bool ImportWalk::AssemblyMaySupply(DiskImage& importer, const std::string& lowerName) {
    const std::wstring dllName = Widen(lowerName);
    for (DiskImage* image : {&importer, root_}) {
        // A manifest that could not be read whole may name anything.
        if (!image->read || !image->pe.manifestsComplete) return true;
        for (const std::string& name : ManifestNamesOf(*image)) {
            if (name == lowerName) return true;
            const std::wstring assembly = Widen(name);
            for (const std::wstring& folder : {FolderOf(importer.path), search_.imageFolder}) {
                if (PathExists(JoinPath(folder, assembly + L".dll")) || PathExists(JoinPath(folder, assembly + L".manifest")) ||
                    PathExists(JoinPath(folder, assembly))) {
                    return true;
                }
            }
            const std::wstring store = JoinPath(search_.windowsFolder, L"WinSxS");
            WIN32_FIND_DATAW found = {};
            UniqueFind search(
                FindFirstFileExW(JoinPath(store, L"*_" + assembly + L"_*").c_str(), FindExInfoBasic, &found,
                                 FindExSearchLimitToDirectories, nullptr, 0));
            for (BOOL more = search.valid(); more; more = FindNextFileW(search.get(), &found)) {
                if (FileExists(JoinPath(JoinPath(store, found.cFileName), dllName))) return true;
            }
        }
    }
    return false;
}

// A folder the process names, as file-system redirection shows it to a WOW64 process.
std::wstring ImportWalk::SeenByProcess(const std::wstring& folder) const {
    if (search_.nativeSystemFolder.empty()) return folder;
    return FolderSeenBy32BitProcess(folder, search_.nativeSystemFolder, search_.systemFolder, search_.windowsFolder);
}

void ImportWalk::Report(ImportProblemKind kind, const std::wstring& module, const std::wstring& importer,
                        const std::wstring& function) {
    if (!reported_.emplace(kind, Lower(module), Lower(importer), function).second) return;
    problems_.push_back({kind, module, importer, function});
}

std::vector<ImportProblem> ImportWalk::Run(const std::wstring& imagePath) {
    // A .local file or folder beside the image redirects loads in ways not followed here.
    dotLocal_ = PathExists(imagePath + L".local");
    if (dotLocal_) folders_.push_back(imagePath + L".local");
    // The 16-bit system folder comes between the system and the Windows folder.
    const std::wstring system16 = search_.windowsFolder.empty() ? L"" : JoinPath(search_.windowsFolder, L"System");
    for (const std::wstring& folder :
         {search_.imageFolder, search_.systemFolder, system16, search_.windowsFolder, SeenByProcess(search_.currentFolder)}) {
        if (!folder.empty()) folders_.push_back(folder);
    }
    for (const std::wstring& folder : search_.pathFolders) folders_.push_back(SeenByProcess(folder));

    root_ = &Image(imagePath);
    if (!root_->read || !root_->pe.headersRead) return {};
    if (!Usable(*root_)) {
        Report(ImportProblemKind::BadImageFormat, imagePath, {}, {});
        return problems_;
    }
    Walk(*root_, 0);
    return problems_;
}

}  // namespace

LoaderSearch ReadLoaderSearch(HANDLE process, const std::wstring& imagePath) {
    LoaderSearch search;
    search.imageFolder = FolderOf(imagePath);
    bool wow64 = false;
    search.machine = ProcessMachine(process, wow64);
    const std::wstring nativeSystemFolder = FolderFrom(SystemFolder);
    search.systemFolder = wow64 ? FolderFrom(SystemWow64Folder) : nativeSystemFolder;
    if (wow64) search.nativeSystemFolder = nativeSystemFolder;
    search.windowsFolder = FolderFrom(SystemWindowsFolder);
    search.knownDlls = ReadKnownDlls(wow64);
    search.apiSets = ReadProcessApiSets(process);

    ProcessParameters parameters;
    if (!ReadProcessParameters(process, parameters)) return search;
    search.currentFolder = ReadCountedString(process, parameters, kParametersCurrentDirectory, kLongestFolderChars);
    const std::wstring environment = ReadEnvironment(process, parameters, kLongestEnvironmentChars);
    search.parametersRead = !environment.empty() && PathFromEnvironment(environment, search.pathFolders);
    return search;
}

namespace {

// What follows `folder` inside `path` (from its backslash, or empty), when the
// path is the folder or lies under it.
std::optional<std::wstring> PathUnder(const std::wstring& path, std::wstring folder) {
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    if (folder.empty() || path.size() < folder.size() || Lower(path.substr(0, folder.size())) != Lower(folder))
        return std::nullopt;
    std::wstring rest = path.substr(folder.size());
    if (!rest.empty() && rest.front() != L'\\') return std::nullopt;
    return rest;
}

// The system folder's subfolders that a 32-bit process reaches unredirected.
bool ExemptFromRedirection(const std::wstring& rest) {
    const std::wstring lower = Lower(rest) + L"\\";
    for (const wchar_t* exempt : {L"\\catroot\\", L"\\catroot2\\", L"\\driverstore\\", L"\\drivers\\etc\\",
                                  L"\\logfiles\\", L"\\spool\\"}) {
        if (lower.starts_with(exempt)) return true;
    }
    return false;
}

}  // namespace

std::wstring FolderSeenBy32BitProcess(const std::wstring& folder, const std::wstring& systemFolder,
                                      const std::wstring& wow64SystemFolder, const std::wstring& windowsFolder) {
    if (std::optional<std::wstring> rest = PathUnder(folder, systemFolder)) {
        if (ExemptFromRedirection(*rest)) return folder;
        return wow64SystemFolder + *rest;
    }
    if (windowsFolder.empty()) return folder;
    if (std::optional<std::wstring> rest = PathUnder(folder, JoinPath(windowsFolder, L"Sysnative")))
        return systemFolder + *rest;
    return folder;
}

std::vector<ImportProblem> FindImportProblems(const std::wstring& imagePath, const LoaderSearch& search) {
    ImportWalk walk(search);
    return walk.Run(imagePath);
}
