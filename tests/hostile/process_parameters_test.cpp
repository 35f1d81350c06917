// Processes whose own parameters claim more than their buffers hold: the
// process strings are read only within the string's buffer and ours, and the
// active-processes block is written whole around them.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <string>

#include "diag/process_inventory.h"
#include "tests/support/diag_processes.h"
#include "tests/support/test_files.h"
#include "tests/support/watch_runs.h"
#include "tests/support/guarded_texts.h"
#include "watch/launch_trace.h"

namespace {

const std::wstring kShownText = L"hostile-params-line ";
const std::wstring kPastTheBuffer = L"PAST-THE-BUFFER";

// hostile_params.exe copied to the name that tells it how to lie.
std::wstring LyingCopy(const std::wstring& mode) {
    std::wstring copy = TestProgramFolder() + L"hostile_params-" + mode + L".exe";
    CopyFileW(TargetPath(L"hostile_params.exe").c_str(), copy.c_str(), FALSE);
    return copy;
}

std::vector<std::wstring> Inventory() {
    {
        LaunchTrace trace(L"x", nullptr, nullptr);
        trace.WriteProcessInventory();
    }
    return ReadLogLines(WatchLogPath());
}

// Heading, hyphen lines and total in their places, whatever the processes claimed.
void ExpectWholeBlock(const std::vector<std::wstring>& lines) {
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(L"", lines[0]);
    EXPECT_EQ(L"", lines[1]);
    EXPECT_TRUE(lines[2].starts_with(L"Активные процессы (")) << lines[2];
    EXPECT_EQ(std::wstring(23, L'-'), lines[3]);
    EXPECT_EQ(std::wstring(28, L'-'), lines[lines.size() - 2]);
    EXPECT_TRUE(lines.back().starts_with(L"Total Working Set: ")) << lines.back();
}

std::size_t LinesMentioning(const std::vector<std::wstring>& lines, const std::wstring& text) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::wstring& line) { return line.find(text) != std::wstring::npos; });
}

}  // namespace

TEST(HostileParameters, CommandLineLongerThanItsBufferIsReadOnlyWithinIt) {
    IdleProcess lying(LyingCopy(L"overlong"));
    ASSERT_TRUE(lying.Running());
    GuardedTexts texts;
    EXPECT_TRUE(ReadProcessStrings(lying.Id(), texts.imagePath, texts.commandLine));
    EXPECT_TRUE(texts.GuardsIntact());
    EXPECT_EQ(kShownText + lying.Marker(), std::wstring(texts.commandLine.data()))
        << "Length ran past MaximumLength: only the buffer's text is taken";

    auto lines = Inventory();
    ExpectWholeBlock(lines);
    EXPECT_EQ(1u, LinesMentioning(lines, kShownText + lying.Marker() + L" - ["));
    EXPECT_EQ(0u, LinesMentioning(lines, kPastTheBuffer));
}

TEST(HostileParameters, OddLengthDropsTheHalfCharacter) {
    IdleProcess lying(LyingCopy(L"odd"));
    ASSERT_TRUE(lying.Running());
    GuardedTexts texts;
    EXPECT_TRUE(ReadProcessStrings(lying.Id(), texts.imagePath, texts.commandLine));
    EXPECT_TRUE(texts.GuardsIntact());
    const std::wstring whole = kShownText + lying.Marker();
    EXPECT_EQ(whole.substr(0, whole.size() - 1), std::wstring(texts.commandLine.data()));
}

TEST(HostileParameters, CommandLineClaimingTooMuchIsRefusedAndTheBlockStaysWhole) {
    IdleProcess lying(LyingCopy(L"huge"));
    ASSERT_TRUE(lying.Running());
    GuardedTexts texts;
    EXPECT_FALSE(ReadProcessStrings(lying.Id(), texts.imagePath, texts.commandLine));
    EXPECT_TRUE(texts.GuardsIntact());
    EXPECT_EQ(L'\0', texts.commandLine[0]);

    auto lines = Inventory();
    ExpectWholeBlock(lines);
    EXPECT_EQ(0u, LinesMentioning(lines, lying.Marker())) << "counted, not listed";
}

TEST(HostileParameters, CommandLineRunningIntoUnreadableMemoryTakesNothingBeyondItsText) {
    IdleProcess lying(LyingCopy(L"beyond"));
    ASSERT_TRUE(lying.Running());
    GuardedTexts texts;
    const bool read = ReadProcessStrings(lying.Id(), texts.imagePath, texts.commandLine);
    EXPECT_TRUE(texts.GuardsIntact());
    auto lines = Inventory();
    ExpectWholeBlock(lines);
    // Windows fails the read (the process is then counted, not listed); Wine
    // reads zeros after the allocation, which end the text.
    if (read) {
        EXPECT_EQ(kShownText + lying.Marker(), std::wstring(texts.commandLine.data()));
        EXPECT_EQ(1u, LinesMentioning(lines, kShownText + lying.Marker() + L" - ["));
    } else {
        EXPECT_TRUE(std::all_of(texts.commandLine.begin(), texts.commandLine.end(), [](wchar_t c) { return c == 0; }))
            << "nothing of a failed read is kept";
        EXPECT_EQ(0u, LinesMentioning(lines, lying.Marker()));
    }
}
