// Turns a fuzzer's bytes into the inputs of our text helpers: UTF-16 units
// (two bytes each, so every unit a Windows wchar_t can hold is reachable) and
// small numbers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint32_t Number() {
        std::uint32_t n = 0;
        for (int i = 0; i < 4; ++i) n = (n << 8) | Byte();
        return n;
    }
    // Up to maxUnits UTF-16 units.
    std::wstring Text(std::size_t maxUnits) {
        std::size_t units = Byte() % (maxUnits + 1);
        std::wstring text;
        for (std::size_t i = 0; i < units && !empty(); ++i) {
            std::uint16_t unit = static_cast<std::uint16_t>(Byte() | (Byte() << 8));
            text.push_back(static_cast<wchar_t>(unit));
        }
        return text;
    }
    // The rest as text, with every unit kept.
    std::wstring Rest() {
        std::wstring text;
        while (!empty()) text.push_back(static_cast<wchar_t>(static_cast<std::uint16_t>(Byte() | (Byte() << 8))));
        return text;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};
