// The maintainers' listener: log-in, the report list and pages, downloads,
// triage, the overview and publishing, behind sessions. Installed on its
// own server; it has no upload route, and the reporters' server has none
// of these.
#pragma once

#include <httplib.h>

#include "server/admin/admin_service.h"

void InstallAdminRoutes(httplib::Server& server, AdminService& service);
