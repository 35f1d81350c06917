// The store's suite, run against SQLite and against the real PostgreSQL
// server that the test command starts (KORVANE_PG_URI): what goes in comes
// back, groups and "what differs" from the aggregates, search, retention,
// failed batches, readers beside the writer, two writing processes.
#include "collector/storage/store.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <pqxx/pqxx>
#include <random>
#include <set>
#include <thread>

#include "collector/storage/pg_db.h"
#include "collector/storage/sqlite_db.h"

namespace collector {
namespace {

constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kNow = 1765238400;  // 09.12.2025 00:00 UTC

FileEntry File(const std::string& name, const std::string& version = "1.0", const std::string& company = "Korvane") {
    return {name, "C:\\Windows\\system32", "4096", version, "01.02.2020", "03.04.2021", "Описание " + name,
            company};
}

Report RunOf(const std::string& program, std::uint32_t exitCode, std::int64_t at,
           std::vector<std::string> modules = {"kernel32.dll", "ntdll.dll"}) {
    Report r;
    r.receivedAt = at;
    r.process = {program, "C:\\Program Files\\Demo", "5120", "2.0", "05.03.2013", "06.03.2013", "Демо", "Demo Ltd"};
    r.exitCode = exitCode;
    r.os = "6.1.7601";
    r.files = {File("explorer.exe"), File(program, "2.0")};
    for (const std::string& m : modules) r.modules.push_back(File(m));
    if (exitCode == 0xC0000142) r.verdict = {{"init-failed", "bad.dll", "DllMain вернула FALSE"}};
    return r;
}

template <class Set> ReportFilter Filter(Set set) {
    ReportFilter filter;
    set(filter);
    return filter;
}

class StoreTest : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        static int counter = 0;
        std::string name = "korvane_test_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
        if (GetParam() == "sqlite") {
            folder_ = std::filesystem::temp_directory_path() / name;
            std::filesystem::create_directories(folder_);
            uri_ = "sqlite:" + (folder_ / "reports.db").string();
        } else {
            const char* server = std::getenv("KORVANE_PG_URI");
            if (!server || !*server) GTEST_SKIP() << "KORVANE_PG_URI is not set: no PostgreSQL server to test against";
            server_ = server;
            pqxx::connection c(server_);
            pqxx::nontransaction(c).exec("CREATE DATABASE " + name);
            database_ = name;
            uri_ = server_.substr(0, server_.rfind('/') + 1) + name;
        }
        store_ = std::make_unique<Store>(uri_);
    }

    void TearDown() override {
        store_.reset();
        if (!folder_.empty()) std::filesystem::remove_all(folder_);
        if (!database_.empty()) {
            pqxx::connection c(server_);
            pqxx::nontransaction(c).exec("DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)");
        }
    }

    // A count straight from the tables, to see what is stored how often.
    std::int64_t Count(const std::string& sql) {
        if (GetParam() == "sqlite") return SqliteDb(uri_.substr(7)).Query(sql).at(0).Int(0);
        return PgDb(uri_).Query(sql).at(0).Int(0);
    }

    std::vector<Report> Insert(std::vector<Report> batch) {
        store_->Insert(batch);
        return batch;
    }

    std::filesystem::path folder_;
    std::string server_, database_, uri_;
    std::unique_ptr<Store> store_;
};

