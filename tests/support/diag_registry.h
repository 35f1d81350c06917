// A registry value under HKEY_LOCAL_MACHINE that a test changes and that is put
// back as it was (data, type, or absence) when the test ends.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

class SavedHklmValue {
public:
    SavedHklmValue(std::wstring keyPath, std::wstring valueName);
    ~SavedHklmValue();
    SavedHklmValue(const SavedHklmValue&) = delete;
    SavedHklmValue& operator=(const SavedHklmValue&) = delete;

    // REG_SZ with its terminating zero.
    void SetText(const std::wstring& text);
    // Any type and bytes, exactly as given.
    void SetRaw(DWORD type, const std::vector<BYTE>& bytes);
    void Remove();

private:
    std::wstring keyPath_;
    std::wstring valueName_;
    bool keyExisted_ = false;
    bool valueExisted_ = false;
    DWORD type_ = 0;
    std::vector<BYTE> data_;
};
