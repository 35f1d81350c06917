// Bounded printf-style formatting of wide text into fixed buffers. Our own
// implementation, so that "%s" means a wide string whatever the C runtime's flags.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

inline constexpr std::uint32_t kFormatOk = 0;
inline constexpr std::uint32_t kFormatCut = 0x8007007A;      // STRSAFE_E_INSUFFICIENT_BUFFER
inline constexpr std::uint32_t kFormatInvalid = 0x80070057;  // STRSAFE_E_INVALID_PARAMETER
inline constexpr std::size_t kFormatMaxCapacity = 2147483647;

// One argument of a format: a wide text or an integer (kept as its 64 bits).
class FormatArg {
public:
    enum class Kind { None, Text, Number };

    FormatArg() = default;
    // A text ends at its first zero character, as "%s" reads it in C: a
    // buffer-sized string with trailing zeros prints only its text.
    FormatArg(const wchar_t* text) : kind_(Kind::Text), text_(text ? text : L"") {}
    FormatArg(const std::wstring& text) : FormatArg(std::wstring_view(text)) {}
    FormatArg(std::wstring_view text) : kind_(Kind::Text), text_(text.substr(0, text.find(L'\0'))) {}
    FormatArg(const void* address)
        : kind_(Kind::Number), bits_(reinterpret_cast<std::uintptr_t>(address)) {}
    FormatArg(int n) : kind_(Kind::Number), bits_(static_cast<std::uint64_t>(static_cast<long long>(n))) {}
    FormatArg(long n) : kind_(Kind::Number), bits_(static_cast<std::uint64_t>(static_cast<long long>(n))) {}
    FormatArg(long long n) : kind_(Kind::Number), bits_(static_cast<std::uint64_t>(n)) {}
    FormatArg(unsigned n) : kind_(Kind::Number), bits_(n) {}
    FormatArg(unsigned long n) : kind_(Kind::Number), bits_(n) {}
    FormatArg(unsigned long long n) : kind_(Kind::Number), bits_(n) {}
    FormatArg(unsigned short n) : kind_(Kind::Number), bits_(n) {}

    Kind kind() const { return kind_; }
    std::wstring_view text() const { return text_; }
    std::uint64_t bits() const { return bits_; }

private:
    Kind kind_ = Kind::None;
    std::wstring_view text_;
    std::uint64_t bits_ = 0;
};

// Writes at most capacity-1 characters of the formatted text and always
// terminates. Returns kFormatOk, kFormatCut when the text was cut, or
// kFormatInvalid without writing when capacity is 0 or above 2147483647.
// Directives: %s (wide text), %d %i (signed 32-bit), %u, %x, %X (unsigned
// 32-bit; %X of an address shows its low 32 bits), with optional flags "-0",
// a width and the size prefixes l (32-bit long), ll and I64 (64-bit); %% is a
// percent sign. A directive without a fitting argument writes nothing.
std::uint32_t FormatBoundedArgs(wchar_t* out, std::size_t capacity, std::wstring_view format,
                                std::span<const FormatArg> args);

template <class... Args>
std::uint32_t FormatBounded(wchar_t* out, std::size_t capacity, std::wstring_view format,
                            const Args&... args) {
    const FormatArg list[] = {FormatArg(args)..., FormatArg()};
    return FormatBoundedArgs(out, capacity, format, std::span<const FormatArg>(list, sizeof...(Args)));
}

// The same into a string of the given capacity (the result holds at most capacity-1 characters).
template <class... Args>
std::wstring FormatToString(std::size_t capacity, std::wstring_view format, const Args&... args) {
    std::wstring buffer(capacity, L'\0');
    FormatBounded(buffer.data(), capacity, format, args...);
    buffer.resize(std::wstring_view(buffer.c_str()).size());
    return buffer;
}