TEST_P(StoreTest, EveryFactComesBackAndEachFileIsStoredOnce) {
    Report hostile = RunOf("demo.exe", 0xC0000142, kNow + 10);
    hostile.exitCode = 0;  // conhost.exe ended last
    hostile.failExitCode = 0xC0000142;
    hostile.modules.push_back({"tab\there.dll", "C:\\a\\b\\", "", "1,0\\N", "", "", "line\nfeed <script>'\"", "A;B"});
    hostile.verdict.push_back({"second", "x.dll", std::string("nul\0byte", 8)});
    std::string longName;  // beyond what PostgreSQL indexes, and not compressible
    for (std::mt19937 random(1); longName.size() < 20000;) longName += static_cast<char>('a' + random() % 26);
    hostile.modules.push_back(File(longName));
    hostile.modules.push_back(File("x\xFF.dll"));  // invalid UTF-8: both are stored as "x\uFFFD.dll"
    hostile.modules.push_back(File("x\xFE.dll"));
    std::vector<Report> stored = Insert({RunOf("demo.exe", 0, kNow), hostile, RunOf("other.exe", 0, kNow + 20)});
    std::set<std::int64_t> ids;
    for (const Report& r : stored) ids.insert(r.id);
    ASSERT_EQ(ids.size(), 3u);
    EXPECT_EQ(ids.count(0), 0u);

    std::optional<Report> back = store_->ReportById(stored[1].id);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->receivedAt, kNow + 10);
    EXPECT_EQ(back->exitCode, 0u);
    EXPECT_EQ(back->failExitCode, 0xC0000142u);
    EXPECT_FALSE(store_->ReportById(stored[0].id)->failExitCode);
    EXPECT_EQ(back->os, "6.1.7601");
    EXPECT_EQ(back->process.description, "Демо");
    ASSERT_EQ(back->modules.size(), 6u);
    EXPECT_EQ(back->modules[3].name, longName);
    EXPECT_EQ(back->modules[4].name, "x\xEF\xBF\xBD.dll");
    EXPECT_EQ(back->modules[5].name, back->modules[4].name);
    EXPECT_EQ(back->modules[2].name, "tab\there.dll");
    EXPECT_EQ(back->modules[2].productVersion, "1,0\\N");
    EXPECT_EQ(back->modules[2].description, "line\nfeed <script>'\"");
    EXPECT_EQ(back->modules[2].company, "A;B");
    ASSERT_EQ(back->files.size(), 2u);
    EXPECT_EQ(back->files[1].name, "demo.exe");
    ASSERT_EQ(back->verdict.size(), 2u);
    EXPECT_EQ(back->verdict[0].detail, "DllMain вернула FALSE");
    EXPECT_EQ(back->verdict[1].detail, "nul\xEF\xBF\xBD" "byte");  // NUL is not storable in PostgreSQL text
    EXPECT_NE(back->groupId, 0);
    EXPECT_EQ(store_->ReportById(stored[0].id)->groupId, 0);
    EXPECT_FALSE(store_->ReportById(12345678));

    // kernel32.dll, ntdll.dll, explorer.exe, the three hostile DLLs, and each
    // program as its image and as the launched file (other folder): once each.
    EXPECT_EQ(Count("SELECT COUNT(*) FROM files"), 10);
    Insert({RunOf("demo.exe", 0, kNow + 30)});
    EXPECT_EQ(Count("SELECT COUNT(*) FROM files"), 10);
}

TEST_P(StoreTest, GroupsCountRatesTrendsAndNewness) {
    std::vector<Report> batch;
    for (int i = 0; i < 6; ++i) batch.push_back(RunOf("demo.exe", 0, kNow - 3 * kDay + i));
    for (int i = 0; i < 3; ++i) batch.push_back(RunOf("demo.exe", 0xC0000142, kNow - 3 * kDay + 100 + i));
    batch.push_back(RunOf("demo.exe", 0xC0000142, kNow - kDay + 5));
    batch.push_back(RunOf("demo.exe", 0xC0000005, kNow - 10 * kDay));
    Report withFinding = RunOf("demo.exe", 0, kNow);  // exit code 0 with a finding fails too
    withFinding.verdict = {{"missing-import", "gone.dll", ""}};
    batch.push_back(withFinding);
    Insert(batch);

    Period week{kNow - 7 * kDay, kNow + kDay};
    std::vector<GroupSummary> groups = store_->Groups(week);
    ASSERT_EQ(groups.size(), 2u);
    const GroupSummary& g = groups[0];
    EXPECT_EQ(g.key, (GroupKey{"demo.exe", "2.0", 0xC0000142, "init-failed", "bad.dll"}));
    EXPECT_EQ(g.count, 4);
    EXPECT_EQ(g.versionRuns, 11);
    EXPECT_DOUBLE_EQ(g.failureRate, 4.0 / 11);
    EXPECT_EQ(g.firstSeen, kNow - 3 * kDay + 100);
    EXPECT_EQ(g.lastSeen, kNow - kDay + 5);
    ASSERT_EQ(g.perDay.size(), 8u);
    EXPECT_EQ(g.perDay[4].day, kNow - 3 * kDay);
    EXPECT_EQ(g.perDay[4].count, 3);
    EXPECT_EQ(g.perDay[5].count, 0);
    EXPECT_EQ(g.perDay[6].count, 1);
    EXPECT_TRUE(g.isNew);
    EXPECT_EQ(g.osVersions, (std::vector<std::pair<std::string, std::int64_t>>{{"6.1.7601", 4}}));
    EXPECT_EQ(groups[1].key.findingModule, "gone.dll");

    std::vector<GroupSummary> all = store_->Groups({});
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[1].count + all[2].count, 2);
    EXPECT_FALSE(store_->Groups({kNow - 2 * kDay, 0})[0].isNew);  // seen three days ago

    std::optional<GroupDetail> detail = store_->Group(g.id, week);
    ASSERT_TRUE(detail);
    EXPECT_EQ(detail->summary.count, 4);
    EXPECT_EQ(detail->reports.size(), 4u);
    EXPECT_TRUE(detail->controlIsAllPrograms);  // 6 successes of demo.exe are too few
    EXPECT_FALSE(store_->Group(987654, week));
}

