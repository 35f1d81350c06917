// The bounded formatter: parses each directive and appends its text, cutting at capacity-1.
#include "base/format_bounded.h"

namespace {

struct Directive {
    bool leftAlign = false;
    bool zeroPad = false;
    std::size_t width = 0;
    bool wide64 = false;
    wchar_t conversion = 0;
};

class BoundedWriter {
public:
    BoundedWriter(wchar_t* out, std::size_t capacity) : out_(out), room_(capacity - 1) {}

    void Put(wchar_t c) {
        if (used_ < room_) out_[used_++] = c;
        else cut_ = true;
    }
    void Put(std::wstring_view text) {
        for (wchar_t c : text) Put(c);
    }
    void Pad(wchar_t c, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) Put(c);
    }
    std::uint32_t Finish() {
        out_[used_] = L'\0';
        return cut_ ? kFormatCut : kFormatOk;
    }

private:
    wchar_t* out_;
    std::size_t room_;
    std::size_t used_ = 0;
    bool cut_ = false;
};

// Reads flags, width and size prefix after '%'; returns the position after the conversion.
std::size_t ParseDirective(std::wstring_view format, std::size_t pos, Directive& d) {
    for (; pos < format.size() && (format[pos] == L'-' || format[pos] == L'0'); ++pos) {
        if (format[pos] == L'-') d.leftAlign = true;
        else d.zeroPad = true;
    }
    for (; pos < format.size() && format[pos] >= L'0' && format[pos] <= L'9'; ++pos) {
        if (d.width < 100000) d.width = d.width * 10 + static_cast<std::size_t>(format[pos] - L'0');
    }
    if (format.substr(pos, 3) == L"I64") {
        d.wide64 = true;
        pos += 3;
    } else if (format.substr(pos, 2) == L"ll") {
        d.wide64 = true;
        pos += 2;
    } else if (pos < format.size() && (format[pos] == L'l' || format[pos] == L'h')) {
        ++pos;
    }
    if (pos < format.size()) d.conversion = format[pos++];
    return pos;
}

std::wstring DigitsOf(std::uint64_t value, unsigned base, bool upper) {
    const wchar_t* digits = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    std::wstring text;
    do {
        text.insert(text.begin(), digits[value % base]);
        value /= base;
    } while (value != 0);
    return text;
}

// The number's text without padding; sign separate so that zero padding goes after it.
bool NumberText(const Directive& d, std::uint64_t bits, std::wstring& sign, std::wstring& digits) {
    switch (d.conversion) {
    case L'd':
    case L'i': {
        long long value = d.wide64 ? static_cast<long long>(bits)
                                   : static_cast<long long>(static_cast<std::int32_t>(static_cast<std::uint32_t>(bits)));
        std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
        if (value < 0) sign = L"-";
        digits = DigitsOf(magnitude, 10, false);
        return true;
    }
    case L'u':
    case L'x':
    case L'X': {
        std::uint64_t value = d.wide64 ? bits : static_cast<std::uint32_t>(bits);
        digits = DigitsOf(value, d.conversion == L'u' ? 10 : 16, d.conversion == L'X');
        return true;
    }
    default:
        return false;
    }
}

void PutPadded(BoundedWriter& w, const Directive& d, std::wstring_view sign, std::wstring_view body) {
    std::size_t length = sign.size() + body.size();
    std::size_t fill = d.width > length ? d.width - length : 0;
    if (d.leftAlign) {
        w.Put(sign);
        w.Put(body);
        w.Pad(L' ', fill);
    } else if (d.zeroPad && d.conversion != L's') {
        w.Put(sign);
        w.Pad(L'0', fill);
        w.Put(body);
    } else {
        w.Pad(L' ', fill);
        w.Put(sign);
        w.Put(body);
    }
}

void PutDirective(BoundedWriter& w, const Directive& d, const FormatArg* arg) {
    if (d.conversion == L's') {
        if (arg && arg->kind() == FormatArg::Kind::Text) PutPadded(w, d, L"", arg->text());
        return;
    }
    if (!arg || arg->kind() != FormatArg::Kind::Number) return;
    std::wstring sign, digits;
    if (NumberText(d, arg->bits(), sign, digits)) PutPadded(w, d, sign, digits);
}

}  // namespace

std::uint32_t FormatBoundedArgs(wchar_t* out, std::size_t capacity, std::wstring_view format,
                                std::span<const FormatArg> args) {
    if (out == nullptr || capacity == 0 || capacity > kFormatMaxCapacity) return kFormatInvalid;
    BoundedWriter w(out, capacity);
    std::size_t next = 0;
    for (std::size_t pos = 0; pos < format.size();) {
        wchar_t c = format[pos++];
        if (c != L'%') {
            w.Put(c);
            continue;
        }
        if (pos < format.size() && format[pos] == L'%') {
            w.Put(L'%');
            ++pos;
            continue;
        }
        Directive d;
        pos = ParseDirective(format, pos, d);
        const FormatArg* arg = next < args.size() ? &args[next] : nullptr;
        ++next;
        PutDirective(w, d, arg);
    }
    return w.Finish();
}
