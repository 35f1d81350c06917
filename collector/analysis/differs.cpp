// Statistics of "what differs": 2x2 tests, the Bonferroni correction, the
// count and share rules, and the ranking.
#include "collector/analysis/differs.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

namespace collector {

namespace {

double LogChoose(std::int64_t n, std::int64_t k) {
    return std::lgamma(double(n) + 1) - std::lgamma(double(k) + 1) - std::lgamma(double(n - k) + 1);
}

// Fisher's exact test: the probability of every table with the same margins
// that is no more likely than the one observed.
double FisherPValue(std::int64_t a, std::int64_t n1, std::int64_t c, std::int64_t n2) {
    const std::int64_t column = a + c, total = n1 + n2;
    auto logP = [&](std::int64_t x) { return LogChoose(n1, x) + LogChoose(n2, column - x) - LogChoose(total, column); };
    const double observed = logP(a);
    double p = 0;
    for (std::int64_t x = std::max<std::int64_t>(0, column - n2); x <= std::min(n1, column); ++x) {
        double lp = logP(x);
        if (lp <= observed + 1e-7) p += std::exp(lp);
    }
    return std::min(1.0, p);
}

double Share(std::int64_t count, std::int64_t total) { return total > 0 ? double(count) / double(total) : 0; }

}  // namespace

double TwoByTwoPValue(std::int64_t a, std::int64_t n1, std::int64_t c, std::int64_t n2) {
    const double b = double(n1 - a), d = double(n2 - c), total = double(n1 + n2);
    const double with = double(a + c), without = b + d;
    if (n1 <= 0 || n2 <= 0 || with <= 0 || without <= 0) return 1;
    const double smallestExpected = std::min(n1, n2) * std::min(with, without) / total;
    if (smallestExpected < 5) return FisherPValue(a, n1, c, n2);
    const double diff = std::max(0.0, std::fabs(double(a) * d - b * double(c)) - total / 2);
    const double chi2 = total * diff * diff / (double(n1) * double(n2) * with * without);
    return std::erfc(std::sqrt(chi2 / 2));  // one degree of freedom
}

std::vector<DiffRow> WhatDiffers(const std::vector<AttributeCount>& counts, std::int64_t groupTotal,
                                 std::int64_t controlTotal, const DiffRules& rules) {
    std::vector<DiffRow> rows;
    if (groupTotal <= 0 || controlTotal <= 0) return rows;
    const double tried = double(std::max<std::size_t>(1, counts.size()));
    for (const AttributeCount& c : counts) {
        DiffRow row{c.dimension, c.value, c.groupCount, groupTotal, c.controlCount, controlTotal,
                    Share(c.groupCount, groupTotal), Share(c.controlCount, controlTotal)};
        const std::int64_t higherSide = row.groupShare >= row.controlShare ? c.groupCount : c.controlCount;
        if (higherSide < rules.minCount) continue;
        if (std::fabs(row.groupShare - row.controlShare) < rules.minShareDifference) continue;
        row.pValue = std::min(1.0, TwoByTwoPValue(c.groupCount, groupTotal, c.controlCount, controlTotal) * tried);
        if (row.pValue >= rules.alpha) continue;
        rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end(), [](const DiffRow& x, const DiffRow& y) {
        double dx = std::fabs(x.groupShare - x.controlShare), dy = std::fabs(y.groupShare - y.controlShare);
        if (dx != dy) return dx > dy;
        if (x.pValue != y.pValue) return x.pValue < y.pValue;
        return std::tie(x.dimension, x.value) < std::tie(y.dimension, y.value);
    });
    return rows;
}

std::vector<DiffRow> ModulesFailingAcrossPrograms(const std::vector<ProgramCounts>& programs, const DiffRules& rules) {
    std::map<std::string, DiffRow> byModule;
    for (const ProgramCounts& p : programs) {
        if (p.successes < kMinControlRuns) continue;
        for (const DiffRow& d : WhatDiffers(p.modules, p.failures, p.successes, rules)) {
            if (d.groupShare <= d.controlShare) continue;
            DiffRow& sum = byModule.try_emplace(d.value, DiffRow{d.dimension, d.value}).first->second;
            sum.groupCount += d.groupCount;
            sum.groupTotal += d.groupTotal;
            sum.controlCount += d.controlCount;
            sum.controlTotal += d.controlTotal;
            sum.pValue = sum.programs == 0 ? d.pValue : std::max(sum.pValue, d.pValue);
            ++sum.programs;
        }
    }
    std::vector<DiffRow> rows;
    for (auto& [value, row] : byModule) {
        if (row.programs < 2) continue;
        row.groupShare = Share(row.groupCount, row.groupTotal);
        row.controlShare = Share(row.controlCount, row.controlTotal);
        rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end(), [](const DiffRow& x, const DiffRow& y) {
        if (x.programs != y.programs) return x.programs > y.programs;
        return x.groupShare - x.controlShare > y.groupShare - y.controlShare;
    });
    return rows;
}

}  // namespace collector
