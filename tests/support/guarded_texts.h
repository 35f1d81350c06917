// The process inventory's two text buffers, each followed by a guard, to see
// that nothing is ever written past them.
#pragma once
#include <algorithm>
#include <array>

#include "diag/process_inventory.h"

struct GuardedTexts {
    ProcessText imagePath = {};
    std::array<wchar_t, 16> imageGuard;
    ProcessText commandLine = {};
    std::array<wchar_t, 16> commandGuard;

    GuardedTexts() {
        imageGuard.fill(L'G');
        commandGuard.fill(L'G');
    }
    bool GuardsIntact() const {
        auto intact = [](const std::array<wchar_t, 16>& guard) {
            return std::all_of(guard.begin(), guard.end(), [](wchar_t c) { return c == L'G'; });
        };
        return intact(imageGuard) && intact(commandGuard);
    }
};
