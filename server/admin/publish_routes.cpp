#include "server/admin/publish_routes.h"

#include <algorithm>
#include <vector>

#include "server/admin/admin_answers.h"
#include "server/base/file_io.h"
#include "server/base/log_text.h"

namespace {

const size_t kLargestQueryAnswer = 2048;  // the reporter reads no more of a query's answer

// The two lines of latest_version.txt, as the reporter reads them.
void SplitLatestVersion(const std::string& text, std::string& version, std::string& address)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size() && lines.size() < 2) {
        const size_t end = std::min(text.find('\n', at), text.size());
        if (end > at)
            lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    version = lines.size() > 0 ? lines[0] : std::string();
    address = lines.size() > 1 ? lines[1] : std::string();
}

void ServePublishPage(AdminService& service, httplib::Response& res, int status, const std::string& message)
{
    std::string components;
    std::string latest;
    std::string error;
    if (ReadWholeFile(service.dataDir + "/components.txt", components, error) == ReadResult::Failed ||
        ReadWholeFile(service.dataDir + "/latest_version.txt", latest, error) == ReadResult::Failed) {
        AnswerText(res, 500, error);
        return;
    }
    std::string version;
    std::string address;
    SplitLatestVersion(latest, version, address);
    AnswerPage(res, status, RenderPublishPage(MakeFrame(message), components, version, address));
}

// A browser sends a textarea's lines with CR LF; the reporter splits on LF
// and would keep the CR in each name.
std::string NormaliseLines(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i] == '\r' ? '\n' : text[i];
    }
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out.empty() ? out : out + "\n";
}

bool HasLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

void Publish(AdminService& service, const httplib::Request& req, httplib::Response& res)
{
    const std::string components = NormaliseLines(req.get_param_value("components"));
    const std::string version = req.get_param_value("version");
    const std::string address = req.get_param_value("update_address");
    const std::string latest = version + "\n" + address + "\n";
    std::string problem;
    if (version.empty() || HasLineBreak(version) || HasLineBreak(address))
        problem = "The version and the update address are one line each, and the version is needed.";
    else if (!address.empty() && address.compare(0, 7, "http://") != 0 && address.compare(0, 8, "https://") != 0)
        problem = "The update address starts with http:// or https://.";
    else if (components.size() > kLargestQueryAnswer || latest.size() > kLargestQueryAnswer)
        problem = "The reporter reads at most " + std::to_string(kLargestQueryAnswer) + " bytes of each.";
    if (!problem.empty()) {
        ServePublishPage(service, res, 400, problem);
        return;
    }
    std::string error;
    {
        std::lock_guard<std::mutex> lock(service.publishMutex);
        if (!ReplaceFileAtomically(service.dataDir + "/components.txt", components, error) ||
            !ReplaceFileAtomically(service.dataDir + "/latest_version.txt", latest, error)) {
            AnswerText(res, 500, error);
            return;
        }
    }
    if (service.log != nullptr) {
        std::fprintf(service.log, "%s admin: %s published the components and latest version %s\n",
                     FormatUtcNow().c_str(), EscapeControlBytes(g_current.session.user, false).c_str(),
                     EscapeControlBytes(version, false).c_str());
        std::fflush(service.log);
    }
    ServePublishPage(service, res, 200, "Published.");
}

}  // namespace

void InstallPublishRoutes(httplib::Server& server, AdminService& service)
{
    server.Get("/publish", [&service](const httplib::Request&, httplib::Response& res) {
        ServePublishPage(service, res, 200, "");
    });
    AddPost(server, "/publish",
            [&service](const httplib::Request& req, httplib::Response& res) { Publish(service, req, res); });
}
