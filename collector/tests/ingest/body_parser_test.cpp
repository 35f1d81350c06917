// The parser against zar.exe's own form builder: what zar.exe sends reads back
// fact for fact, and a body that cannot be read in exactly one way is refused
// whole.
#include <gtest/gtest.h>

#include <iterator>
#include <random>

#include "collector/ingest/body_parser.h"
#include "collector/ingest/user_names.h"
#include "collector/tests/support/upload_bodies.h"
#include "report/upload_body.h"

namespace collector {
namespace {

using testing::BodyOf;
using testing::ReportText;
using testing::SampleReport;
using testing::SemicolonBodyOf;

std::string ReadBack(const std::string& body) {
    ParsedBody parsed = ParseUploadBody(body);
    return parsed.report ? ReportText(*parsed.report) : "refused: " + parsed.reason;
}

TEST(ParseUploadBody, ReadsTheBodyOfTheUploadsExampleExactly) {
    const std::string body =
        "process=demo.exe;C:\\Demo;5120;;05.03.2013;06.03.2013;;&exitcode=0&separator=;&OS=6.1.7601"
        "&files=&modules=demo.exe;C:\\Demo;5120;;05.03.2013;06.03.2013;;\n";
    ASSERT_EQ(body.size(), 152u);
    EXPECT_EQ(ReadBack(body),
              "process demo.exe;C:\\Demo;5120;;05.03.2013;06.03.2013;;\nexit 0\nos 6.1.7601\n"
              "module demo.exe;C:\\Demo;5120;;05.03.2013;06.03.2013;;\n");
}

TEST(ParseUploadBody, ReadsBackWhatZarBuildsWithAndWithoutAVerdict) {
    Report sample = SampleReport();
    EXPECT_EQ(ReadBack(BodyOf(sample, true)), ReportText(sample));
    EXPECT_NE(BodyOf(sample, true).find("1.0%2Bbeta"), std::string::npos);
    Report noVerdict = sample;
    noVerdict.verdict.clear();
    EXPECT_EQ(ReadBack(BodyOf(sample, false)), ReportText(noVerdict));
    EXPECT_EQ(ReadBack(BodyOf(noVerdict, true)), ReportText(noVerdict));  // "&verdict=" with no entry

    Report failed = sample;  // the code of the process the finding names
    failed.failExitCode = 0xC0000135;
    EXPECT_EQ(ReadBack(BodyOf(failed, true)), ReportText(failed));
    EXPECT_NE(BodyOf(failed, true).find("&failexitcode=3221225781"), std::string::npos);
    EXPECT_EQ(ReadBack(BodyOf(failed, true) + "\n"), ReportText(failed));

    Report bare = SampleReport(0, 0);  // "&files=&modules=" and nothing after
    bare.verdict.clear();
    EXPECT_EQ(ReadBack(BodyOf(bare, false)), ReportText(bare));
    bare.verdict = sample.verdict;  // "&modules=&verdict=..."
    EXPECT_EQ(ReadBack(BodyOf(bare, true)), ReportText(bare));
}

// Texts of every byte but the separator and the line feed, piece names
// included, read back exactly.
TEST(ParseUploadBody, ReadsBackRandomTextsOfEveryOtherByte) {
    std::mt19937 random(14);
    const std::string alphabet = testing::EncodeWindows1251("АЯаяЁё№€«» \t\r&=%+?\\/.:") + "\x01\x7F\xC0\xFF";
    std::vector<std::string> pieces = {"&files=", "&modules=", "&verdict=", "&exitcode=1&separator=", "&OS="};
    auto text = [&] {
        std::string bytes;
        for (std::size_t n = random() % 12; n > 0; --n) {
            if (random() % 8 == 0) bytes += pieces[random() % pieces.size()];
            else bytes += alphabet[random() % alphabet.size()];
        }
        return bytes;
    };
    for (int round = 0; round < 300; ++round) {
        auto line = [&](std::size_t fields) {
            std::string entry = "x" + text();  // no entry starts with a piece name
            for (std::size_t i = 1; i < fields; ++i) entry += ";" + text();
            return entry;
        };
        std::vector<std::string> files(random() % 4), modules(random() % 4);
        for (std::string& entry : files) entry = line(8);
        for (std::string& entry : modules) entry = line(8);
        std::string raw = BuildUploadBody(line(8), random(), "10.0.19045", files, modules);
        if (round % 2) raw += "&verdict=" + line(3) + "\n";
        ParsedBody parsed = ParseUploadBody(EscapePlus(raw));
        ASSERT_TRUE(parsed.report) << parsed.reason << "\n" << raw;
        EXPECT_EQ(parsed.report->files.size(), files.size());
        EXPECT_EQ(parsed.report->modules.size(), modules.size());
        EXPECT_EQ(SemicolonBodyOf(*parsed.report, round % 2), EscapePlus(raw)) << raw;
    }
}

// Every prefix of a body is refused, but one cut right after an entry's line
// feed or an empty piece's name, which HTTP's length alone tells from a whole
// body.
TEST(ParseUploadBody, RefusesEveryCutBodyButAtAnEntrysEnd) {
    const std::string body = BodyOf(SampleReport(), true);
    for (std::size_t length = 0; length < body.size(); ++length) {
        ParsedBody parsed = ParseUploadBody(body.substr(0, length));
        const bool afterModules = length > body.find("&modules=");
        if (parsed.report) {
            const std::string_view cut = std::string_view(body).substr(0, length);
            EXPECT_TRUE(afterModules && (cut.ends_with('\n') || cut.ends_with("&modules=") || cut.ends_with("&verdict=")))
                << length;
        } else {
            EXPECT_FALSE(parsed.reason.empty());
            EXPECT_EQ(parsed.reason.find('\n'), std::string::npos);
        }
    }
}

// Bodies of zar.exe before it chose a separator per report: fields joined by
// ";" whatever they hold.
TEST(ParseUploadBody, RefusesFieldsWithSeparatorsOrLineFeedsAndBadPieces) {
    Report sample = SampleReport();
    auto refused = [](Report report, bool withVerdict = true) {
        ParsedBody parsed = ParseUploadBody(SemicolonBodyOf(report, withVerdict));
        return !parsed.report && parsed.fault == BodyFault::Malformed;
    };
    auto with = [&](auto change) {
        Report report = sample;
        change(report);
        return report;
    };
    EXPECT_TRUE(refused(with([](Report& r) { r.process.description = "a;b"; })));
    EXPECT_TRUE(refused(with([](Report& r) { r.process.company = "a\nb"; })));
    EXPECT_TRUE(refused(with([](Report& r) { r.files[0].productVersion = "1;2"; })));
    EXPECT_TRUE(refused(with([](Report& r) { r.modules[1].description = "two\nlines"; })));
    EXPECT_TRUE(refused(with([](Report& r) { r.verdict[0].detail = "a;b"; })));
    EXPECT_TRUE(refused(with([](Report& r) { r.files[1].name = "&modules=x.dll"; })));  // two "&modules="
    EXPECT_TRUE(refused(with([](Report& r) { r.modules[0].name = "&verdict=x.dll"; })));
    EXPECT_TRUE(refused(with([](Report& r) { r.os = "6.1"; })));
    // Piece names where they cannot open a piece are texts like any other.
    Report pieceNames = with([](Report& r) {
        r.modules[0].name = "&modules=x.dll";
        r.files[0].name = "&verdict=y.exe";
        r.process.company = "&exitcode=1&separator=";
    });
    EXPECT_EQ(ReadBack(BodyOf(pieceNames, true)), ReportText(pieceNames));

    const std::string body = BodyOf(sample, true);
    auto replaced = [&](std::string_view from, std::string_view to) {
        std::string changed = body;
        return changed.replace(changed.find(from), from.size(), to);
    };
    for (std::string_view exitCode : {"", "-1", "4294967296", "0x1", "1 "})
        EXPECT_FALSE(ParseUploadBody(replaced("3221225794", exitCode)).report) << exitCode;
    EXPECT_FALSE(ParseUploadBody(replaced("&separator=;", "&separator=,")).report);
    EXPECT_FALSE(ParseUploadBody(replaced("&separator=;", "&separator=|")).report);  // the fields say ";"
    EXPECT_FALSE(ParseUploadBody(replaced("process=", "proces=")).report);
    EXPECT_FALSE(ParseUploadBody(replaced("&modules=", "&module=")).report);
    EXPECT_FALSE(ParseUploadBody("").report);
}

TEST(ParseUploadBody, ReplacesBytesWithoutTextAndUserNamesInPaths) {
    Report sample = SampleReport();
    std::string body = BodyOf(sample, true);
    body.replace(body.find("6.1.7601.17514"), 1, "\x98");
    body.replace(body.find("%USERNAME%"), 10, "\xC8\xE2\xE0\xED");       // Иван, in the module's folder
    body.replace(body.find("%USERNAME%"), 10, std::string("iv\0an", 5));  // and in the finding's module
    ParsedBody parsed = ParseUploadBody(body);
    ASSERT_TRUE(parsed.report) << parsed.reason;
    EXPECT_EQ(parsed.report->files[0].productVersion, "\uFFFD.1.7601.17514");
    EXPECT_EQ(ReportText(*parsed.report).find("Иван"), std::string::npos);
    EXPECT_EQ(parsed.report->modules.back().folder, "C:\\Users\\%USERNAME%\\AppData\\Local\\Тест");
    EXPECT_EQ(parsed.report->verdict[0].module, sample.verdict[0].module);
}

// zar.exe's builder and the parser agree on the separators a body may use.
TEST(ParseUploadBody, ReadsZarsBodiesWhateverSeparatorTheirFieldsHold) {
    EXPECT_EQ(std::string(kBodySeparators.begin(), kBodySeparators.end()),
              std::string(std::begin(kFormSeparators), std::end(kFormSeparators)));
    struct Case {
        std::string description;  // of a module
        std::string separator;    // the body declares
        std::string stored;       // the description read back
    };
    const Case cases[] = {
        {"Библиотека; C++", "&separator=|", "Библиотека; C++"},
        {"a;b|c", "&separator=\t", "a;b|c"},
        {"a;b|c\td", "&separator=\x1F", "a;b|c\td"},
        {"a;b|c\td\x1F", "&separator=\x1F", "a;b|c\td "},  // every one held: the last goes as a blank
        {"две\nстроки\r", "&separator=;", "две строки "},
    };
    for (const Case& c : cases) {
        Report report = SampleReport();
        report.modules[1].description = c.description;
        const std::string body = BodyOf(report, true);
        EXPECT_NE(body.find(c.separator + "&OS="), std::string::npos) << c.description;
        ParsedBody parsed = ParseUploadBody(body);
        ASSERT_TRUE(parsed.report) << parsed.reason;
        report.modules[1].description = c.stored;
        EXPECT_EQ(ReportText(*parsed.report), ReportText(report));
    }
}

// A refused initialisation's detail goes on after its code with what its
// thread showed, texts of the program's own among them: read back whole, the
// body's separator being one that the detail does not hold.
TEST(ParseUploadBody, ReadsBackARefusedInitialisationsLongDetailWhateverItHolds) {
    const std::string start = "0xC0000142 error=0x7E status=0xC0000135 notloaded=\"korvane_absent_helper.dll\"";
    const std::string longOutput(120, 'x');
    const std::pair<std::string, std::string> cases[] = {
        {start + " output=\"" + longOutput + "\" output=\"Библиотека & ещё\"", "&separator=;"},
        {start + " output=\"a;b\"", "&separator=|"},
        {start + " output=\"a;b|c\"", "&separator=\t"},
    };
    for (const auto& [detail, separator] : cases) {
        Report report = SampleReport();
        report.verdict[0].kind = "dll_init_failed";
        report.verdict[0].detail = detail;
        const std::string body = BodyOf(report, true);
        EXPECT_NE(body.find(separator + "&OS="), std::string::npos) << detail;
        ParsedBody parsed = ParseUploadBody(body);
        ASSERT_TRUE(parsed.report) << parsed.reason;
        ASSERT_EQ(parsed.report->verdict.size(), report.verdict.size());
        EXPECT_EQ(parsed.report->verdict[0].detail, detail);
        EXPECT_EQ(ReportText(*parsed.report), ReportText(report));
    }
}

// The caps come before the entries are taken apart: an entry bomb is refused
// for its line count, a report at the caps is read.
TEST(ParseUploadBody, RefusesReportsOverTheirLimitsAsSuch) {
    auto fault = [](const std::string& body) {
        ParsedBody parsed = ParseUploadBody(body);
        EXPECT_EQ(parsed.reason.find('\n'), std::string::npos);
        return parsed.fault;
    };
    const BodyLimits limits;
    std::string bomb = "process=a;b;c;d;e;f;g;h&exitcode=0&separator=;&OS=6.1.7601&files=&modules=";
    for (std::size_t i = 0; i < (1u << 20) / 8; ++i) bomb += ";;;;;;;\n";
    EXPECT_EQ(fault(bomb), BodyFault::OverLimits);

    Report many = SampleReport(limits.modules, limits.files);
    EXPECT_EQ(fault(BodyOf(many, true)), BodyFault::None);
    many.modules.push_back(many.modules[0]);
    EXPECT_EQ(fault(BodyOf(many, true)), BodyFault::OverLimits);
    Report longField = SampleReport();
    longField.files[0].description = std::string(limits.fieldBytes, 'x');
    EXPECT_EQ(fault(BodyOf(longField, true)), BodyFault::None);
    longField.files[0].description += 'x';
    EXPECT_EQ(fault(BodyOf(longField, true)), BodyFault::OverLimits);
    Report findings = SampleReport();
    findings.verdict.assign(limits.findings + 1, findings.verdict[0]);
    EXPECT_EQ(fault(BodyOf(findings, true)), BodyFault::OverLimits);
}

// A head that two separators can read is refused rather than guessed.
TEST(ParseUploadBody, RefusesAHeadReadableTwoWays) {
    Report report = SampleReport();
    report.process.description = "|||||||";
    report.process.company = "&exitcode=1&separator=|&OS=1.2.3&files=";
    ParsedBody parsed = ParseUploadBody(BodyOf(report, true));
    EXPECT_FALSE(parsed.report);
    EXPECT_EQ(parsed.fault, BodyFault::Malformed);
    report.process.description = "||||||";
    EXPECT_EQ(ReadBack(BodyOf(report, true)), ReportText(report));
}

}  // namespace
}  // namespace collector
