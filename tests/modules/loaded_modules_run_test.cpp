// The loaded-modules section of a real run: one row per module path in the
// order the run met them, and the reported-module list beside it.
#include <gtest/gtest.h>

#include <algorithm>

#include "modules/fold_path.h"
#include "tests/support/modules_files.h"
#include "tests/support/test_files.h"
#include "tests/support/watch_runs.h"

namespace {

constexpr std::size_t kLegendAndRule = 2;

// The rows of the section: the lines after its heading, legend and rule, up
// to the empty line before the verdict.
std::vector<std::wstring> ModuleRows(const std::vector<std::wstring>& lines) {
    std::size_t heading = FindLine(lines, L"Загруженные модули:");
    if (heading + kLegendAndRule >= lines.size()) return {};
    auto first = lines.begin() + static_cast<std::ptrdiff_t>(heading + kLegendAndRule + 1);
    return std::vector<std::wstring>(first, std::find(first, lines.end(), L""));
}

std::wstring PathOfRow(const std::wstring& row) {
    return row.substr(0, row.find(L" - ["));
}

std::size_t IndexOf(const std::vector<std::wstring>& paths, const std::wstring& fileName) {
    auto found = std::find_if(paths.begin(), paths.end(), [&](const std::wstring& path) {
        return path.size() >= fileName.size() && path.compare(path.size() - fileName.size(), fileName.size(), fileName) == 0;
    });
    return static_cast<std::size_t>(found - paths.begin());
}

TEST(LoadedModulesRun, RowsFollowTheRunTargetTwiceReloadedDllOnceChildAfterIt) {
    std::wstring target = TargetPath(L"modules_run.exe");
    WatchRun run = RunHeadless(target);
    std::vector<std::wstring> rows = ModuleRows(run.lines);
    ASSERT_EQ(run.modulePaths.size(), rows.size());
    ASSERT_GE(rows.size(), 5u);

    std::vector<std::wstring> paths;
    for (const std::wstring& row : rows) paths.push_back(PathOfRow(row));
    EXPECT_EQ(run.modulePaths, paths);
    // As chosen (with its "..\"), then as resolved from the creation event.
    EXPECT_EQ(target, paths[0]);
    EXPECT_NE(target, paths[1]);
    EXPECT_EQ(L"\\modules_run.exe", paths[1].substr(paths[1].find_last_of(L'\\')));

    std::size_t helper = IndexOf(paths, L"\\plain_helper.dll");
    std::size_t child = IndexOf(paths, L"\\modules_child.exe");
    std::size_t childHelper = IndexOf(paths, L"\\child_helper.dll");
    ASSERT_LT(child, paths.size());
    EXPECT_LT(helper, child);
    // The DLL only the child loads follows the child's image.
    EXPECT_LT(child, childHelper);
    EXPECT_LT(childHelper, paths.size());
    EXPECT_EQ(1, std::count_if(paths.begin(), paths.end(), [](const std::wstring& p) {
                  return p.find(L"plain_helper.dll") != std::wstring::npos;
              }));
    // Every row carries the facts of its file: the helper's size, its dates.
    EXPECT_NE(std::wstring::npos, rows[helper].find(L"K; ")) << rows[helper];
}

}  // namespace

TEST(LoadedModulesRun, DllsWithLyingVersionResourcesAreLoadedAndShowWhatCanBeRead) {
    const std::wstring folder = MakeTempFolder(L"lying versions run");
    const std::wstring target = folder + L"loads_folder_dlls.exe";
    ASSERT_TRUE(CopyFileW(TargetPath(L"loads_folder_dlls.exe").c_str(), target.c_str(), FALSE));
    const std::wstring beyond = CraftedVersionDll(folder, L"translation_beyond.dll", VersionLie::TranslationBeyondBlock);
    const std::wstring lying = CraftedVersionDll(folder, L"lying_string.dll", VersionLie::StringLengthBeyondNode);
    const std::wstring cut = CraftedVersionDll(folder, L"table_cut.dll", VersionLie::TableEndsInsideHeader);
    ASSERT_FALSE(beyond.empty() || lying.empty() || cut.empty());

    WatchRun run = RunHeadless(target);
    EXPECT_EQ(3u, run.lastExitCode) << "the target loaded all three";
    ASSERT_LT(FindLine(run.lines, L"Отладка завершена"), run.lines.size());
    std::vector<std::wstring> rows = ModuleRows(run.lines);
    auto rowOf = [&](const std::wstring& path) {
        auto found = std::find_if(rows.begin(), rows.end(), [&](const std::wstring& row) { return PathOfRow(row) == path; });
        return found == rows.end() ? std::wstring() : *found;
    };
    for (const std::wstring& dll : {beyond, lying, cut}) {
        std::wstring shown = dll;
        FoldPath(shown);
        EXPECT_LT(FindLine(run.lines, L"Загрузка " + shown + L" (base: 0x"), run.lines.size()) << "load line";
        EXPECT_NE(std::wstring::npos, rowOf(dll).find(L"; 5.6.7.8; ")) << testing::PrintToString(rowOf(dll));
    }
    EXPECT_TRUE(rowOf(beyond).ends_with(L"] - Проба сведений о модуле - ООО Корване"));
    EXPECT_TRUE(rowOf(lying).ends_with(L"] - Проба сведений о модуле - ")) << testing::PrintToString(rowOf(lying));
    EXPECT_TRUE(rowOf(cut).ends_with(L"] - Проба сведений о модуле - ООО Корване"));
}
