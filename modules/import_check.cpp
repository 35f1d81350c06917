// The static import check: finds each image's DLLs as the loader would for the
// process, reads them from disk with the PE reader, and names what the loader
// could not find, could not bind or could not load for the process's machine.
// Where a rule cannot be decided (side-by-side assemblies, .local redirection,
// a PATH that could not be read), nothing is named.
#include "modules/import_check.h"

#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <tuple>
#include <unordered_map>

#include "base/handles.h"
#include "diag/process_parameters.h"
#include "modules/pe_image.h"

namespace {

constexpr std::size_t kLongestFolderChars = 32767;
constexpr std::size_t kLongestEnvironmentChars = 1 << 20;
constexpr std::size_t kLargestManifestBytes = 1 << 20;
constexpr int kMostForwarderHops = 16;
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

std::wstring FolderOf(const std::wstring& path) {
    const std::size_t last = path.find_last_of(L"\\/");
    return last == std::wstring::npos ? std::wstring() : path.substr(0, last);
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty()) return name;
    if (folder.back() == L'\\' || folder.back() == L'/') return folder + name;
    return folder + L"\\" + name;
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

std::vector<std::wstring> ReadKnownDlls() {
    std::vector<std::wstring> names;
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

// An image file read from disk; `read` is false when the file could not be
// opened or mapped (then nothing about it is decided).
struct DiskImage {
    std::wstring path;
    bool read = false;
    PeImage pe;
    bool walked = false;
    std::optional<std::vector<std::string>> manifestNames;
    std::optional<std::unordered_map<std::string, const PeExport*>> exportsByName;
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
    void Walk(DiskImage& image, bool delay);
    void FollowImport(DiskImage& importer, const PeImportedDll& dll, bool delay);
    void CheckFunction(const DiskImage& importer, DiskImage& target, PeImportedFunction wanted, bool delay);
    const PeExport* FindExport(DiskImage& image, const PeImportedFunction& wanted);
    // Found nowhere: the loader would fail, unless something we cannot evaluate supplies it.
    void NameMissing(DiskImage& importer, const std::string& name, bool delay);
    bool AssemblyMaySupply(DiskImage& importer, const std::string& lowerName);
    const std::vector<std::string>& ManifestNamesOf(DiskImage& image);
    void Report(ImportProblemKind kind, const std::wstring& module, const std::wstring& importer,
                const std::wstring& function, bool delay);

    const LoaderSearch& search_;
    std::vector<std::wstring> folders_;
    DiskImage* root_ = nullptr;
    bool dotLocal_ = false;
    std::map<std::wstring, DiskImage> images_;        // by lower-case path
    std::map<std::string, Resolution> resolutions_;   // by lower-case name
    std::vector<std::pair<DiskImage*, const PeImportedDll*>> delayEdges_;
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

bool ImportWalk::Usable(const DiskImage& image) const {
    return image.pe.headersRead && (search_.machine == 0 || image.pe.machine == search_.machine);
}

// The loader's order: KnownDLLs from the system folder, then the folders; an
// image of another machine or no image at all is passed over while another
// copy may follow.
Resolution ImportWalk::Resolve(const std::string& name) {
    const std::string lowerName = LowerAscii(name);
    if (auto cached = resolutions_.find(lowerName); cached != resolutions_.end()) return cached->second;
    Resolution resolution;
    std::vector<std::wstring> candidates;
    const std::wstring wideName = Widen(name.find('.') == std::string::npos ? name + ".dll" : name);
    if (IsApiSetName(lowerName)) {
        resolution.found = Found::System;
    } else if (name.find_first_of("\\/") != std::string::npos) {
        candidates.push_back(wideName);
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

void ImportWalk::Walk(DiskImage& image, bool delay) {
    image.walked = true;
    for (const PeImportedDll& dll : image.pe.imports) {
        if (!dll.delayLoad) FollowImport(image, dll, delay);
    }
    for (const PeImportedDll& dll : image.pe.imports) {
        if (dll.delayLoad) delayEdges_.emplace_back(&image, &dll);
    }
}

void ImportWalk::FollowImport(DiskImage& importer, const PeImportedDll& dll, bool delay) {
    const Resolution resolution = Resolve(dll.name);
    switch (resolution.found) {
    case Found::System:
        return;
    case Found::Nowhere:
        NameMissing(importer, dll.name, delay);
        return;
    case Found::Unusable:
        Report(ImportProblemKind::BadImageFormat, resolution.path, importer.path, {}, delay);
        return;
    case Found::File:
        break;
    }
    DiskImage& target = Image(resolution.path);
    if (!target.walked) Walk(target, delay);
    for (const PeImportedFunction& function : dll.functions) CheckFunction(importer, target, function, delay);
}

const PeExport* ImportWalk::FindExport(DiskImage& image, const PeImportedFunction& wanted) {
    if (wanted.byOrdinal) {
        for (const PeExport& entry : image.pe.exports) {
            if (entry.ordinal == wanted.ordinal) return &entry;
        }
        return nullptr;
    }
    if (!image.exportsByName) {
        image.exportsByName.emplace();
        for (const PeExport& entry : image.pe.exports) {
            if (!entry.name.empty()) image.exportsByName->emplace(entry.name, &entry);
        }
    }
    auto found = image.exportsByName->find(wanted.name);
    return found == image.exportsByName->end() ? nullptr : found->second;
}

// Follows forwarders ("dll.func", "dll.#n") as far as kMostForwarderHops; a
// longer chain or a loop decides nothing.
void ImportWalk::CheckFunction(const DiskImage& importer, DiskImage& target, PeImportedFunction wanted, bool delay) {
    DiskImage* at = &target;
    for (int hop = 0; hop < kMostForwarderHops; ++hop) {
        if (!at->read || !at->pe.exportsComplete) return;
        const PeExport* entry = FindExport(*at, wanted);
        if (!entry) {
            Report(ImportProblemKind::ImportNotFound, at->path, importer.path, FunctionText(wanted), delay);
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
        const Resolution resolution = Resolve(module);
        if (resolution.found == Found::System) return;
        if (resolution.found == Found::Nowhere) {
            NameMissing(*at, module.find('.') == std::string::npos ? module + ".dll" : module, delay);
            return;
        }
        if (resolution.found == Found::Unusable) {
            Report(ImportProblemKind::BadImageFormat, resolution.path, at->path, {}, delay);
            return;
        }
        DiskImage& forwardedTo = Image(resolution.path);
        if (!forwardedTo.walked) Walk(forwardedTo, delay);
        at = &forwardedTo;
        wanted = next;
    }
}

void ImportWalk::NameMissing(DiskImage& importer, const std::string& name, bool delay) {
    if (!search_.parametersRead || dotLocal_ || AssemblyMaySupply(importer, LowerAscii(name))) return;
    Report(ImportProblemKind::DllNotFound, Widen(name), importer.path, {}, delay);
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

void ImportWalk::Report(ImportProblemKind kind, const std::wstring& module, const std::wstring& importer,
                        const std::wstring& function, bool delay) {
    if (!reported_.emplace(kind, Lower(module), Lower(importer), function).second) return;
    problems_.push_back({kind, module, importer, function, delay});
}

std::vector<ImportProblem> ImportWalk::Run(const std::wstring& imagePath) {
    // A .local file or folder beside the image redirects loads in ways not followed here.
    dotLocal_ = PathExists(imagePath + L".local");
    if (dotLocal_) folders_.push_back(imagePath + L".local");
    // The 16-bit system folder comes between the system and the Windows folder.
    const std::wstring system16 = search_.windowsFolder.empty() ? L"" : JoinPath(search_.windowsFolder, L"System");
    for (const std::wstring& folder :
         {search_.imageFolder, search_.systemFolder, system16, search_.windowsFolder, search_.currentFolder}) {
        if (!folder.empty()) folders_.push_back(folder);
    }
    folders_.insert(folders_.end(), search_.pathFolders.begin(), search_.pathFolders.end());

    root_ = &Image(imagePath);
    if (!root_->read || !root_->pe.headersRead) return {};
    if (!Usable(*root_)) {
        Report(ImportProblemKind::BadImageFormat, imagePath, {}, {}, false);
        return problems_;
    }
    Walk(*root_, false);
    // Delay-loaded DLLs come after everything the start itself loads.
    for (std::size_t index = 0; index < delayEdges_.size(); ++index) {
        FollowImport(*delayEdges_[index].first, *delayEdges_[index].second, true);
    }
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
    search.windowsFolder = FolderFrom(SystemWindowsFolder);
    search.knownDlls = ReadKnownDlls();

    ProcessParameters parameters;
    if (!ReadProcessParameters(process, parameters)) return search;
    search.currentFolder = ReadCountedString(process, parameters, kParametersCurrentDirectory, kLongestFolderChars);
    const std::wstring environment = ReadEnvironment(process, parameters, kLongestEnvironmentChars);
    search.parametersRead = !environment.empty() && PathFromEnvironment(environment, search.pathFolders);
    if (wow64) {
        for (std::wstring& folder : search.pathFolders)
            folder = FolderSeenBy32BitProcess(folder, nativeSystemFolder, search.systemFolder, search.windowsFolder);
    }
    return search;
}

std::wstring FolderSeenBy32BitProcess(const std::wstring& folder, const std::wstring& systemFolder,
                                      const std::wstring& wow64SystemFolder, const std::wstring&) {
    return Lower(folder) == Lower(systemFolder) ? wow64SystemFolder : folder;
}

std::vector<ImportProblem> FindImportProblems(const std::wstring& imagePath, const LoaderSearch& search) {
    ImportWalk walk(search);
    return walk.Run(imagePath);
}
