// serve --fail-uploads, the server that stands in for a broken one in the
// reporter's tests: the option's parsing, the 500 after the whole body, and
// nothing stored.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <string>
#include <vector>

#include "server/commands/command_line.h"
#include "tests/server/report_factory.h"
#include "tests/server/server_process.h"
#include "tests/server/temp_folder.h"

namespace {

struct OptionRow
{
    const char* name;
    std::vector<std::string> args;
    bool valid;
    bool failUploads;
};

void PrintTo(const OptionRow& row, std::ostream* os)
{
    *os << row.name;
}

class FailUploadsOption : public ::testing::TestWithParam<OptionRow> {};

TEST_P(FailUploadsOption, IsParsedForServeOnly)
{
    CommandLine line;
    std::string error;
    ASSERT_EQ(GetParam().valid, ParseCommandLine(GetParam().args, line, error)) << error;
    if (GetParam().valid) {
        EXPECT_EQ(GetParam().failUploads, line.failUploads);
    } else {
        EXPECT_NE(std::string::npos, error.find("--fail-uploads")) << error;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, FailUploadsOption,
    ::testing::Values(OptionRow{"ServeWithout", {"serve", "--data", "d"}, true, false},
                      OptionRow{"ServeWith", {"serve", "--fail-uploads", "--data", "d"}, true, true},
                      OptionRow{"ServeWithAfterListen", {"serve", "--data", "d", "--listen", "127.0.0.1:9", "--fail-uploads"},
                                true, true},
                      OptionRow{"ListRefuses", {"list", "--data", "d", "--fail-uploads"}, false, false},
                      OptionRow{"ShowRefuses", {"show", "--data", "d", "--fail-uploads", "1"}, false, false}),
    [](const ::testing::TestParamInfo<OptionRow>& info) { return std::string(info.param.name); });

std::string ValidBody()
{
    ReportInput input;
    input.email = "me@example.org";
    input.description1 = "steps";
    input.description2 = "happened";
    input.description3 = "should";
    input.systemInfo = "PATH=x";
    input.log = MakePresentFile("a log line\n");
    return EncodeReport(input);
}

TEST(FailUploads, AnswersEveryUpload500AndStoresNone)
{
    TempFolder folder;
    ServerProcess server;
    ASSERT_TRUE(server.Start({"--data", folder.Path(), "--listen", "127.0.0.1:0", "--fail-uploads"})) << server.Stderr();
    EXPECT_NE(std::string::npos, server.Stderr().find("every upload failing"));

    httplib::Client client("127.0.0.1", server.Port());
    for (int i = 0; i < 2; ++i) {
        httplib::Result result = client.Post("/bugreport/report/", ValidBody(), "application/x-www-form-urlencoded");
        ASSERT_TRUE(result) << "no answer: the body must be read before the refusal";
        EXPECT_EQ(500, result->status);
    }
    EXPECT_EQ(0, server.Stop(SIGTERM));

    ProgramResult list = RunServer({"list", "--data", folder.Path()});
    EXPECT_EQ(0, list.exitStatus) << list.err;
    EXPECT_EQ("", list.out);
}

TEST(FailUploads, StillServesTheQueries)
{
    TempFolder folder;
    ServerProcess server;
    ASSERT_TRUE(server.Start({"--data", folder.Path(), "--listen", "127.0.0.1:0", "--fail-uploads"})) << server.Stderr();
    httplib::Client client("127.0.0.1", server.Port());
    httplib::Result result = client.Get("/bugreport/components/");
    ASSERT_TRUE(result);
    EXPECT_EQ(404, result->status) << "no components.txt: the usual answer, not the upload failure";
}

}  // namespace
