#include "server/admin/alert_routes.h"

#include <kainjow/mustache.hpp>

#include "server/admin/admin_answers.h"
#include "server/alerts/alert_transport.h"
#include "server/base/decimal_text.h"
#include "server/base/log_text.h"

using kainjow::mustache::data;
using kainjow::mustache::mustache;

namespace {

const int kDeliveriesShown = 100;
const size_t kLongestField = 2048;

const char kAlertsTemplate[] = R"HTML(<h1>Alerts</h1>
<p>Each rule sends its events by webhook (JSON, signed when it has a secret) or by mail, from the server's outbox.</p>
<table class="alerts"><thead><tr><th>Rule</th><th>Events</th><th>Components</th><th>To</th><th></th></tr></thead><tbody>
{{#rules}}<tr><td>{{id}}</td><td>{{events}}</td><td>{{components}}</td><td>{{to}}</td><td><form method="post" action="/alerts/{{id}}/remove"><input type="hidden" name="csrf" value="{{csrf}}"><button type="submit">Remove</button></form></td></tr>
{{/rules}}{{^rules}}<tr><td colspan="5">No rule yet.</td></tr>{{/rules}}
</tbody></table>
<h2>New rule</h2>
<form method="post" action="/alerts" class="filters"><input type="hidden" name="csrf" value="{{csrf}}">
{{#events}}<label><input type="checkbox" name="on" value="{{.}}"> {{.}}</label> {{/events}}
<label>Webhook URL <input name="webhook" size="40"></label> <label>Secret <input name="secret" type="password" size="16"></label>
<label>or e-mail <input name="email" size="24"></label> <label>Components <input name="components" size="16"></label>
<button type="submit">Add</button></form>
<h2>Recent deliveries</h2>
<table class="alerts"><thead><tr><th>Time (UTC)</th><th>Rule</th><th>Event</th><th>Report</th><th>Status</th><th>Attempts</th><th>Last error</th></tr></thead><tbody>
{{#deliveries}}<tr><td>{{time}}</td><td>{{rule}}</td><td>{{event}}</td><td><a href="/reports/{{report}}">{{report}}</a></td><td class="status">{{status}}</td><td>{{attempts}}</td><td>{{error}}</td></tr>
{{/deliveries}}{{^deliveries}}<tr><td colspan="7">None yet.</td></tr>{{/deliveries}}
</tbody></table>
)HTML";

std::string JoinForPage(const std::vector<std::string>& items, const char* none)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ", ") + item;
    return text.empty() ? none : MakeDisplayText(text);
}

void ServeAlerts(AdminService& service, httplib::Response& res, int status, const std::string& message)
{
    std::vector<AlertRule> rules;
    std::vector<AlertDelivery> deliveries;
    std::string error;
    if (!service.alerts->ListRules(rules, error) || !service.alerts->ListDeliveries(kDeliveriesShown, deliveries, error)) {
        LogStoreError(service, error);
        AnswerText(res, 500, "cannot read the alerts");
        return;
    }
    const PageFrame frame = MakeFrame(message);
    data page;
    page.set("csrf", frame.csrfToken);
    data ruleRows(data::type::list);
    for (const AlertRule& rule : rules) {
        data row;
        row.set("id", std::to_string(rule.id));
        row.set("csrf", frame.csrfToken);
        row.set("events", JoinForPage(rule.events, "-"));
        row.set("components", JoinForPage(rule.components, "any"));
        row.set("to", MakeDisplayText(!rule.webhookUrl.empty()
                                          ? rule.webhookUrl + (rule.secret.empty() ? "" : " (signed)")
                                          : rule.email));
        ruleRows.push_back(row);
    }
    page.set("rules", ruleRows);
    data events(data::type::list);
    for (const char* const* event = kAlertEvents; *event != nullptr; ++event)
        events.push_back(data(std::string(*event)));
    page.set("events", events);
    data deliveryRows(data::type::list);
    for (const AlertDelivery& d : deliveries) {
        data row;
        row.set("time", FormatTime(d.createdUtc));
        row.set("rule", std::to_string(d.rule.id));
        row.set("event", d.event);
        row.set("report", std::to_string(d.reportId));
        row.set("status", d.status);
        row.set("attempts", std::to_string(d.attempts));
        row.set("error", MakeDisplayText(d.lastError));
        deliveryRows.push_back(row);
    }
    page.set("deliveries", deliveryRows);
    AnswerPage(res, status, RenderFramedPage("Alerts", frame, mustache(kAlertsTemplate).render(page)));
}

void AddRule(AdminService& service, const httplib::Request& req, httplib::Response& res)
{
    AlertRule rule;
    for (size_t i = 0; i < req.get_param_value_count("on"); ++i)
        rule.events.push_back(req.get_param_value("on", i));
    rule.components = SplitAlertList(req.get_param_value("components"));
    rule.webhookUrl = req.get_param_value("webhook");
    rule.secret = req.get_param_value("secret");
    rule.email = req.get_param_value("email");
    rule.addedUtc = FormatUtcNow();
    std::string error;
    if (rule.webhookUrl.size() > kLongestField || rule.email.size() > kLongestField ||
        rule.secret.size() > kLongestField || !CheckAlertRule(rule, error) ||
        (!rule.secret.empty() && rule.webhookUrl.empty())) {
        ServeAlerts(service, res, 400,
                    error.empty() ? "A secret goes with a webhook; fields are at most 2048 bytes." : error);
        return;
    }
    if (!service.alerts->AddRule(rule, error)) {
        LogStoreError(service, error);
        AnswerText(res, 500, "cannot store the rule");
        return;
    }
    res.set_redirect("/alerts", 303);
}

void RemoveRule(AdminService& service, const httplib::Request& req, httplib::Response& res)
{
    int64_t id = 0;
    std::string error;
    const StoreAnswer removed =
        ParsePositiveId(req.matches[1], id) ? service.alerts->RemoveRule(id, error) : StoreAnswer::NotFound;
    if (removed == StoreAnswer::NotFound) {
        AnswerText(res, 404, "no such alert rule");
        return;
    }
    if (removed == StoreAnswer::Failed) {
        LogStoreError(service, error);
        AnswerText(res, 500, "cannot remove the rule");
        return;
    }
    res.set_redirect("/alerts", 303);
}

}  // namespace

void InstallAlertRoutes(httplib::Server& server, AdminService& service)
{
    if (service.alerts == nullptr)
        return;
    server.Get("/alerts",
               [&service](const httplib::Request&, httplib::Response& res) { ServeAlerts(service, res, 200, ""); });
    AddPost(server, "/alerts", [&service](const httplib::Request& req, httplib::Response& res) { AddRule(service, req, res); });
    AddPost(server, R"(/alerts/(\d+)/remove)",
            [&service](const httplib::Request& req, httplib::Response& res) { RemoveRule(service, req, res); });
}