TEST_P(StoreTest, WhatDiffersFindsThePlantedModule) {
    std::mt19937 random(7);
    std::vector<Report> batch;
    for (int i = 0; i < 400; ++i) {
        bool fails = i < 100;
        std::vector<std::string> modules = {"kernel32.dll", "ntdll.dll"};
        if (random() % 2) modules.push_back("uxtheme.dll");
        if (fails ? i < 90 : i % 25 == 1) modules.push_back("inject.dll");
        batch.push_back(RunOf(i % 2 ? "demo.exe" : "tool.exe", fails ? 0xC0000142 : 0, kNow + i, modules));
    }
    Insert(batch);
    std::vector<GroupSummary> groups = store_->Groups({});
    ASSERT_EQ(groups.size(), 2u);
    for (const GroupSummary& g : groups) {
        std::optional<GroupDetail> detail = store_->Group(g.id, {});
        ASSERT_TRUE(detail);
        EXPECT_FALSE(detail->controlIsAllPrograms);
        ASSERT_FALSE(detail->differs.empty()) << g.key.program;
        EXPECT_EQ(detail->differs[0].dimension, "module");
        EXPECT_EQ(detail->differs[0].value, "inject.dll 1.0");
        EXPECT_EQ(detail->differs[0].groupCount, 45);
        EXPECT_EQ(detail->differs[0].controlTotal, 150);
        EXPECT_EQ(detail->differs[0].controlCount, 6);
        EXPECT_EQ(detail->differs.size(), 1u);
    }
    std::vector<DiffRow> across = store_->FailureModulesAcrossPrograms({});
    ASSERT_EQ(across.size(), 1u);
    EXPECT_EQ(across[0].value, "inject.dll 1.0");
    EXPECT_EQ(across[0].programs, 2);
}

TEST_P(StoreTest, SearchByProgramModuleCompanyImageExitCodeAndPeriod) {
    Report cyrillic = RunOf("Программа.exe", 0xC0000142, kNow + 2, {"kernel32.dll", "Модуль.DLL"});
    cyrillic.modules[1].company = "ООО Ромашка";
    std::vector<Report> stored = Insert({RunOf("demo.exe", 0, kNow), RunOf("demo.exe", 1, kNow + 1), cyrillic});
    using Ids = std::vector<std::int64_t>;
    auto ids = [&](auto set) {
        Ids out;
        for (const ReportSummary& s : store_->Reports(Filter(set))) out.push_back(s.id);
        return out;
    };
    const std::int64_t a = stored[0].id, b = stored[1].id, c = stored[2].id;
    using F = ReportFilter;
    EXPECT_EQ(ids([](F&) {}), (Ids{c, b, a}));
    EXPECT_EQ(ids([](F& f) { f.program = "DEMO.EXE"; }), (Ids{b, a}));
    EXPECT_EQ(ids([](F& f) { f.program = "программа.EXE"; }), (Ids{c}));
    EXPECT_EQ(ids([](F& f) { f.module = "модуль.dll"; }), (Ids{c}));
    EXPECT_EQ(ids([](F& f) { f.module = "KERNEL32.DLL", f.limit = 1, f.offset = 1; }), (Ids{b}));
    EXPECT_EQ(ids([](F& f) { f.module = "absent.dll"; }), (Ids{}));
    EXPECT_EQ(ids([](F& f) { f.company = "ооо ромашка"; }), (Ids{c}));
    EXPECT_EQ(ids([](F& f) { f.image = "explorer.exe", f.exitCode = 1; }), (Ids{b}));
    EXPECT_EQ(ids([](F& f) { f.period = {kNow + 1, kNow + 2}; }), (Ids{b}));
    EXPECT_EQ(ids([](F& f) { f.limit = 2, f.offset = 1; }), (Ids{b, a}));

    std::vector<ReportSummary> failing = store_->Reports(Filter([](ReportFilter& f) { f.exitCode = 0xC0000142; }));
    ASSERT_EQ(failing.size(), 1u);
    EXPECT_EQ(failing[0].program, "Программа.exe");
    EXPECT_EQ(failing[0].findingKind, "init-failed");
    EXPECT_NE(failing[0].groupId, 0);
    EXPECT_EQ(store_->Reports(Filter([](ReportFilter& f) { f.program = "demo.exe"; f.exitCode = 0; }))[0].groupId, 0);
}

