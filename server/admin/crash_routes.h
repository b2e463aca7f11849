// The crash pages of the maintainers' interface: the top crashes, each
// group with its status, and the release binaries with their upload.
#pragma once

#include <httplib.h>

#include "server/admin/admin_service.h"

// Installs nothing when the service has no crash processing.
void InstallCrashRoutes(httplib::Server& server, AdminService& service);
