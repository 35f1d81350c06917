// "What differs": which attributes (modules, running images, OS versions) are
// more or less frequent in a failure group's reports than in successful runs,
// over plain counts. No database here.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "collector/core/views.h"

namespace collector {

// How often one attribute was present among the group's reports and among the
// control runs (reports, not occurrences).
struct AttributeCount {
    std::string dimension;
    std::string value;
    std::int64_t groupCount = 0;
    std::int64_t controlCount = 0;
};

struct DiffRules {
    std::int64_t minCount = 5;          // reports with the attribute, on the side where it is more frequent
    double minShareDifference = 0.15;   // 15 points
    double alpha = 0.05;                // after the Bonferroni correction
};

// A program's own successful runs are the control when there are at least
// this many; with fewer, all successful runs stand in.
inline constexpr std::int64_t kMinControlRuns = 20;

// Two-sided p-value of the 2x2 table (a of n1 against c of n2): Fisher's exact
// test when an expected cell is under 5, otherwise chi-squared with Yates'
// continuity correction.
double TwoByTwoPValue(std::int64_t a, std::int64_t n1, std::int64_t c, std::int64_t n2);

// The attributes that pass the rules, strongest (largest share difference) first.
// Every attribute in `counts` counts as tried for the correction.
std::vector<DiffRow> WhatDiffers(const std::vector<AttributeCount>& counts, std::int64_t groupTotal,
                                 std::int64_t controlTotal, const DiffRules& rules = {});

// One program's failing runs (all its groups) against its successful runs.
struct ProgramCounts {
    std::string program;
    std::int64_t failures = 0;
    std::int64_t successes = 0;
    std::vector<AttributeCount> modules;
};

// Modules more frequent in failures than in successes for at least two
// programs (each with at least kMinControlRuns successes), most programs
// first. Counts are summed over those programs; pValue is the weakest of theirs.
std::vector<DiffRow> ModulesFailingAcrossPrograms(const std::vector<ProgramCounts>& programs,
                                                  const DiffRules& rules = {});

}  // namespace collector