TEST_P(StoreTest, RetentionDropsOldReportsAndKeepsAggregates) {
    std::vector<Report> stored = Insert({RunOf("demo.exe", 0xC0000005, kNow - 100 * kDay),
                                         RunOf("demo.exe", 0xC0000005, kNow - 89 * kDay),
                                         RunOf("demo.exe", 0, kNow - 100 * kDay)});
    store_->DropExpired(kNow);
    EXPECT_FALSE(store_->ReportById(stored[0].id));
    EXPECT_FALSE(store_->ReportById(stored[2].id));
    EXPECT_TRUE(store_->ReportById(stored[1].id));
    std::vector<GroupSummary> groups = store_->Groups({});
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].count, 2);
    EXPECT_EQ(groups[0].versionRuns, 3);
    EXPECT_EQ(groups[0].firstSeen, kNow - 100 * kDay);
    if (GetParam() == "postgres") {
        EXPECT_EQ(Count("SELECT COUNT(*) FROM pg_inherits WHERE inhparent = 'reports'::regclass"), 1);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM pg_inherits WHERE inhparent = 'report_findings'::regclass"), 1);
    }
    // A new report of a dropped day makes its partition again.
    Insert({RunOf("demo.exe", 0xC0000005, kNow - 100 * kDay + 50)});
    EXPECT_EQ(store_->Groups({})[0].count, 3);
}

TEST_P(StoreTest, FailedBatchStoresNothing) {
    Insert({RunOf("demo.exe", 0, kNow)});
    if (GetParam() == "sqlite") SqliteDb(uri_.substr(7)).Exec("DROP TABLE report_findings");
    else PgDb(uri_).Exec("DROP TABLE report_findings");
    std::vector<Report> batch = {RunOf("demo.exe", 0, kNow + 1), RunOf("new.exe", 0xC0000142, kNow + 2, {"fresh.dll"})};
    EXPECT_ANY_THROW(store_->Insert(batch));
    EXPECT_EQ(batch[0].id, 0);
    EXPECT_EQ(store_->Reports({}).size(), 1u);
    EXPECT_TRUE(store_->Groups({}).empty());
    EXPECT_EQ(Count("SELECT COUNT(*) FROM files WHERE name = 'fresh.dll'"), 0);
}

TEST_P(StoreTest, QueriesRunWhileTheWriterInserts) {
    std::atomic<bool> done = false;
    std::atomic<int> failures = 0;
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            while (!done) {
                try {
                    for (const GroupSummary& g : store_->Groups({})) {
                        if (g.count > g.versionRuns) ++failures;  // one snapshot per query
                        store_->Group(g.id, {});
                    }
                    store_->Reports(Filter([](ReportFilter& f) { f.module = "ntdll.dll"; }));
                } catch (const std::exception& e) {
                    ADD_FAILURE() << e.what();
                    ++failures;
                }
            }
        });
    }
    for (int b = 0; b < 20; ++b) {
        std::vector<Report> batch;
        for (int i = 0; i < 25; ++i) batch.push_back(RunOf("demo.exe", i % 5 ? 0 : 0xC0000005, kNow + b * 100 + i));
        store_->Insert(batch);
    }
    done = true;
    for (std::thread& t : readers) t.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(store_->Groups({}).at(0).count, 100);
}

TEST_P(StoreTest, SettingsKeepTheLastValue) {
    EXPECT_FALSE(store_->Setting("login"));
    store_->SetSetting("login", "hash-1");
    store_->SetSetting("login", "hash-2");
    EXPECT_EQ(store_->Setting("login"), "hash-2");
}

