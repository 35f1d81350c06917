// FileFacts: reads a module file's version strings and file information once,
// and hands them out as texts (view columns, log row fields, upload line).
#include "modules/file_facts.h"

#include <cstring>
#include <vector>

#include "base/format_bounded.h"
#include "base/handles.h"
#include "base/system_library.h"
#include "modules/fold_path.h"
#include "modules/split_path.h"
#include "modules/version_block.h"

// Facts are read beside the running debuggee: a program that renames, replaces
// or deletes its own module file meanwhile must not find it held by us.
constexpr DWORD kShareEverything = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

namespace {

constexpr const wchar_t* kVersionKeys[FileFacts::kVersionKeyCount] = {
    L"CompanyName",     L"FileDescription", L"FileVersion", L"InternalName",
    L"LegalCopyright",  L"LegalTradeMarks", L"OriginalFilename", L"ProductName",
    L"ProductVersion",  L"Comments",        L"Author",
};
constexpr std::size_t kTableNameChars = 9;
constexpr std::size_t kDateChars = 32;
constexpr std::size_t kNumberChars = 32;

// version.dll is not a known DLL: it comes from the system folder only.
auto* GetFileVersionInfoSizeProc() {
    static auto* proc = SystemProc<decltype(GetFileVersionInfoSizeW)>(L"version.dll", "GetFileVersionInfoSizeW");
    return proc;
}
auto* GetFileVersionInfoProc() {
    static auto* proc = SystemProc<decltype(GetFileVersionInfoW)>(L"version.dll", "GetFileVersionInfoW");
    return proc;
}

// The name of a translation's string table: language and code page as eight hexadecimal digits.
std::wstring StringTableName(VersionTranslation translation) {
    return FormatToString(kTableNameChars, L"%04x%04x", translation.language, translation.codePage);
}

}  // namespace

FileFacts::FileFacts(std::wstring path) : path_(std::move(path)) {
    versionStrings_.reserve(kVersionKeyCount);
    for (const wchar_t* key : kVersionKeys) versionStrings_.emplace_back(key, std::wstring());
    ReadVersionStrings();
    ReadFileInformation();
}

void FileFacts::ReadVersionStrings() {
    if (!GetFileVersionInfoSizeProc() || !GetFileVersionInfoProc()) return;
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeProc()(path_.c_str(), &handle);
    if (size == 0) return;
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoProc()(path_.c_str(), 0, size, block.data())) return;
    // Every translation is read in table order, so a key carried by several
    // translations takes the text of the one listed last. The block comes from
    // the file: it is read by our own bounded reader, never trusting a length.
    for (VersionTranslation translation : ReadVersionTranslations(block.data(), block.size())) {
        std::wstring table = StringTableName(translation);
        for (auto& [key, value] : versionStrings_) {
            if (auto text = ReadVersionString(block.data(), block.size(), table, key)) value = std::move(*text);
        }
    }
}

void FileFacts::ReadFileInformation() {
    UniqueFile file(CreateFileW(path_.c_str(), GENERIC_READ, kShareEverything, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    info_ = BY_HANDLE_FILE_INFORMATION{};
    if (!file) return;
    if (!GetFileInformationByHandle(file.get(), &info_)) info_ = BY_HANDLE_FILE_INFORMATION{};
}

const std::wstring& FileFacts::VersionValue(std::size_t index) const {
    static const std::wstring kNone;
    return index < versionStrings_.size() ? versionStrings_[index].second : kNone;
}

unsigned long long FileFacts::ByteSize() const {
    return (static_cast<unsigned long long>(info_.nFileSizeHigh) << 32) | info_.nFileSizeLow;
}

std::wstring FileFacts::SizeText() const {
    if (ByteSize() == 0) return {};
    return FormatToString(kNumberChars, L"%llu", ByteSize());
}

std::wstring FileFacts::SizeKText() const {
    if (ByteSize() == 0) return {};
    return FormatToString(kNumberChars, L"%lluK", ByteSize() / 1024);
}

std::wstring FileFacts::CreatedText() const {
    return FileDateText(info_.ftCreationTime);
}

std::wstring FileFacts::ModifiedText() const {
    return FileDateText(info_.ftLastWriteTime);
}

std::wstring FileFacts::FoldedPath() const {
    std::wstring folded = path_;
    FoldPath(folded);
    return folded;
}

std::vector<std::wstring> FileFacts::UploadFields() const {
    UploadPathParts parts = SplitForUpload(FoldedPath());
    return {parts.name,    parts.directory, SizeText(),        ProductVersionText(),
            CreatedText(), ModifiedText(),  DescriptionText(), CompanyText()};
}

std::wstring FileFacts::UploadLine(std::string_view separator) const {
    std::wstring wideSeparator;
    for (char c : separator) wideSeparator += static_cast<wchar_t>(static_cast<unsigned char>(c));
    std::wstring line;
    const std::vector<std::wstring> fields = UploadFields();
    for (const std::wstring& field : fields) {
        if (&field != &fields[0]) line += wideSeparator;
        line += field;
    }
    return line;
}

bool FileFacts::StillDescribesFile() const {
    auto same = [](const FILETIME& a, const FILETIME& b) {
        return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
    };
    const BY_HANDLE_FILE_INFORMATION none{};
    if (std::memcmp(&info_, &none, sizeof(none)) == 0) return false;
    WIN32_FILE_ATTRIBUTE_DATA now{};
    if (!GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &now)) return false;
    return now.nFileSizeHigh == info_.nFileSizeHigh && now.nFileSizeLow == info_.nFileSizeLow &&
           same(now.ftCreationTime, info_.ftCreationTime) && same(now.ftLastWriteTime, info_.ftLastWriteTime);
}

std::wstring FileDateText(const FILETIME& time) {
    if (time.dwLowDateTime == 0 && time.dwHighDateTime == 0) return {};
    SYSTEMTIME utc{};
    if (!FileTimeToSystemTime(&time, &utc)) return {};
    return FormatToString(kDateChars, L"%02d.%02d.%04d", utc.wDay, utc.wMonth, utc.wYear);
}
