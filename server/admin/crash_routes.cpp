#include "server/admin/crash_routes.h"

#include "server/admin/admin_answers.h"
#include "server/admin/admin_auth.h"
#include "server/admin/crash_pages.h"
#include "server/base/decimal_text.h"
#include "server/base/log_text.h"

namespace {

const int64_t kGroupReportsShown = 100;
const size_t kLongestVersion = 64;

// A crash report answered 201 is in its group on the next page.
CrashStore& ReadyCrashStore(AdminService& service)
{
    service.crashes->queue->Flush();
    return *service.crashes->store;
}

void ServeCrashList(AdminService& service, const httplib::Request& req, httplib::Response& res)
{
    CrashListView view;
    view.period = req.get_param_value("days");
    if (view.period != "30" && view.period != "all")
        view.period = "7";
    view.version = req.get_param_value("version");
    GroupQuery query;
    query.days = view.period == "all" ? 0 : std::stoi(view.period);
    query.version = view.version;
    query.todayUtc = FormatUtcNow().substr(0, 10);
    std::string error;
    if (!ReadyCrashStore(service).ListTopGroups(query, view.groups, error)) {
        LogStoreError(service, error);
        AnswerText(res, 500, "cannot read the crash groups");
        return;
    }
    AnswerPage(res, 200, RenderCrashList(MakeFrame(), view));
}

void ServeCrashGroup(AdminService& service, const httplib::Request& req, httplib::Response& res, int status,
                     const std::string& message)
{
    int64_t id = 0;
    if (!ParsePositiveId(req.matches[1], id)) {
        AnswerText(res, 404, "no such crash group");
        return;
    }
    CrashStore& crashes = ReadyCrashStore(service);
    CrashGroup group;
    std::vector<std::pair<std::string, int64_t>> days;
    std::vector<int64_t> reports;
    CrashAnalysis newest;
    std::string error;
    const LoadResult loaded = crashes.LoadGroup(id, group, days, reports, kGroupReportsShown, error);
    if (loaded == LoadResult::NotFound) {
        AnswerText(res, 404, "no crash group " + std::to_string(id));
        return;
    }
    if (loaded == LoadResult::Failed ||
        (!reports.empty() && crashes.LoadAnalysis(reports.front(), newest, error) == LoadResult::Failed)) {
        LogStoreError(service, error);
        AnswerText(res, 500, "cannot read the crash group");
        return;
    }
    AnswerPage(res, status, RenderCrashGroup(MakeFrame(message), group, days, newest, reports));
}

void StoreGroupStatus(AdminService& service, const httplib::Request& req, httplib::Response& res)
{
    int64_t id = 0;
    if (!ParsePositiveId(req.matches[1], id)) {
        AnswerText(res, 404, "no such crash group");
        return;
    }
    const std::string status = req.get_param_value("status");
    const std::string fixedVersion = status == "fixed" ? req.get_param_value("fixed_version") : std::string();
    if (!IsGroupStatus(status) || fixedVersion.size() > kLongestVersion ||
        fixedVersion.find_first_of("\r\n") != std::string::npos) {
        ServeCrashGroup(service, req, res, 400, "The status is one of the list; a version is one short line.");
        return;
    }
    std::string error;
    const StoreAnswer stored = service.crashes->store->SetGroupStatus(id, status, fixedVersion, error);
    if (stored == StoreAnswer::NotFound) {
        AnswerText(res, 404, "no crash group " + std::to_string(id));
        return;
    }
    if (stored == StoreAnswer::Failed) {
        LogStoreError(service, error);
        AnswerText(res, 500, "cannot store the status");
        return;
    }
    res.set_redirect("/crashes/" + std::to_string(id), 303);
}

void ServeBinaries(AdminService& service, httplib::Response& res, int status, const std::string& message)
{
    std::vector<StoredBinary> binaries;
    std::string error;
    if (!service.crashes->store->ListBinaries(binaries, error)) {
        LogStoreError(service, error);
        AnswerText(res, 500, "cannot read the binaries");
        return;
    }
    AnswerPage(res, status, RenderBinaries(MakeFrame(message), binaries));
}

// A multipart form: its token is one of its parts, not a parameter.
void AddBinaries(AdminService& service, const httplib::Request& req, httplib::Response& res)
{
    if (!AreTokensEqual(req.get_file_value("csrf").content, g_current.session.csrfToken)) {
        AnswerText(res, 403, "refused: the form is stale or came from elsewhere; reload the page");
        return;
    }
    std::string message;
    const auto parts = req.files.equal_range("binary");
    for (auto part = parts.first; part != parts.second; ++part) {
        const httplib::MultipartFormData& file = part->second;
        std::vector<int64_t> affected;
        std::string error;
        if (!AddReleaseBinary(*service.crashes->store, file.filename, file.content, affected, error)) {
            ServeBinaries(service, res, 400, MakeDisplayText(error));
            return;
        }
        // Processed by the crash thread, not while the browser waits: a
        // release may be in thousands of reports.
        for (int64_t id : affected)
            QueueCrashReport(*service.crashes, id);
        message += MakeDisplayText(file.filename) + ": stored; " + std::to_string(affected.size()) +
                   " crash reports to be processed again. ";
    }
    ServeBinaries(service, res, 200, message.empty() ? "No file was sent." : message);
}

}  // namespace

void InstallCrashRoutes(httplib::Server& server, AdminService& service)
{
    if (service.crashes == nullptr)
        return;
    server.Get("/crashes", [&service](const httplib::Request& req, httplib::Response& res) {
        ServeCrashList(service, req, res);
    });
    server.Get(R"(/crashes/(\d+))", [&service](const httplib::Request& req, httplib::Response& res) {
        ServeCrashGroup(service, req, res, 200, "");
    });
    AddPost(server, R"(/crashes/(\d+)/status)",
            [&service](const httplib::Request& req, httplib::Response& res) { StoreGroupStatus(service, req, res); });
    server.Get("/binaries",
               [&service](const httplib::Request&, httplib::Response& res) { ServeBinaries(service, res, 200, ""); });
    server.Post("/binaries",
                [&service](const httplib::Request& req, httplib::Response& res) { AddBinaries(service, req, res); });
}
