// The desktop heap sizes of the Windows subsystem's "SharedSection=" setting.
// Pure text handling (no system calls), so it builds natively too.
#pragma once
#include <optional>
#include <string_view>

struct SharedSectionSizes {
    int first = 0;
    int second = 0;
    int third = 0;  // heap of each non-interactive desktop, in KB
};

// The numbers after the first "SharedSection=" (exact case) of the value, read
// the way wide scanf reads "%d,%d,%d": white space may precede each number, each
// comma must follow directly, reading stops at the first mismatch and numbers not
// read stay 0. A number beyond the 32-bit range is held at its limit, as strtol
// does. Nothing when the value has no "SharedSection=".
std::optional<SharedSectionSizes> FindSharedSection(std::wstring_view value);

// Below 256 KB, compared unsigned: a negative size counts as a very large one.
bool DesktopHeapTooSmall(int nonInteractiveHeapKb);
