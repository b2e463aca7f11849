// Argument parsing and listen addresses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/commands/command_line.h"
#include "server/net/listen_address.h"

namespace {

struct ArgsRow
{
    const char* name;
    std::vector<std::string> args;
    const char* errorPart;  // "" when the arguments are valid
};

void PrintTo(const ArgsRow& row, std::ostream* os)
{
    *os << row.name;
}

class ParseCommandLineTest : public ::testing::TestWithParam<ArgsRow> {};

TEST_P(ParseCommandLineTest, AcceptsOrExplains)
{
    CommandLine line;
    std::string error;
    const bool parsed = ParseCommandLine(GetParam().args, line, error);
    if (*GetParam().errorPart == '\0') {
        EXPECT_TRUE(parsed) << error;
    } else {
        EXPECT_FALSE(parsed);
        EXPECT_NE(std::string::npos, error.find(GetParam().errorPart)) << error;
        EXPECT_EQ(std::string::npos, error.find('\n'));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, ParseCommandLineTest,
    ::testing::Values(
        ArgsRow{"Serve", {"serve", "--data", "d"}, ""},
        ArgsRow{"ServeEverything", {"serve", "--data=d", "--listen", "[::1]:0", "--max-body=1M"}, ""},
        ArgsRow{"NoCommand", {}, "no command"},
        ArgsRow{"UnknownCommand", {"start"}, "unknown command 'start'"},
        ArgsRow{"UnknownOptionFirst", {"--verbose"}, "unknown option '--verbose'"},
        ArgsRow{"UnknownOption", {"serve", "--data", "d", "--port", "80"}, "unknown option '--port' for serve"},
        ArgsRow{"ServeOptionOnList", {"list", "--data", "d", "--listen", "1.2.3.4:5"}, "unknown option '--listen'"},
        ArgsRow{"MissingData", {"list"}, "list needs --data DIR"},
        ArgsRow{"DataWithoutValue", {"list", "--data"}, "--data needs a value"},
        ArgsRow{"BadAddress", {"serve", "--data", "d", "--listen", "localhost:80"}, "not a numeric IPv4"},
        ArgsRow{"BadPort", {"serve", "--data", "d", "--listen", "127.0.0.1:65536"}, "port must be"},
        ArgsRow{"MaxBodyZero", {"serve", "--data", "d", "--max-body", "0"}, "bad --max-body"},
        ArgsRow{"MaxBodyTooLarge", {"serve", "--data", "d", "--max-body", "1G"}, "bad --max-body"},
        ArgsRow{"MaxBodyUnit", {"serve", "--data", "d", "--max-body", "5MB"}, "bad --max-body"},
        ArgsRow{"ShowWithoutId", {"show", "--data", "d"}, "show needs one report ID"},
        ArgsRow{"ShowBadId", {"show", "--data", "d", "7a"}, "bad report id '7a'"},
        ArgsRow{"ShowIdZero", {"show", "--data", "d", "0"}, "bad report id '0'"},
        ArgsRow{"ExportWithoutFolder", {"export", "--data", "d", "3"}, "export needs a report ID and an output"},
        ArgsRow{"ListExtraArgument", {"list", "--data", "d", "x"}, "unexpected argument 'x'"},
        ArgsRow{"HelpAfterUnknownOption", {"serve", "--bogus", "--help"}, ""},
        ArgsRow{"ServeTls", {"serve", "--data", "d", "--tls-cert", "c.pem", "--tls-key=k.pem"}, ""},
        ArgsRow{"TlsCertWithoutKey", {"serve", "--data", "d", "--tls-cert", "c.pem"}, "--tls-cert needs --tls-key"},
        ArgsRow{"TlsKeyWithoutCert", {"serve", "--data", "d", "--tls-key", "k.pem"}, "--tls-key needs --tls-cert"},
        ArgsRow{"TlsCertEmpty", {"serve", "--data", "d", "--tls-cert=", "--tls-key", "k.pem"}, "--tls-cert needs a file"},
        ArgsRow{"TlsOnList", {"list", "--data", "d", "--tls-cert", "c.pem"}, "unknown option '--tls-cert'"},
        ArgsRow{"EveryLimit", {"serve", "--data", "d", "--header-timeout", "5", "--body-min-rate=4K",
                               "--body-grace", "0", "--body-rate-window", "20", "--max-connections-per-address", "0",
                               "--max-connections", "64", "--rate-limit", "5/30s,50/day", "--query-rate-limit=off",
                               "--rate-refusal-delay", "0", "--min-free", "2%"}, ""},
        ArgsRow{"LimitOnList", {"list", "--data", "d", "--rate-limit", "1/s"}, "unknown option '--rate-limit'"},
        ArgsRow{"HeaderTimeoutZero", {"serve", "--data", "d", "--header-timeout", "0"}, "bad --header-timeout '0'"},
        ArgsRow{"BodyRateUnit", {"serve", "--data", "d", "--body-min-rate", "8KB"}, "bad --body-min-rate"},
        ArgsRow{"MaxConnectionsZero", {"serve", "--data", "d", "--max-connections", "0"}, "bad --max-connections"},
        ArgsRow{"RefusalDelayTooLong", {"serve", "--data", "d", "--rate-refusal-delay", "61"},
                "bad --rate-refusal-delay '61'"},
        ArgsRow{"RateWithoutUnit", {"serve", "--data", "d", "--rate-limit", "10"}, "bad --rate-limit '10'"},
        ArgsRow{"RateZero", {"serve", "--data", "d", "--rate-limit", "0/min"}, "bad --rate-limit"},
        ArgsRow{"RateBadUnit", {"serve", "--data", "d", "--query-rate-limit", "5/week"}, "bad --query-rate-limit"},
        ArgsRow{"RateTrailingComma", {"serve", "--data", "d", "--rate-limit", "5/min,"}, "bad --rate-limit"},
        ArgsRow{"MinFreePercentTooLarge", {"serve", "--data", "d", "--min-free", "100%"}, "bad --min-free"},
        ArgsRow{"MinFreeUnit", {"serve", "--data", "d", "--min-free", "1GB"}, "bad --min-free"},
        ArgsRow{"AdminListen", {"serve", "--data", "d", "--admin-listen", "[::1]:0"}, ""},
        ArgsRow{"NoAdmin", {"serve", "--data", "d", "--no-admin"}, ""},
        ArgsRow{"AdminBoth", {"serve", "--data", "d", "--no-admin", "--admin-listen", "127.0.0.1:1"}, "exclude"},
        ArgsRow{"AdminBadAddress", {"serve", "--data", "d", "--admin-listen", "host:1"}, "--admin-listen: "},
        ArgsRow{"AdminOnList", {"list", "--data", "d", "--no-admin"}, "unknown option '--no-admin'"},
        ArgsRow{"UserAdd", {"user", "add", "--data", "d", "ana.b@x-y_z"}, ""},
        ArgsRow{"UserList", {"user", "list", "--data", "d"}, ""},
        ArgsRow{"UserWithoutAction", {"user", "--data", "d"}, "user needs add NAME"},
        ArgsRow{"UserUnknownAction", {"user", "rename", "--data", "d", "a"}, "unknown user action 'rename'"},
        ArgsRow{"UserAddWithoutName", {"user", "add", "--data", "d"}, "user add needs one account name"},
        ArgsRow{"UserRemoveTwoNames", {"user", "remove", "--data", "d", "a", "b"}, "user remove needs one"},
        ArgsRow{"UserListExtra", {"user", "list", "--data", "d", "a"}, "unexpected argument 'a'"},
        ArgsRow{"UserNameWithSpace", {"user", "add", "--data", "d", "a b"}, "bad account name 'a b'"},
        ArgsRow{"UserNameMarkup", {"user", "add", "--data", "d", "<b>"}, "bad account name"},
        ArgsRow{"UserWithoutData", {"user", "list"}, "user needs --data DIR"}),
    [](const ::testing::TestParamInfo<ArgsRow>& info) { return std::string(info.param.name); });

TEST(ParseCommandLine, FillsTheSettings)
{
    CommandLine line;
    std::string error;
    ASSERT_TRUE(ParseCommandLine({"serve", "--data", "/srv/r", "--listen=[::1]:9000", "--max-body", "2K"}, line,
                                 error));
    EXPECT_EQ(Command::Serve, line.command);
    EXPECT_EQ("/srv/r", line.dataDir);
    EXPECT_EQ("::1", line.listen.host);
    EXPECT_EQ(9000, line.listen.port);
    EXPECT_EQ(2048u, line.maxBody);

    ASSERT_TRUE(ParseCommandLine({"serve", "--data", "d"}, line, error));
    EXPECT_EQ("127.0.0.1", line.listen.host);
    EXPECT_EQ(8080, line.listen.port);
    EXPECT_EQ(32u * 1024 * 1024, line.maxBody);

    EXPECT_EQ("10/min,100/day", FormatRateLimit(line.limits.uploadRate));
    EXPECT_EQ("60/min,1000/day", FormatRateLimit(line.limits.queryRate));
    EXPECT_EQ(16, line.limits.connectionsPerAddress);
    EXPECT_EQ(1, line.limits.rateRefusalDelaySeconds);

    ASSERT_TRUE(ParseCommandLine({"serve", "--data", "d", "--header-timeout", "3", "--body-min-rate", "2K",
                                  "--max-connections-per-address", "4", "--rate-limit", "5/30s,7/h",
                                  "--query-rate-limit", "off", "--rate-refusal-delay", "5", "--min-free", "3M"},
                                 line, error));
    EXPECT_EQ(3, line.limits.headerSeconds);
    EXPECT_EQ(2048u, line.limits.bodyMinRate);
    EXPECT_EQ(4, line.limits.connectionsPerAddress);
    EXPECT_EQ("5/30s,7/h", FormatRateLimit(line.limits.uploadRate));
    EXPECT_TRUE(line.limits.queryRate.empty());
    EXPECT_EQ(5, line.limits.rateRefusalDelaySeconds);
    EXPECT_EQ(3u << 20, ResolveDiskFloor(line.limits, 1ull << 40));

    ASSERT_TRUE(ParseCommandLine({"serve", "--data", "d"}, line, error));
    EXPECT_FALSE(line.noAdmin);
    EXPECT_FALSE(line.adminListenGiven);
    EXPECT_EQ("127.0.0.1", line.adminListen.host);
    EXPECT_EQ(8081, line.adminListen.port);
    ASSERT_TRUE(ParseCommandLine({"serve", "--data", "d", "--admin-listen=0.0.0.0:9443"}, line, error));
    EXPECT_TRUE(line.adminListenGiven);
    EXPECT_EQ("0.0.0.0", line.adminListen.host);
    EXPECT_EQ(9443, line.adminListen.port);

    ASSERT_TRUE(ParseCommandLine({"user", "remove", "--data", "d", "bob"}, line, error));
    EXPECT_EQ(Command::User, line.command);
    EXPECT_EQ(UserAction::Remove, line.userAction);
    EXPECT_EQ("bob", line.userName);

    ASSERT_TRUE(ParseCommandLine({"export", "--data", "d", "42", "out"}, line, error));
    EXPECT_EQ(42, line.id);
    EXPECT_EQ("out", line.outDir);
}

struct AddressRow
{
    const char* text;
    bool valid;
    const char* host;
    int port;
};

TEST(ParseListenAddress, TakesNumericAddressesOnly)
{
    const AddressRow rows[] = {
        {"127.0.0.1:8080", true, "127.0.0.1", 8080}, {"0.0.0.0:0", true, "0.0.0.0", 0},
        {"[::1]:65535", true, "::1", 65535},         {"[::]:80", true, "::", 80},
        {"127.0.0.1", false, "", 0},                  {":8080", false, "", 0},
        {"127.0.0.1:", false, "", 0},                 {"127.0.0.1:-1", false, "", 0},
        {"127.0.0.1:80x", false, "", 0},              {"::1:8080", false, "", 0},
        {"[::1]8080", false, "", 0},                  {"[127.0.0.1]:80", false, "", 0},
        {"256.0.0.1:80", false, "", 0},               {"example.com:80", false, "", 0},
    };
    for (const AddressRow& row : rows) {
        SCOPED_TRACE(row.text);
        ListenAddress address;
        std::string error;
        ASSERT_EQ(row.valid, ParseListenAddress(row.text, address, error)) << error;
        if (row.valid) {
            EXPECT_EQ(row.host, address.host);
            EXPECT_EQ(row.port, address.port);
            EXPECT_EQ(row.text, FormatHostPort(address.host, address.port));
        }
    }
}

}  // namespace
