// The verdict in zar.exe's real window: one item under thread id 0, the first
// finding in its text and each finding (and the advice after it) as its
// child, as the log has them.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/test_files.h"
#include "tests/support/window_driver.h"

namespace {

constexpr DWORD kRepaintAfterNotepadMs = 1500;

// The lines after "Диагноз:" in the log that zar.exe wrote beside itself.
std::vector<std::wstring> LoggedVerdict() {
    std::wstring zar = ZarUnderTestPath();
    std::vector<std::wstring> lines = ReadLogLines(zar.substr(0, zar.find_last_of(L'\\') + 1) + L"zar.log");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == L"Диагноз:") return {lines.begin() + static_cast<std::ptrdiff_t>(i) + 1, lines.end()};
    }
    return {};
}

}  // namespace

TEST(VerdictWindow, FailedInitialisationShowsAsTheLastTreeItemUnderThreadZero) {
    ZarWindow zar;
    ASSERT_TRUE(zar.Started());
    ASSERT_TRUE(zar.ChooseFile(FullPath(TargetPath(L"imports_init_fails.exe"))));
    ASSERT_NE(nullptr, zar.WaitForLogInNotepad()) << "no Notepad on zar.log after the run";
    zar.CloseOwnNotepads();
    Sleep(kRepaintAfterNotepadMs);
    RedrawWindow(zar.MainWindow(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    Sleep(kRepaintAfterNotepadMs);
    EXPECT_TRUE(SaveScreenshot(L"korvane-verdict.png"));

    std::vector<std::wstring> logged = LoggedVerdict();
    ASSERT_EQ(1u, logged.size());
    EXPECT_NE(std::wstring::npos, logged[0].find(L"init_fails.dll не инициализирована")) << logged[0];
    std::vector<TreeItem> items = zar.Tree();
    ASSERT_GE(items.size(), 2u);
    const TreeItem& verdict = items.back();
    EXPECT_EQ(0, verdict.param);
    EXPECT_EQ(L"Диагноз: " + logged[0], verdict.text);
    ASSERT_EQ(1u, verdict.children.size());
    EXPECT_EQ(logged[0], verdict.children[0].text);
    EXPECT_EQ(0, verdict.children[0].param);
}

TEST(VerdictWindow, TheAdviceFollowsItsFindingInTheTreeAsInTheLog) {
    ZarWindow zar;
    ASSERT_TRUE(zar.Started());
    ASSERT_TRUE(zar.ChooseFile(FullPath(TargetPath(L"imports_missing_dll.exe"))));
    ASSERT_NE(nullptr, zar.WaitForLogInNotepad()) << "no Notepad on zar.log after the run";
    zar.CloseOwnNotepads();

    std::vector<std::wstring> logged = LoggedVerdict();
    ASSERT_EQ(2u, logged.size());
    EXPECT_NE(std::wstring::npos, logged[0].find(L"Не найдена библиотека ")) << logged[0];
    EXPECT_EQ(L"Что делать: положите недостающую библиотеку рядом с программой или переустановите программу", logged[1]);
    std::vector<TreeItem> items = zar.Tree();
    ASSERT_GE(items.size(), 2u);
    const TreeItem& verdict = items.back();
    EXPECT_EQ(L"Диагноз: " + logged[0], verdict.text) << "the answer is the finding, not its advice";
    ASSERT_EQ(2u, verdict.children.size());
    EXPECT_EQ(logged[0], verdict.children[0].text);
    EXPECT_EQ(logged[1], verdict.children[1].text);
}
