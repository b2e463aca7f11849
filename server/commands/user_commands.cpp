// user add, user remove, user list: the accounts of the maintainers' web
// interface.
#include <termios.h>
#include <unistd.h>

#include <iostream>

#include "server/admin/admin_auth.h"
#include "server/base/file_io.h"
#include "server/base/log_text.h"
#include "server/commands/commands.h"
#include "server/store/admin_store.h"
#include "server/store/store_factory.h"

namespace {

const size_t kShortestPassword = 8;

// One line of standard input, without its line break; echo off on a
// terminal (restored on every path).
bool ReadPasswordLine(const char* prompt, bool terminal, std::string& password)
{
    struct termios saved;
    const bool hidden = terminal && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (hidden) {
        struct termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        std::fputs(prompt, stderr);
        std::fflush(stderr);
    }
    const bool read = static_cast<bool>(std::getline(std::cin, password));
    if (hidden) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return read;
}

int AddUser(AdminStore& store, const std::string& name, FILE* out)
{
    const bool terminal = isatty(STDIN_FILENO) != 0;
    std::string password;
    if (!ReadPasswordLine("Password: ", terminal, password)) {
        PrintError("no password on standard input");
        return 1;
    }
    if (terminal) {
        std::string again;
        if (!ReadPasswordLine("Password again: ", terminal, again) || again != password) {
            PrintError("the passwords differ; no account added");
            return 1;
        }
    }
    if (password.size() < kShortestPassword) {
        PrintError("the password needs at least " + std::to_string(kShortestPassword) + " characters");
        return 1;
    }
    std::string hash;
    if (!StartPasswordHashing() || !HashPassword(password, hash)) {
        PrintError("cannot hash the password (out of memory?)");
        return 1;
    }
    std::string error;
    switch (store.AddUser(name, hash, FormatUtcNow(), error)) {
    case StoreAnswer::Done:
        std::fprintf(out, "added %s\n", name.c_str());
        return 0;
    case StoreAnswer::NotFound:
        PrintError("an account named '" + name + "' exists already");
        return 1;
    case StoreAnswer::Failed:
        break;
    }
    PrintError(error);
    return 1;
}

}  // namespace

int RunUser(const CommandLine& line, FILE* out)
{
    std::string error;
    if (line.databaseUrl.empty() && !CreateFolders(line.dataDir, error)) {
        PrintError("cannot create the data folder '" + line.dataDir + "': " + error);
        return 1;
    }
    std::unique_ptr<AdminStore> store = OpenAdminStore(line.dataDir, line.databaseUrl, error);
    if (!store) {
        PrintError(error);
        return 1;
    }
    if (line.userAction == UserAction::Add)
        return AddUser(*store, line.userName, out);
    if (line.userAction == UserAction::Remove) {
        const StoreAnswer answer = store->RemoveUser(line.userName, error);
        if (answer == StoreAnswer::Done) {
            std::fprintf(out, "removed %s\n", line.userName.c_str());
            return 0;
        }
        PrintError(answer == StoreAnswer::NotFound ? "no account named '" + line.userName + "'" : error);
        return 1;
    }
    std::vector<AdminUser> users;
    if (!store->ListUsers(users, error)) {
        PrintError(error);
        return 1;
    }
    for (const AdminUser& user : users)
        std::fprintf(out, "%s\t%s\n", user.name.c_str(), user.createdUtc.c_str());
    return 0;
}
