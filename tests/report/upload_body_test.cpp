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