// Two processes of this program insert into one database at once, with the
// same dictionary rows and days new to both: no report is lost, no id repeats.
// (Several collectors share PostgreSQL; SQLite's file locks serialize them too.)
TEST_P(StoreTest, TwoWritingProcessesLoseNoReport) {
    constexpr int kBatches = 30, kPerBatch = 40;
    std::vector<pid_t> children;
    for (int p = 0; p < 2; ++p) {
        pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            int status = 0;
            try {
                Store own(uri_);
                for (int b = 0; b < kBatches; ++b) {
                    std::vector<Report> batch;
                    for (int i = 0; i < kPerBatch; ++i) {
                        std::string module = "shared" + std::to_string((b + i) % 7) + ".dll";
                        batch.push_back(RunOf("demo.exe", i % 4 ? 0 : 0xC0000005, kNow + (b % 5) * kDay + i,
                                            {"ntdll.dll", module}));
                    }
                    own.Insert(batch);
                }
            } catch (const std::exception& e) {
                fprintf(stderr, "writer %d: %s\n", p, e.what());
                status = 1;
            }
            _exit(status);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::int64_t total = 2 * kBatches * kPerBatch;
    EXPECT_EQ(Count("SELECT COUNT(*) FROM reports"), total);
    EXPECT_EQ(Count("SELECT COUNT(DISTINCT id) FROM reports"), total);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM files WHERE name = 'shared3.dll'"), 1);
    std::vector<GroupSummary> groups = store_->Groups({});
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].count, total / 4);
    EXPECT_EQ(groups[0].versionRuns, total);
}

// Retention takes the files no kept report names (the sums stay); a file
// seen again later is kept for the later report.
TEST_P(StoreTest, RetentionTakesTheFilesOfDroppedReportsOnly) {
    Insert({RunOf("demo.exe", 0xC0000005, kNow - 100 * kDay, {"old.dll", "again.dll"})});
    std::vector<Report> kept = Insert({RunOf("demo.exe", 0, kNow - 2 * kDay, {"again.dll"})});
    store_->DropExpired(kNow);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM files WHERE name = 'old.dll'"), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM files WHERE name = 'again.dll'"), 1);
    EXPECT_EQ(store_->ReportById(kept[0].id)->modules.at(0).name, "again.dll");
    EXPECT_EQ(store_->Groups({}).at(0).count, 1);
    // A file dropped with its report comes back with the next report that has it.
    std::vector<Report> back = Insert({RunOf("demo.exe", 0, kNow, {"old.dll"})});
    EXPECT_EQ(store_->ReportById(back[0].id)->modules.at(0).name, "old.dll");
}

// One program's reports may add only so many new attributes a day; the rest
// are counted under the overflow attribute, and the reports keep every module.
TEST_P(StoreTest, NewAttributesPastTheDailyCapAreCountedUnderTheOverflow) {
    StoreOptions capped;
    capped.newAttributesPerProgramDay = 10;
    capped.writerCacheBytes = 1;  // forgotten after every batch: each key is looked up again
    Store store(uri_, capped);
    auto bomb = [](int from, std::int64_t at) {
        std::vector<std::string> names;
        for (int i = from; i < from + 60; ++i) names.push_back("bomb" + std::to_string(i) + ".dll");
        return RunOf("bomb.exe", 0xC0000005, at, names);
    };
    std::vector<Report> batch = {bomb(0, kNow), bomb(100, kNow + 1)};
    store.Insert(batch);
    // The OS and the two images take three of the ten.
    EXPECT_EQ(Count("SELECT COUNT(*) FROM attributes WHERE dimension = 'module' AND value LIKE 'bomb%'"), 7);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM attributes WHERE dimension = 'module' AND value = '" +
                    std::string(kOverflowAttribute) + "'"),
              1);
    EXPECT_EQ(Count("SELECT SUM(pa.failures) FROM program_attributes pa JOIN attributes a ON a.id = pa.attribute_id "
                    "WHERE a.value = '" + std::string(kOverflowAttribute) + "'"),
              2);
    EXPECT_EQ(store.ReportById(batch[1].id)->modules.size(), 60u);
    std::vector<Report> nextDay = {bomb(200, kNow + kDay)};
    store.Insert(nextDay);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM attributes WHERE dimension = 'module' AND value LIKE 'bomb%'"), 17);
}

// Two instances on one store: the first secret written stands, and a session
// revoked by one is revoked for the other until it expires.
TEST_P(StoreTest, SettingsWrittenOnceAndRevokedSessionsAreShared) {
    Store other(uri_);
    EXPECT_EQ(store_->SetSettingOnce("secret", "first"), "first");
    EXPECT_EQ(other.SetSettingOnce("secret", "second"), "first");
    EXPECT_EQ(other.Setting("secret"), "first");
    other.RevokeSession("d1", kNow + 100, kNow);
    EXPECT_TRUE(store_->SessionRevoked("d1"));
    EXPECT_FALSE(store_->SessionRevoked("d2"));
    store_->RevokeSession("d2", kNow + 500, kNow + 200);  // d1 has expired by then
    EXPECT_FALSE(other.SessionRevoked("d1"));
    EXPECT_TRUE(other.SessionRevoked("d2"));
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreTest, testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace collector
