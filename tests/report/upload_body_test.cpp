// The report form's assembly and its one escape, without any network.
#include "report/upload_body.h"

#include <gtest/gtest.h>

TEST(UploadBody, DemoTargetGivesTheDocumented152Bytes) {
    const std::string demoLine = "demo.exe;C:\\Demo;5120;;05.03.2013;06.03.2013;;";
    const std::string body = EscapePlus(BuildUploadBody(demoLine, 0, "6.1.7601", {}, {demoLine}));
    EXPECT_EQ("process=demo.exe;C:\\Demo;5120;;05.03.2013;06.03.2013;;&exitcode=0&separator=;&OS=6.1.7601"
              "&files=&modules=demo.exe;C:\\Demo;5120;;05.03.2013;06.03.2013;;\n",
              body);
    EXPECT_EQ(152u, body.size());
}

TEST(UploadBody, PiecesComeInOrderAndEveryEntryEndsInItsOwnLineFeed) {
    EXPECT_EQ("process=a.exe;C:;1;;;;;&exitcode=1&separator=;&OS=6.1.7601"
              "&files=f1\nf2\n&modules=m1\nm2\nm3\n",
              BuildUploadBody("a.exe;C:;1;;;;;", 1, "6.1.7601", {"f1", "f2"}, {"m1", "m2", "m3"}));
}

TEST(UploadBody, WithoutRunningImagesModulesFollowFilesDirectly) {
    std::string body = BuildUploadBody("p", 0, "6.1.7601", {}, {"m"});
    EXPECT_NE(std::string::npos, body.find("&files=&modules=m\n"));
    EXPECT_EQ("process=p&exitcode=0&separator=;&OS=6.1.7601&files=&modules=",
              BuildUploadBody("p", 0, "6.1.7601", {}, {}));
}

TEST(UploadBody, ExitCodeIsUnsignedDecimal) {
    auto exitField = [](std::uint32_t code) {
        std::string body = BuildUploadBody("p", code, "6.1.7601", {}, {});
        std::size_t start = body.find("&exitcode=") + 10;
        return body.substr(start, body.find('&', start) - start);
    };
    EXPECT_EQ("0", exitField(0));
    EXPECT_EQ("1", exitField(1));
    EXPECT_EQ("3221225794", exitField(0xC0000142));
    EXPECT_EQ("4294967295", exitField(0xFFFFFFFF));
}

TEST(EscapePlus, EveryPlusBecomesPercent2BAndNothingElseChanges) {
    EXPECT_EQ("1%2B2%2B3", EscapePlus("1+2+3"));
    EXPECT_EQ("%2B%2B%2B", EscapePlus("+++"));
    EXPECT_EQ("%2B%2B", EscapePlus("%2B+"));
    EXPECT_EQ("", EscapePlus(""));
    const std::string untouched = "a & b=c%20d;e\nf \x01\x7F\xC0\xFF";
    EXPECT_EQ(untouched, EscapePlus(untouched));
    EXPECT_EQ(std::string("x\0%2By", 6), EscapePlus(std::string("x\0+y", 4)));
}

TEST(ReportBody, TheExampleAndEveryReportWithoutSeparatorsInItsFieldsKeepSemicolon) {
    const UploadFields demo = {"demo.exe", "C:\\Demo", "5120", "", "05.03.2013", "06.03.2013", "", ""};
    const std::string body = BuildReportBody({demo, {}, {demo}, {}}, 0, "6.1.7601");
    EXPECT_EQ("process=demo.exe;C:\\Demo;5120;;05.03.2013;06.03.2013;;&exitcode=0&separator=;&OS=6.1.7601"
              "&files=&modules=demo.exe;C:\\Demo;5120;;05.03.2013;06.03.2013;;\n",
              body);
    EXPECT_EQ(152u, body.size());
    EXPECT_EQ(body + "&verdict=dll_init_failed;%SYSTEM%\\a.dll;0xC0000142\n",
              BuildReportBody({demo, {}, {demo}, {{"dll_init_failed", "%SYSTEM%\\a.dll", "0xC0000142"}}}, 0,
                              "6.1.7601"));
}

// The first separator of the list that no field holds, in every entry of every
// piece; line breaks in a field go as blanks, the layout stays.
TEST(ReportBody, ChoosesASeparatorNoFieldHoldsAndBlanksLineBreaks) {
    const UploadFields plain = {"a.dll", "%SYSTEM%", "1", "", "", "", "", ""};
    auto with = [&](std::string description) {
        UploadFields fields = plain;
        fields[6] = std::move(description);
        return fields;
    };
    const struct {
        std::string description;
        std::string line;  // the module's line in the body
    } cases[] = {
        {"a;b", "a.dll|%SYSTEM%|1||||a;b|"},
        {"a;b|c", "a.dll\t%SYSTEM%\t1\t\t\t\ta;b|c\t"},
        {"a;b|c\td", "a.dll\x1F%SYSTEM%\x1F" "1\x1F\x1F\x1F\x1F" "a;b|c\td\x1F"},
        {"a;b|c\td\x1F", "a.dll\x1F%SYSTEM%\x1F" "1\x1F\x1F\x1F\x1F" "a;b|c\td \x1F"},
        {"two\nlines\r\n", "a.dll;%SYSTEM%;1;;;;two lines  ;"},
    };
    for (const auto& c : cases) {
        const UploadEntries entries{plain, {plain}, {with(c.description)}, {{"dll_not_found", "b.dll", "c.exe"}}};
        const char separator = ChooseFormSeparator(entries);
        const std::string s(1, separator);
        const std::string body = BuildReportBody(entries, 7, "10.0.19045");
        EXPECT_EQ("process=" + UploadEntryLine(plain, separator) + "&exitcode=7&separator=" + s +
                      "&OS=10.0.19045&files=" + UploadEntryLine(plain, separator) + "\n&modules=" + c.line +
                      "\n&verdict=dll_not_found" + s + "b.dll" + s + "c.exe\n",
                  body)
            << c.description;
    }
    // A separator in the verdict or the process's own line counts as well.
    EXPECT_EQ('|', ChooseFormSeparator({plain, {}, {}, {{"k", "m", "x;y"}}}));
    EXPECT_EQ('|', ChooseFormSeparator({with(";"), {}, {}, {}}));
}
