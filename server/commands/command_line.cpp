#include "server/commands/command_line.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <algorithm>
#include <map>

#include "server/base/decimal_text.h"
#include "server/store/report_store.h"
#include "server/store/store_factory.h"

namespace {

const char kProgramUsage[] =
    "Usage: brevora-report-server COMMAND [OPTIONS]\n"
    "\n"
    "Receives, stores and shows Brevora bug reports.\n"
    "\n"
    "Commands:\n"
    "  serve    receive reports over HTTP and store them\n"
    "  list     one line per stored report\n"
    "  show     every field of one report\n"
    "  export   one report's attachments and texts, or every stored field of every\n"
    "           report, as files\n"
    "  prune    remove the reports older than a number of days\n"
    "  forget   remove every report that carries an e-mail address\n"
    "  user     add, remove or list the accounts of the maintainers' web interface\n"
    "  crash    list the top crashes, or process crash reports' dumps again\n"
    "  binary   add or list the release binaries that crash stacks are read with\n"
    "  alert    add, list or remove the rules that send alerts by webhook or mail\n"
    "\n"
    "'brevora-report-server COMMAND --help' describes each command.\n";

const char kServeUsage[] =
    "Usage: brevora-report-server serve --data DIR [--database URL] [--listen ADDR:PORT] [--max-body BYTES]\n"
    "                                  [--max-crash-body BYTES] [--fail-uploads]\n"
    "                                  [--tls-cert FILE --tls-key FILE] [LIMITS]\n"
    "                                  [--admin-listen ADDR:PORT [--admin-insecure] | --no-admin]\n"
    "                                  [--session-lifetime HOURS] [--trusted-proxy ADDR[/BITS]]...\n"
    "\n"
    "Receives bug reports and crash reports over HTTP (HTTPS with --tls-cert) and stores\n"
    "them in DIR/reports.db, or with --database in PostgreSQL.\n"
    "\n"
    "  GET  /bugreport/components/    answers with DIR/components.txt\n"
    "  GET  /bugreport/latest_version answers with DIR/latest_version.txt\n"
    "  POST /bugreport/report/        stores one report, answers 201 and its id\n"
    "  POST /bugreport/crash/         stores one crash report, answers 201 and its id\n"
    "\n"
    "Options:\n"
    "  --data DIR          data folder, made when missing\n"
    "  --database URL      store the reports in PostgreSQL (postgresql://USER@HOST/DB, or\n"
    "                      postgresql:///DB?host=/SOCKET/FOLDER); several servers may share\n"
    "                      one database\n"
    "  --listen ADDR:PORT  address to listen on (default 127.0.0.1:8080; port 0: any free port;\n"
    "                      IPv6 as [::1]:8080)\n"
    "  --max-body BYTES    largest accepted report, suffix K, M or G allowed (default 32M)\n"
    "  --max-crash-body BYTES\n"
    "                      largest accepted crash report (default 64M, the reporter's largest)\n"
    "  --fail-uploads      for testing clients: read each upload whole, store nothing and\n"
    "                      answer 500\n"
    "  --tls-cert FILE     serve HTTPS with this PEM certificate (the server's first, then\n"
    "                      any intermediates)\n"
    "  --tls-key FILE      the certificate's PEM private key, without a pass phrase\n"
    "  --admin-listen ADDR:PORT\n"
    "                      address of the maintainers' web interface (default 127.0.0.1:8081;\n"
    "                      HTTPS too with --tls-cert; its accounts, sessions and triage are\n"
    "                      kept beside the reports, in DIR/reports.db or with --database in\n"
    "                      PostgreSQL; accounts: see 'user --help')\n"
    "  --admin-insecure    let the interface listen on an address other than loopback\n"
    "                      without TLS (its passwords and sessions then cross the network\n"
    "                      in the clear)\n"
    "  --session-lifetime HOURS\n"
    "                      an interface session ends this long after its log-in, used or\n"
    "                      not (default 168, 7 days)\n"
    "  --no-admin          no maintainers' web interface\n"
    "  --trusted-proxy ADDR[/BITS]\n"
    "                      a reverse proxy in front (repeatable): for its connections the\n"
    "                      client is the rightmost address of X-Forwarded-For (or the\n"
    "                      for= of Forwarded) that is not itself a trusted proxy\n"
    "\n"
    "Alerts (rules: see 'alert --help'):\n"
    "  --public-url URL    the maintainers' interface as the alerts link to it\n"
    "  --smtp URL          mail server: smtps://HOST[:PORT], or smtp://HOST[:PORT] with\n"
    "                      STARTTLS (plain only to a relay on a loopback address); a\n"
    "                      user name as smtps://USER@HOST\n"
    "  --smtp-from ADDRESS the alerts' sender\n"
    "  --smtp-password-file FILE\n"
    "                      the mail server's password (else $BREVORA_SMTP_PASSWORD)\n"
    "\n"
    "Limits (per client address; see docs/server.md):\n"
    "  --header-timeout SECONDS        request line and headers within (default 10)\n"
    "  --max-header-lines N            header lines in one request (default 100)\n"
    "  --max-header-size BYTES         a request's whole head (default 16384)\n"
    "  --body-min-rate BYTES           slowest body accepted, bytes a second, K or M\n"
    "                                  allowed, 0 for none (default 8K)\n"
    "  --body-rate-window SECONDS      averaged over (default 10)\n"
    "  --body-grace SECONDS            no rate asked before (default 10)\n"
    "  --max-connections-per-address N open at once from one address, 0 for no cap\n"
    "                                  (default 16)\n"
    "  --max-connections N             served at once; more wait (default 256)\n"
    "  --rate-limit RULES              uploads, such as 10/min,100/day (the default);\n"
    "                                  units s, min, h, day; off for none\n"
    "  --query-rate-limit RULES        queries (default 60/min,1000/day)\n"
    "  --rate-refusal-delay SECONDS    answer 429 this late, 0 for at once (default 1)\n"
    "  --min-free BYTES|PERCENT        refuse uploads (507) while the data folder's\n"
    "                                  disk has less free (default the smaller of 1G\n"
    "                                  and 5%; 0 for none)\n"
    "\n"
    "Logs one line per request on standard error. Stops on SIGINT or SIGTERM.\n";

// Every command but serve reads either store.
#define BREVORA_STORE_OPTIONS \
    "\n" \
    "  --data DIR      the data folder whose reports.db to read\n" \
    "  --database URL  the PostgreSQL database instead (postgresql://...)\n"

const char kListUsage[] =
    "Usage: brevora-report-server list --data DIR | --database URL\n"
    "\n"
    "Prints one line per stored report: id, kind (bug or crash), received time\n"
    "(UTC), e-mail and the first line of the first description (of a crash\n"
    "report: of its comment), separated by tabs.\n" BREVORA_STORE_OPTIONS;

const char kShowUsage[] =
    "Usage: brevora-report-server show --data DIR | --database URL [--raw] ID\n"
    "\n"
    "Prints every field of report ID, decoded; attachments by name and size.\n"
    "With --raw, prints the report's body as it was received instead, byte for\n"
    "byte (kept, or rebuilt from the stored fields).\n" BREVORA_STORE_OPTIONS;

const char kExportUsage[] =
    "Usage: brevora-report-server export --data DIR | --database URL ID OUTDIR\n"
    "       brevora-report-server export --data DIR | --database URL --all OUTDIR\n"
    "\n"
    "Writes the attachments of report ID (of a crash report: the dump, the log\n"
    "and the configuration) into OUTDIR under their names, and its text fields\n"
    "into OUTDIR/report.txt. OUTDIR is made when missing.\n"
    "\n"
    "With --all, writes every stored report into OUTDIR/ID/, one file per stored\n"
    "field, byte for byte, named after the field, and the file kind (bug or\n"
    "crash). A bug report's fields: received_utc, peer, user_agent, email,\n"
    "description1, description2, description3, system_info, attachment_name,\n"
    "attachment, attachment_state (content, placeholder or empty),\n"
    "attachment_log_name, attachment_log, attachment_log_state and raw_body (the\n"
    "body as received). A crash report's: received_utc, peer, user_agent,\n"
    "comment, attachment_dump_name, attachment_dump, attachment_dump_state,\n"
    "attachment_log_name, attachment_log, attachment_log_state,\n"
    "attachment_conf_name, attachment_conf, attachment_conf_state and raw_body.\n"
    "Prints each report's folder, oldest first.\n" BREVORA_STORE_OPTIONS;

const char kPruneUsage[] =
    "Usage: brevora-report-server prune --data DIR | --database URL --older-than DAYS\n"
    "\n"
    "Removes every report received more than DAYS days (of 24 hours) ago, with\n"
    "its attachments, and prints one line per removed report (as list does) and\n"
    "then how many were removed. Safe while servers run.\n" BREVORA_STORE_OPTIONS;

const char kForgetUsage[] =
    "Usage: brevora-report-server forget --data DIR | --database URL --email ADDRESS\n"
    "\n"
    "Removes every report whose e-mail address is ADDRESS (letters compared\n"
    "without case), with its attachments, and prints one line per removed report\n"
    "(as list does) and then how many were removed. Safe while servers run.\n" BREVORA_STORE_OPTIONS;

const char kUserUsage[] =
    "Usage: brevora-report-server user add --data DIR | --database URL NAME\n"
    "       brevora-report-server user remove --data DIR | --database URL NAME\n"
    "       brevora-report-server user list --data DIR | --database URL\n"
    "\n"
    "Manages the accounts that log in to the maintainers' web interface (serve\n"
    "--admin-listen). add reads the password from standard input: one line, asked\n"
    "twice without echo when standard input is a terminal; it is stored only as an\n"
    "Argon2id hash. remove also ends the account's sessions. list prints one name a\n"
    "line with the time the account was added. The accounts are kept beside the\n"
    "reports: give serve's --data DIR, or its --database URL (every server on that\n"
    "database shares them).\n"
    "\n"
    "  --data DIR      the data folder whose reports.db holds them (made when missing)\n"
    "  --database URL  the PostgreSQL database instead (postgresql://...)\n";

struct CommandName
{
    Command command;
    const char* name;
};

const CommandName kCommands[] = {
    {Command::Serve, "serve"}, {Command::List, "list"},     {Command::Show, "show"},
    {Command::Export, "export"}, {Command::Prune, "prune"}, {Command::Forget, "forget"},
    {Command::User, "user"}, {Command::Crash, "crash"},   {Command::Binary, "binary"},
    {Command::Alert, "alert"}};

// Up to a hundred years.
bool ParseDays(const std::string& text, int& days)
{
    uint64_t value = 0;
    if (!ParseDecimalDigits(text, 5, value))
        return false;
    days = static_cast<int>(value);
    return value <= 36500;
}

bool ParseByteCount(const std::string& text, uint64_t& bytes)
{
    size_t i = 0;
    uint64_t value = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        if (value > kLargestMaxBody)
            return false;
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        ++i;
    }
    if (i == 0)
        return false;
    int shift = 0;
    if (i + 1 == text.size()) {
        switch (text[i]) {
        case 'K': shift = 10; break;
        case 'M': shift = 20; break;
        case 'G': shift = 30; break;
        default: return false;
        }
    } else if (i != text.size()) {
        return false;
    }
    if (value > (kLargestMaxBody >> shift))
        return false;
    bytes = value << shift;
    return bytes >= 1;
}

