#include "server/command_line.h"

#include <cctype>

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
    "  export   one report's attachments and texts as files\n"
    "\n"
    "'brevora-report-server COMMAND --help' describes each command.\n";

const char kServeUsage[] =
    "Usage: brevora-report-server serve --data DIR [--listen ADDR:PORT] [--max-body BYTES] [--fail-uploads]\n"
    "                                   [--tls-cert FILE --tls-key FILE]\n"
    "\n"
    "Receives bug reports over HTTP (HTTPS with --tls-cert) and stores them in DIR/reports.db.\n"
    "\n"
    "  GET  /bugreport/components/    answers with DIR/components.txt\n"
    "  GET  /bugreport/latest_version answers with DIR/latest_version.txt\n"
    "  POST /bugreport/report/        stores one report, answers 201 and its id\n"
    "\n"
    "Options:\n"
    "  --data DIR          data folder, made when missing\n"
    "  --listen ADDR:PORT  address to listen on (default 127.0.0.1:8080; port 0: any free port;\n"
    "                      IPv6 as [::1]:8080)\n"
    "  --max-body BYTES    largest accepted upload, suffix K, M or G allowed (default 32M)\n"
    "  --fail-uploads      for testing clients: read each upload whole, store nothing and\n"
    "                      answer 500\n"
    "  --tls-cert FILE     serve HTTPS with this PEM certificate (the server's first, then\n"
    "                      any intermediates)\n"
    "  --tls-key FILE      the certificate's PEM private key, without a pass phrase\n"
    "\n"
    "Logs one line per request on standard error. Stops on SIGINT or SIGTERM.\n";

const char kListUsage[] =
    "Usage: brevora-report-server list --data DIR\n"
    "\n"
    "Prints one line per stored report: id, received time (UTC), e-mail and the\n"
    "first line of the first description, separated by tabs.\n";

const char kShowUsage[] =
    "Usage: brevora-report-server show --data DIR ID\n"
    "\n"
    "Prints every field of report ID, decoded; attachments by name and size.\n";

const char kExportUsage[] =
    "Usage: brevora-report-server export --data DIR ID OUTDIR\n"
    "\n"
    "Writes the attachments of report ID into OUTDIR under their names, and its\n"
    "text fields into OUTDIR/report.txt. OUTDIR is made when missing.\n";

bool ParseCommand(const std::string& word, Command& command)
{
    if (word == "serve")
        command = Command::Serve;
    else if (word == "list")
        command = Command::List;
    else if (word == "show")
        command = Command::Show;
    else if (word == "export")
        command = Command::Export;
    else
        return false;
    return true;
}

const char* NameCommand(Command command)
{
    switch (command) {
    case Command::Serve:
        return "serve";
    case Command::List:
        return "list";
    case Command::Show:
        return "show";
    case Command::Export:
        return "export";
    case Command::None:
        break;
    }
    return "";
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

bool ParseId(const std::string& text, int64_t& id)
{
    if (text.empty() || text.size() > 18)
        return false;
    int64_t value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        value = value * 10 + (c - '0');
    }
    id = value;
    return value >= 1;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error)
{
    line = CommandLine();
    ParseListenAddress(kDefaultListenAddress, line.listen, error);
    error.clear();

    if (args.empty()) {
        error = "no command given (try --help)";
        return false;
    }
    size_t i = 0;
    if (args[0] == "--help" || args[0] == "-h") {
        line.help = true;
        return true;
    }
    if (!ParseCommand(args[0], line.command)) {
        error = (args[0][0] == '-' ? "unknown option '" : "unknown command '") + args[0] + "' (try --help)";
        return false;
    }
    ++i;
    const std::string command = NameCommand(line.command);

    // Problems found before a later --help are reported only without it.
    std::string problem;
    std::vector<std::string> positionals;
    std::string listen = kDefaultListenAddress;
    bool optionsEnded = false;
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            positionals.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            line.help = true;
            return true;
        }
        if (arg == "--fail-uploads" && line.command == Command::Serve) {
            line.failUploads = true;
            continue;
        }

        std::string name = arg;
        std::string value;
        bool hasValue = false;
        const size_t equals = arg.find('=');
        if (equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            hasValue = true;
        }
        const bool known = name == "--data" ||
                           (line.command == Command::Serve && (name == "--listen" || name == "--max-body" ||
                                                             name == "--tls-cert" || name == "--tls-key"));
        if (!known) {
            if (problem.empty())
                problem = "unknown option '" + name + "' for " + command + " (try " + command + " --help)";
            continue;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                if (problem.empty())
                    problem = "option " + name + " needs a value";
                continue;
            }
            value = args[++i];
        }

        if (name == "--data") {
            line.dataDir = value;
        } else if (name == "--listen") {
            listen = value;
        } else if (name == "--tls-cert" || name == "--tls-key") {
            (name == "--tls-cert" ? line.tlsCert : line.tlsKey) = value;
            if (value.empty() && problem.empty())
                problem = "option " + name + " needs a file";
        } else if (!ParseByteCount(value, line.maxBody) && problem.empty()) {
            problem = "bad --max-body '" + value + "': expected a byte count from 1 to 512M, suffix K, M or G allowed";
        }
    }
    if (!problem.empty()) {
        error = problem;
        return false;
    }

    if (line.dataDir.empty()) {
        error = command + " needs --data DIR";
        return false;
    }
    if (line.command == Command::Serve && !ParseListenAddress(listen, line.listen, error))
        return false;
    if (line.tlsCert.empty() != line.tlsKey.empty()) {
        error = line.tlsCert.empty() ? "--tls-key needs --tls-cert" : "--tls-cert needs --tls-key";
        return false;
    }

    size_t wanted = 0;
    const char* shape = "";
    if (line.command == Command::Show) {
        wanted = 1;
        shape = "show needs one report ID";
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
    if (wanted > 0 && !ParseId(positionals[0], line.id)) {
        error = "bad report id '" + positionals[0] + "': expected a positive whole number";
        return false;
    }
    if (wanted == 2) {
        line.outDir = positionals[1];
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
    case Command::None:
        break;
    }
    return kProgramUsage;
}
