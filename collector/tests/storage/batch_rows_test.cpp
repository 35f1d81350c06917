// The pure step of storing a batch, without a database: which runs failed to
// start and under which key, and what the rows and daily sums add up to.
#include "collector/storage/batch_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace collector {
namespace {

constexpr std::int64_t kNow = 1765238400 + 3600;  // 09.12.2025 01:00 UTC

FileEntry File(const std::string& name) { return {name, "%SYSTEM%", "4096", "1.0", "", "", "", "Korvane"}; }

Report RunOf(const std::string& program, std::uint32_t exitCode, std::vector<Finding> verdict = {},
           std::optional<std::uint32_t> failExitCode = std::nullopt) {
    Report r;
    r.receivedAt = kNow;
    r.process = {program, "C:\\Demo", "5120", "2.0", "", "", "", ""};
    r.exitCode = exitCode;
    r.failExitCode = failExitCode;
    r.os = "6.1.7601";
    r.files = {File("explorer.exe")};
    r.modules = {File("ntdll.dll"), File("hook.dll"), File("ntdll.dll")};
    r.verdict = std::move(verdict);
    return r;
}

// Ids handed out in order of first asking, one counter per dictionary; the
// keys in `overflowing` all give one id, as the writer gives those past the cap.
struct FakeIds {
    std::map<std::pair<Dictionary, std::string>, std::int64_t> ids;
    std::set<std::string> overflowing;
    std::int64_t Of(Dictionary d, const std::string& key) {
        if (d == Dictionary::Attributes && overflowing.count(key)) return 999;
        return ids.try_emplace({d, key}, static_cast<std::int64_t>(ids.size()) + 1).first->second;
    }
};

TEST(BatchRows, ExitCodesOfTheProgramsOwnAreStartsAndTheExplainingFindingKeysTheGroup) {
    const Finding note{"dll_init_note", "helper.dll", ""};
    const Finding cause{"dll_init_failed", "hook.dll", ""};
    const std::vector<Report> batch = {
        RunOf("parent.exe", 7),                                   // the child's exit code, nothing explains a failure
        RunOf("exit3.exe", 3, {note}),                            // a note alone explains nothing
        RunOf("fails.exe", 0, {note, cause}, 0xC0000142),         // conhost ended last with 0
        RunOf("crash.exe", 0xC0000005),                           // an NTSTATUS error needs no finding
        RunOf("old.exe", 0xC0000142, {{"appinit_dll", "a.dll", ""}}),  // an older client: no failexitcode
    };
    EXPECT_TRUE(IsSuccess(batch[0]));
    EXPECT_TRUE(IsSuccess(batch[1]));
    EXPECT_FALSE(IsSuccess(batch[2]));
    EXPECT_FALSE(IsSuccess(batch[3]));
    EXPECT_FALSE(IsSuccess(batch[4]));
    EXPECT_EQ(SignatureOf(batch[2]), (GroupKey{"fails.exe", "2.0", 0xC0000142, "dll_init_failed", "hook.dll"}));
    EXPECT_EQ(SignatureOf(batch[4]), (GroupKey{"old.exe", "2.0", 0xC0000142, "", ""}));

    std::vector<ReportKeys> keys;
    for (const Report& r : batch) keys.push_back(KeysOf(r));
    FakeIds ids;
    const BatchRows rows = RowsOf(batch, keys, {11, 12, 13, 14, 15},
                                  [&](Dictionary d, const std::string& key) { return ids.Of(d, key); });
    ASSERT_EQ(rows.reports.size(), 5u);
    EXPECT_EQ(rows.reports[0].groupId, 0);
    EXPECT_EQ(rows.reports[0].exitCode, 7);  // shown as it is
    EXPECT_EQ(rows.reports[1].groupId, 0);
    EXPECT_NE(rows.reports[2].groupId, 0);
    EXPECT_EQ(rows.reports[2].failExitCode, 0xC0000142);
    EXPECT_EQ(rows.reports[3].failExitCode, -1);
    EXPECT_EQ(rows.reports[2].moduleFiles, rows.reports[0].moduleFiles);  // the same files, the same ids, in order
    EXPECT_EQ(rows.findings.size(), 4u);
    EXPECT_EQ(rows.findings[2].position, 1);

    const std::int64_t day = DayOf(kNow);
    for (int i = 0; i < 5; ++i) {
        const auto& version = rows.sums.versionDays.at({rows.reports[i].programId, day});
        EXPECT_EQ(version[0], 1) << i;
        EXPECT_EQ(version[1], i < 2 ? 1 : 0) << i;  // successes: the two that started
    }
    EXPECT_EQ(rows.sums.groupDays.size(), 3u);
    // ntdll.dll twice in a report counts once; explorer.exe, ntdll, hook and the OS: four attributes each.
    const std::int64_t ntdll = ids.Of(Dictionary::Attributes, ModuleKey(File("ntdll.dll")));
    EXPECT_EQ(rows.sums.programAttributes.at({rows.reports[0].programId, day, ntdll})[1], 1);
    EXPECT_EQ(rows.sums.groupAttributes.size(), 3u * 4u);
}

TEST(BatchRows, AttributesPastTheCapAreCountedUnderTheOverflowOnce) {
    Report many = RunOf("bomb.exe", 0xC0000005);
    for (int i = 0; i < 50; ++i) many.modules.push_back(File("m" + std::to_string(i) + ".dll"));
    FakeIds ids;
    for (int i = 10; i < 50; ++i) ids.overflowing.insert(ModuleKey(File("m" + std::to_string(i) + ".dll")));
    const BatchRows rows = RowsOf({many}, {KeysOf(many)}, {1},
                                  [&](Dictionary d, const std::string& key) { return ids.Of(d, key); });
    const std::int64_t program = rows.reports[0].programId, day = DayOf(kNow);
    EXPECT_EQ(rows.sums.programAttributes.at({program, day, 999})[0], 1);  // the 40 past the cap, as one failing run
    // explorer.exe, ntdll, hook, ten granted modules, the overflow, the OS.
    EXPECT_EQ(rows.sums.programAttributes.size(), 15u);
    const std::string& listed = rows.reports[0].moduleFiles;
    EXPECT_EQ(std::count(listed.begin(), listed.end(), ' ') + 1, 53);  // every module stays in the raw row
}

}  // namespace
}  // namespace collector
