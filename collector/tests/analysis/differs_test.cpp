// "What differs" over generated counts: a planted cause is found first, noise
// alone gives nothing, and each rule (count, share, correction) holds.
#include "collector/analysis/differs.h"

#include <gtest/gtest.h>

#include <random>

namespace collector {
namespace {

// Reports of one program: 60 ordinary modules with the same frequency among
// failures and successes, and optionally one planted module.
struct Generated {
    std::vector<AttributeCount> counts;
    std::int64_t failures = 400, successes = 2000;
};

Generated Generate(bool planted, unsigned seed) {
    Generated g;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(0, 1);
    auto present = [&](double share, std::int64_t runs) {
        std::int64_t n = 0;
        for (std::int64_t i = 0; i < runs; ++i) n += uniform(random) < share;
        return n;
    };
    for (int m = 0; m < 60; ++m) {
        double share = 0.05 + 0.9 * uniform(random);
        g.counts.push_back({"module", "common" + std::to_string(m) + ".dll 1.0", present(share, g.failures),
                            present(share, g.successes)});
    }
    if (planted) g.counts.push_back({"module", "inject.dll 2.3", present(0.9, g.failures), present(0.02, g.successes)});
    return g;
}

TEST(WhatDiffers, PlantedCauseIsFoundFirstAndNoiseAloneGivesNothing) {
    for (unsigned seed = 1; seed <= 20; ++seed) {
        Generated with = Generate(true, seed);
        std::vector<DiffRow> rows = WhatDiffers(with.counts, with.failures, with.successes);
        ASSERT_FALSE(rows.empty()) << "seed " << seed;
        EXPECT_EQ(rows[0].value, "inject.dll 2.3") << "seed " << seed;
        EXPECT_NEAR(rows[0].groupShare, 0.9, 0.06);
        EXPECT_NEAR(rows[0].controlShare, 0.02, 0.02);
        EXPECT_LT(rows[0].pValue, 1e-10);

        Generated without = Generate(false, seed);
        EXPECT_TRUE(WhatDiffers(without.counts, without.failures, without.successes).empty()) << "seed " << seed;
    }
}

TEST(WhatDiffers, EachRuleDropsWhatFailsIt) {
    std::vector<AttributeCount> counts = {
        {"module", "few.dll 1", 4, 0},         // 100% against 0%, but seen only 4 times
        {"module", "close.dll 1", 60, 500},    // 60% against 50%: under 15 points
        {"image", "inject.exe", 95, 30},       // 95% against 3%
        {"os", "6.1.7601", 10, 900},           // 10% against 90%: less frequent in failures
    };
    std::vector<DiffRow> rows = WhatDiffers(counts, 100, 1000);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].value, "inject.exe");
    EXPECT_EQ(rows[0].groupCount, 95);
    EXPECT_EQ(rows[0].controlTotal, 1000);
    EXPECT_DOUBLE_EQ(rows[0].controlShare, 0.03);
    EXPECT_EQ(rows[1].value, "6.1.7601");

    // 8 of 20 against 1 of 20 passes alone (Fisher p = 0.02) but not once 10 attributes were tried.
    std::vector<AttributeCount> one = {{"module", "m.dll 1", 8, 1}};
    EXPECT_EQ(WhatDiffers(one, 20, 20).size(), 1u);
    std::vector<AttributeCount> ten(10, one[0]);
    EXPECT_TRUE(WhatDiffers(ten, 20, 20).empty());
}

TEST(WhatDiffers, TestsMatchPublishedValues) {
    // Fisher's tea-tasting table 3/4 against 1/4: p = 34/70.
    EXPECT_NEAR(TwoByTwoPValue(3, 4, 1, 4), 0.485714, 1e-5);
    // 8 of 20 against 1 of 20: Fisher p = 0.0202.
    EXPECT_NEAR(TwoByTwoPValue(8, 20, 1, 20), 0.0202, 1e-3);
    // 60/100 against 40/100, chi-squared with Yates' correction: 7.22, p = 0.00721.
    EXPECT_NEAR(TwoByTwoPValue(60, 100, 40, 100), 0.00721, 1e-4);
    EXPECT_DOUBLE_EQ(TwoByTwoPValue(5, 10, 0, 0), 1.0);
}

TEST(WhatDiffers, ModuleFailingWithSeveralProgramsIsListedOnce) {
    auto program = [](const std::string& name, std::int64_t injectedFailures) {
        ProgramCounts p{name, 100, 500, {{"module", "inject.dll 2.3", injectedFailures, 10},
                                         {"module", "kernel32.dll 6.1", 100, 500}}};
        return p;
    };
    std::vector<ProgramCounts> programs = {program("a.exe", 80), program("b.exe", 70), program("c.exe", 2),
                                           {"d.exe", 100, 5, {{"module", "lonely.dll 1", 90, 0}}}};
    programs.push_back({"e.exe", 100, 500, {{"module", "lonely.dll 1", 90, 0}}});
    std::vector<DiffRow> rows = ModulesFailingAcrossPrograms(programs);
    ASSERT_EQ(rows.size(), 1u);  // lonely.dll: d.exe has too few successes of its own
    EXPECT_EQ(rows[0].value, "inject.dll 2.3");
    EXPECT_EQ(rows[0].programs, 2);
    EXPECT_EQ(rows[0].groupCount, 150);
    EXPECT_EQ(rows[0].groupTotal, 200);
    EXPECT_EQ(rows[0].controlCount, 20);
}

}  // namespace
}  // namespace collector