// --help acts the moment it is read: nothing after it counts, and mistakes
// before it are only collected (extras), so help wins over them.
void AddHelpFlag(CLI::App& app)
{
    app.add_flag_callback("-h,--help", [] { throw CLI::CallForHelp(); })->trigger_on_parse();
}

// "--port=80" is the option "--port".
std::string NameOption(const std::string& arg)
{
    return arg.substr(0, arg.find('='));
}

// CLI11 stops at the first option given a value it cannot take: a flag with
// "=VALUE", or else an option that wants a value as the last argument (any
// other argument after it is taken as its value).
std::string DescribeMismatch(const std::vector<std::string>& args, const CLI::App& command)
{
    for (const std::string& arg : args) {
        const CLI::Option* option = command.get_option_no_throw(NameOption(arg));
        if (option != nullptr && option->get_items_expected_max() == 0 && arg.find('=') != std::string::npos)
            return "unknown option '" + NameOption(arg) + "' for " + command.get_name() + " (try " +
                   command.get_name() + " --help)";
    }
    return "option " + NameOption(args.back()) + " needs a value";
}

bool ParseUserArguments(const std::vector<std::string>& positionals, CommandLine& line, std::string& error)
{
    const struct
    {
        UserAction action;
        const char* name;
        size_t arguments;
    } actions[] = {{UserAction::Add, "add", 2}, {UserAction::Remove, "remove", 2}, {UserAction::List, "list", 1}};
    if (positionals.empty()) {
        error = "user needs add NAME, remove NAME or list";
        return false;
    }
    for (const auto& action : actions) {
        if (positionals[0] != action.name)
            continue;
        if (positionals.size() != action.arguments) {
            error = action.arguments == 2 ? std::string("user ") + action.name + " needs one account name"
                                          : "unexpected argument '" + positionals[1] + "' for user list";
            return false;
        }
        line.userAction = action.action;
        if (action.arguments == 2) {
            line.userName = positionals[1];
            // Names are shown in pages and logs: printable ASCII, no spaces.
            if (line.userName.empty() || line.userName.size() > 64 ||
                line.userName.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._@-") !=
                    std::string::npos) {
                error = "bad account name '" + line.userName +
                        "': expected 1 to 64 letters, digits, '.', '_', '@' or '-'";
                return false;
            }
        }
        return true;
    }
    error = "unknown user action '" + positionals[0] + "' (expected add, remove or list)";
    return false;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error)
{
    line = CommandLine();
    ParseListenAddress(kDefaultListenAddress, line.listen, error);
    error.clear();

    CLI::App app("brevora-report-server");
    // Our own help texts and messages: CLI11's formatter is not used.
    app.set_help_flag();
    AddHelpFlag(app);
    app.allow_extras();
    // A second command word is an argument of the first, not a command.
    app.require_subcommand(0, 1);

    std::vector<std::string> positionals;
    std::string unused;
    std::string listen = kDefaultListenAddress;
    std::string adminListen = kDefaultAdminListenAddress;
    CLI::Option* adminListenOption = nullptr;
    std::string maxBody;
    std::string maxCrashBody;
    CLI::Option* maxBodyOption = nullptr;
    std::string olderThan;
    CLI::Option* olderThanOption = nullptr;
    std::map<std::string, std::string> limitValues;  // serve's limit options, read below
    std::map<std::string, CLI::Option*> limitOptions;
    CLI::Option* maxCrashBodyOption = nullptr;
    CLI::Option* tlsCertOption = nullptr;
    CLI::Option* tlsKeyOption = nullptr;
    std::vector<std::string> trustedProxies;
    std::string sessionLifetime;
    CLI::Option* sessionLifetimeOption = nullptr;
    for (const CommandName& entry : kCommands) {
        CLI::App* sub = app.add_subcommand(entry.name);
        AddHelpFlag(*sub);
        // Unknown options are reported by us, naming the command.
        sub->allow_extras();
        sub->add_option("--data", line.dataDir)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        sub->add_option("--database", line.databaseUrl)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        sub->add_option("arguments", positionals);
        // Never filled: while a positional is still open, CLI11 takes "--" as
        // the end of the options; otherwise it would leave the command there.
        sub->add_option("never-filled", unused);
        if (entry.command == Command::Serve) {
            sub->add_option("--listen", listen)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
            maxBodyOption =
                sub->add_option("--max-body", maxBody)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
            maxCrashBodyOption = sub->add_option("--max-crash-body", maxCrashBody)
                                     ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
            sub->add_flag("--fail-uploads", line.failUploads)->disable_flag_override();
            tlsCertOption = sub->add_option("--tls-cert", line.tlsCert)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
            tlsKeyOption = sub->add_option("--tls-key", line.tlsKey)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
            adminListenOption =
                sub->add_option("--admin-listen", adminListen)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
            sub->add_flag("--no-admin", line.noAdmin)->disable_flag_override();
            sub->add_flag("--admin-insecure", line.adminInsecure)->disable_flag_override();
            sessionLifetimeOption = sub->add_option("--session-lifetime", sessionLifetime)
                                        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
            sub->add_option("--trusted-proxy", trustedProxies);
            for (const char* const* name = kLimitOptionNames; *name != nullptr; ++name) {
                limitOptions[*name] = sub->add_option(*name, limitValues[*name])
                                          ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
            }
            AddAlertOptions(*sub, true, line);
        } else if (entry.command == Command::Show) {
            sub->add_flag("--raw", line.rawBody)->disable_flag_override();
        } else if (entry.command == Command::Export) {
            sub->add_flag("--all", line.allReports)->disable_flag_override();
        } else if (entry.command == Command::Prune) {
            olderThanOption =
                sub->add_option("--older-than", olderThan)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        } else if (entry.command == Command::Forget) {
            sub->add_option("--email", line.email)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        } else if (entry.command == Command::Crash) {
            sub->add_flag("--all", line.allReports)->disable_flag_override();
            sub->add_option("--days", line.periodDays)->check(CLI::Range(0, 36500));
            sub->add_option("--version", line.version)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
            sub->add_option("--limit", line.limit)->check(CLI::Range(int64_t(1), int64_t(100000)));
        } else if (entry.command == Command::Alert) {
            AddAlertOptions(*sub, false, line);
        }
    }

    bool help = false;
    bool mismatch = false;
    std::string problem;
    try {
        app.parse(std::vector<std::string>(args.rbegin(), args.rend()));
    } catch (const CLI::CallForHelp&) {
        help = true;
    } catch (const CLI::ArgumentMismatch&) {
        mismatch = true;
    } catch (const CLI::ParseError& e) {
        problem = e.what();
    }

    // Before the command: a word that is not one, even beside --help.
    const std::vector<std::string> strays = app.remaining();
    if (!strays.empty()) {
        const std::string& word = strays.front();
        const bool option = !word.empty() && word[0] == '-';
        error = (option ? "unknown option '" : "unknown command '") + word + "' (try --help)";
        return false;
    }
    const std::vector<CLI::App*> given = app.get_subcommands();
    std::string command;
    if (!given.empty()) {
        command = given.front()->get_name();
        for (const CommandName& entry : kCommands) {
            if (command == entry.name)
                line.command = entry.command;
        }
    }
    if (help) {
        line.help = true;
        return true;
    }
    if (line.command == Command::None) {
        error = "no command given (try --help)";
        return false;
    }

    for (const std::string& unknown : given.front()->remaining()) {
        if (unknown == "--")
            continue;  // CLI11 keeps the end of the options among the extras
        error = "unknown option '" + NameOption(unknown) + "' for " + command + " (try " + command + " --help)";
        return false;
    }
    if (mismatch) {
        error = DescribeMismatch(args, *given.front());
        return false;
    }
    if (!problem.empty()) {
        error = problem;
        return false;
    }
    if (maxBodyOption->count() > 0 && !ParseByteCount(maxBody, line.maxBody)) {
        error = "bad --max-body '" + maxBody + "': expected a byte count from 1 to 512M, suffix K, M or G allowed";
        return false;
    }
    if (maxCrashBodyOption->count() > 0 && !ParseByteCount(maxCrashBody, line.maxCrashBody)) {
        error = "bad --max-crash-body '" + maxCrashBody +
                "': expected a byte count from 1 to 512M, suffix K, M or G allowed";
        return false;
    }

    for (const char* const* name = kLimitOptionNames; *name != nullptr; ++name) {
        if (line.command == Command::Serve && limitOptions[*name]->count() > 0 &&
            !ParseLimitOption(*name, limitValues[*name], line.limits, error))
            return false;
    }

    for (const std::string& text : trustedProxies) {
        AddressBlock block;
        if (!ParseAddressBlock(text, block, error)) {
            error = "--trusted-proxy: " + error;
            return false;
        }
        line.limits.trustedProxies.push_back(block);
    }
    uint64_t hours = 0;
    if (line.command == Command::Serve && sessionLifetimeOption->count() > 0) {
        if (!ParseDecimalDigits(sessionLifetime, 6, hours) || hours == 0 || hours > 24 * 366) {
            error = "bad --session-lifetime '" + sessionLifetime + "': expected hours from 1 to 8784";
            return false;
        }
        line.sessionLifetimeSeconds = static_cast<int64_t>(hours) * 3600;
    }

    // serve reads the queries' answers from the data folder, even with --database.
    const bool needsDataDir = line.command == Command::Serve;
    if (line.dataDir.empty() && (needsDataDir || line.databaseUrl.empty())) {
        error = command + (needsDataDir ? " needs --data DIR" : " needs --data DIR or --database URL");
        return false;
    }
    if (!line.databaseUrl.empty() && !IsPostgresUrl(line.databaseUrl)) {
        error = "bad --database: expected a postgresql:// or postgres:// URL";
        return false;
    }
    if (line.command == Command::Prune && (olderThanOption->count() == 0 || !ParseDays(olderThan, line.olderThanDays))) {
        error = olderThanOption->count() == 0 ? "prune needs --older-than DAYS"
                                              : "bad --older-than '" + olderThan + "': expected whole days from 0 to 36500";
        return false;
    }
    if (line.command == Command::Forget && line.email.empty()) {
        error = "forget needs --email ADDRESS";
        return false;
    }
    if (line.command == Command::Serve && !ParseListenAddress(listen, line.listen, error))
        return false;
    // CLI11 reads "--tls-cert=" as the option waiting for its value, which
    // would swallow the next argument; an empty file name is refused first.
    if (line.command == Command::Serve) {
        for (const CLI::Option* option : {tlsCertOption, tlsKeyOption}) {
            const std::string name = option->get_name();
            const bool emptyGiven = std::find(args.begin(), args.end(), name + "=") != args.end() ||
                                    (option->count() > 0 && (option == tlsCertOption ? line.tlsCert : line.tlsKey).empty());
            if (emptyGiven) {
                error = "option " + name + " needs a file";
                return false;
            }
        }
    }
    if (line.tlsCert.empty() != line.tlsKey.empty()) {
        error = line.tlsCert.empty() ? "--tls-key needs --tls-cert" : "--tls-cert needs --tls-key";
        return false;
    }
    if (line.command == Command::Serve && line.noAdmin && adminListenOption->count() > 0) {
        error = "--admin-listen and --no-admin exclude each other";
        return false;
    }
    line.adminListenGiven = line.command == Command::Serve && adminListenOption->count() > 0;
    if (line.command == Command::Serve && !ParseListenAddress(adminListen, line.adminListen, error)) {
        error = "--admin-listen: " + error;
        return false;
    }
    if (line.command == Command::User)
        return ParseUserArguments(positionals, line, error);
    if (line.command == Command::Crash)
        return ParseCrashArguments(positionals, line, error);
    if (line.command == Command::Binary)
        return ParseBinaryArguments(positionals, line, error);
    if (line.command == Command::Alert)
        return ParseAlertArguments(positionals, line, error);
    if (line.command == Command::Serve && !CheckServeAlertOptions(line, error))
        return false;

    size_t wanted = 0;
    const char* shape = "";
    if (line.command == Command::Show) {
        wanted = 1;
        shape = "show needs one report ID";
    } else if (line.command == Command::Export && line.allReports) {
        wanted = 1;
        shape = "export --all needs one output folder and no report ID";
    } else if (line.command == Command::Export) {
        wanted = 2;
        shape = "export needs a report ID and an output folder";
    }
    if (positionals.size() != wanted) {
        if (wanted == 0)
            error = "unexpected argument '" + positionals[0] + "' for " + command;
        else
            error = shape;
        return false;
    }
    const bool takesId = line.command == Command::Show || (line.command == Command::Export && !line.allReports);
    if (takesId && !ParsePositiveId(positionals[0], line.id)) {
        error = "bad report id '" + positionals[0] + "': expected a positive whole number";
        return false;
    }
    if (line.command == Command::Export) {
        line.outDir = positionals.back();
        if (line.outDir.empty()) {
            error = "export needs a non-empty output folder";
            return false;
        }
    }
    return true;
}

const char* GetUsage(Command command)
{
    switch (command) {
    case Command::Serve:
        return kServeUsage;
    case Command::List:
        return kListUsage;
    case Command::Show:
        return kShowUsage;
    case Command::Export:
        return kExportUsage;
    case Command::Prune:
        return kPruneUsage;
    case Command::Forget:
        return kForgetUsage;
    case Command::User:
        return kUserUsage;
    case Command::Crash:
        return kCrashUsage;
    case Command::Binary:
        return kBinaryUsage;
    case Command::Alert:
        return kAlertUsage;
    case Command::None:
        break;
    }
    return kProgramUsage;
}
