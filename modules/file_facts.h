// FileFacts: the record of one module file (path, version strings, size, dates).
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class FileFacts {
public:
    static constexpr std::size_t kVersionKeyCount = 11;

    // Reads everything at once; a fact that cannot be read stays empty.
    explicit FileFacts(std::wstring path);

    const std::wstring& VersionValue(std::size_t index) const;
    const std::wstring& CompanyText() const { return VersionValue(0); }
    const std::wstring& DescriptionText() const { return VersionValue(1); }
    const std::wstring& ProductVersionText() const { return VersionValue(8); }
    std::wstring SizeText() const;
    std::wstring SizeKText() const;
    std::wstring CreatedText() const;
    std::wstring ModifiedText() const;
    const std::wstring& FilePath() const { return path_; }
    std::wstring FoldedPath() const;
    // The upload's eight fields: name, directory, size, product version,
    // created, modified, description, company.
    std::vector<std::wstring> UploadFields() const;
    // The eight fields joined by the separator.
    std::wstring UploadLine(std::string_view separator) const;
    // True when the file still has the size and times read at construction: a
    // look without opening it (about 10 us under Wine, where an open costs a
    // millisecond). False for a file that could not be read.
    bool StillDescribesFile() const;

private:
    void ReadVersionStrings();
    void ReadFileInformation();
    unsigned long long ByteSize() const;

    std::vector<std::pair<std::wstring, std::wstring>> versionStrings_;
    BY_HANDLE_FILE_INFORMATION info_{};
    std::wstring path_;
};

// The date text of a file time, "dd.mm.yyyy" in UTC; empty for a zero time or
// one that has no calendar date.
std::wstring FileDateText(const FILETIME& time);
