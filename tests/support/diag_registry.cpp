// Saving, changing and restoring one HKLM value for a test.
#include "tests/support/diag_registry.h"

#include <gtest/gtest.h>

#include "base/handles.h"

namespace {

UniqueRegKey OpenForWriting(const std::wstring& keyPath) {
    UniqueRegKey key;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, key.put(),
                    nullptr);
    return key;
}

}  // namespace

SavedHklmValue::SavedHklmValue(std::wstring keyPath, std::wstring valueName)
    : keyPath_(std::move(keyPath)), valueName_(std::move(valueName)) {
    UniqueRegKey key;
    keyExisted_ = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath_.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
    if (!keyExisted_) return;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), valueName_.c_str(), nullptr, &type_, nullptr, &size) != ERROR_SUCCESS) return;
    data_.resize(size);
    valueExisted_ = RegQueryValueExW(key.get(), valueName_.c_str(), nullptr, &type_, data_.data(), &size) ==
                    ERROR_SUCCESS;
    data_.resize(size);
}

SavedHklmValue::~SavedHklmValue() {
    if (!keyExisted_) {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyPath_.c_str());
        return;
    }
    if (valueExisted_) SetRaw(type_, data_);
    else Remove();
}

void SavedHklmValue::SetText(const std::wstring& text) {
    const BYTE* first = reinterpret_cast<const BYTE*>(text.c_str());
    SetRaw(REG_SZ, std::vector<BYTE>(first, first + (text.size() + 1) * sizeof(wchar_t)));
}

void SavedHklmValue::SetRaw(DWORD type, const std::vector<BYTE>& bytes) {
    UniqueRegKey key = OpenForWriting(keyPath_);
    ASSERT_TRUE(key.valid()) << "cannot open HKLM\\" << std::string(keyPath_.begin(), keyPath_.end());
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), valueName_.c_str(), 0, type, bytes.data(),
                                            static_cast<DWORD>(bytes.size())));
}

void SavedHklmValue::Remove() {
    UniqueRegKey key = OpenForWriting(keyPath_);
    if (key) RegDeleteValueW(key.get(), valueName_.c_str());
}
