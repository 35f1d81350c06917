// Benchmark of the store: fills a database with generated reports (40 modules
// and 8 running images each, drawn from shared pools, one planted cause) in
// batches as the ingest writer does, then times the queries the pages make.
// Prints figures; asserts nothing. Usage:
//   collector_store_bench [--reports N] [--batch N] URI...
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "collector/storage/store.h"

namespace {

using namespace collector;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

struct Pools {
    std::vector<FileEntry> modules, images;
    std::vector<FileEntry> programs;
    FileEntry injected{"inject.dll", "C:\\Users\\USER\\AppData\\Roaming\\Hook", "65536", "2.3.0.1", "01.01.2024",
                       "02.01.2024", "Input hook", "Unknown"};
};

Pools MakePools() {
    Pools p;
    for (int i = 0; i < 300; ++i) {
        p.modules.push_back({"module" + std::to_string(i) + ".dll", "C:\\Windows\\system32", std::to_string(40960 + i),
                             "6.1.7601." + std::to_string(i % 7), "20.11.2010", "20.11.2010",
                             "Windows component number " + std::to_string(i), "Microsoft Corporation"});
    }
    for (int i = 0; i < 60; ++i) {
        p.images.push_back({"process" + std::to_string(i) + ".exe", "C:\\Program Files\\Vendor" + std::to_string(i % 9),
                            "204800", "1.0." + std::to_string(i), "01.06.2022", "01.06.2022", "Background service",
                            "Vendor " + std::to_string(i % 9)});
    }
    for (int i = 0; i < 24; ++i) {
        p.programs.push_back({"program" + std::to_string(i / 2) + ".exe", "C:\\Program Files\\App",
                              "1048576", std::to_string(i % 2 + 1) + ".0", "01.01.2025", "01.01.2025", "Application",
                              "Publisher"});
    }
    return p;
}

// Report i of n: about one in eight fails; program0 and program1 fail with exit code
// 0xC0000142 carrying inject.dll nine times in ten, their successes one time in fifty.
Report Generate(const Pools& p, std::mt19937& random, std::int64_t i, std::int64_t n, std::int64_t start) {
    Report r;
    r.receivedAt = start + i * (90 * 86400) / n;
    std::size_t program = random() % p.programs.size();
    r.process = p.programs[program];
    bool fails = random() % 8 == 0;
    r.exitCode = fails ? (random() % 3 ? 0xC0000142u : 0xC0000005u + random() % 3) : 0;  // NTSTATUS errors: failed starts
    if (fails && r.exitCode == 0xC0000142u)
        r.verdict = {{"init-failed", "module" + std::to_string(random() % 4) + ".dll", ""}};
    r.os = random() % 3 ? "6.1.7601" : "10.0.19045";
    for (int k = 0; k < 8; ++k) r.files.push_back(p.images[random() % p.images.size()]);
    for (int k = 0; k < 30; ++k) r.modules.push_back(p.modules[k]);
    for (int k = 0; k < 10; ++k) r.modules.push_back(p.modules[30 + random() % 270]);
    bool planted =
        program / 2 <= 1 && (fails && r.exitCode == 0xC0000142u ? random() % 10 < 9 : !fails && random() % 50 == 0);
    if (planted) r.modules.push_back(p.injected);
    return r;
}

template <class F> void Time(const char* what, F&& query) {
    double best = 1e9, first = 0;
    std::string result;
    for (int run = 0; run < 3; ++run) {
        auto t = Clock::now();
        result = query();
        double s = Seconds(t);
        if (run == 0) first = s;
        best = std::min(best, s);
    }
    std::printf("  %-44s first %8.1f ms, best %8.1f ms  (%s)\n", what, first * 1000, best * 1000, result.c_str());
}

void Bench(const std::string& uri, std::int64_t n, std::int64_t batchSize) {
    std::printf("%s: %lld reports of 40 modules and 8 images, batches of %lld\n", uri.c_str(),
                static_cast<long long>(n), static_cast<long long>(batchSize));
    Store store(uri);
    Pools pools = MakePools();
    std::mt19937 random(42);
    const std::int64_t start = 1760000000 / 86400 * 86400;
    double generating = 0, inserting = 0;
    for (std::int64_t done = 0; done < n;) {
        auto t = Clock::now();
        std::vector<Report> batch;
        for (std::int64_t k = 0; k < batchSize && done < n; ++k, ++done)
            batch.push_back(Generate(pools, random, done, n, start));
        generating += Seconds(t);
        t = Clock::now();
        store.Insert(batch);
        inserting += Seconds(t);
        if (done % (n / 10 > 0 ? n / 10 : 1) < batchSize) {
            std::printf("  ... %lld stored, %.0f reports/s into the store\n", static_cast<long long>(done),
                        done / inserting);
            std::fflush(stdout);
        }
    }
    std::printf("  inserted %lld reports in %.1f s: %.0f reports/s (generating them took %.1f s more)\n",
                static_cast<long long>(n), inserting, n / inserting, generating);

    std::vector<GroupSummary> groups = store.Groups({});
    std::int64_t planted = 0;
    for (const GroupSummary& g : groups) {
        if (!planted && g.key.program == "program0.exe" && g.key.exitCode == 0xC0000142u) planted = g.id;
    }
    Time("Groups (whole period)", [&] { return std::to_string(store.Groups({}).size()) + " groups"; });
    Time("Groups (last 30 days)", [&] {
        return std::to_string(store.Groups({start + 60 * 86400, 0}).size()) + " groups";
    });
    Time("Group page: what differs, planted group", [&] {
        std::optional<GroupDetail> d = store.Group(planted, {});
        if (!d || d->differs.empty()) return std::string("nothing differs");
        const DiffRow& top = d->differs[0];
        return std::to_string(d->summary.count) + " reports, first: " + top.value + " " +
               std::to_string(int(top.groupShare * 100)) + "% against " + std::to_string(int(top.controlShare * 100)) +
               "%, " + std::to_string(d->differs.size()) + " rows";
    });
    Time("Group page: what differs, largest group", [&] {
        std::optional<GroupDetail> d = store.Group(groups.at(0).id, {});
        return std::to_string(d->summary.count) + " reports, " + std::to_string(d->differs.size()) + " rows";
    });
    Time("Modules failing across programs", [&] {
        return std::to_string(store.FailureModulesAcrossPrograms({}).size()) + " modules";
    });
    ReportFilter byModule;
    byModule.module = "inject.dll";
    byModule.limit = 50;
    Time("Reports with inject.dll (50 newest)",
         [&] { return std::to_string(store.Reports(byModule).size()) + " reports"; });
    ReportFilter byProgram;
    byProgram.program = "program5.exe";
    Time("Reports of program5.exe (200 newest)",
         [&] { return std::to_string(store.Reports(byProgram).size()) + " reports"; });
    Time("Report page", [&] { return std::to_string(store.ReportById(n / 2)->modules.size()) + " modules"; });
}

}  // namespace

int main(int argc, char** argv) {
    std::int64_t n = 1000000, batch = 1000;
    std::vector<std::string> uris;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--reports") && i + 1 < argc) n = std::stoll(argv[++i]);
        else if (!std::strcmp(argv[i], "--batch") && i + 1 < argc) batch = std::stoll(argv[++i]);
        else uris.push_back(argv[i]);
    }
    if (uris.empty() || n <= 0 || batch <= 0) {
        std::fprintf(stderr, "usage: %s [--reports N] [--batch N] URI...\n", argv[0]);
        return 2;
    }
    try {
        for (const std::string& uri : uris) Bench(uri, n, batch);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "benchmark failed: %s\n", e.what());
        return 1;
    }
}
