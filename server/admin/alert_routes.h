// The Alerts page of the maintainers' interface: the rules, a form to add
// one, and the recent deliveries with what became of them.
#pragma once

#include <httplib.h>

#include "server/admin/admin_service.h"

// Installs nothing when the service has no alert store.
void InstallAlertRoutes(httplib::Server& server, AdminService& service);
