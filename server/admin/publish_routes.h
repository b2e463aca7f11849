// Publishing what the reporter asks for: the component list and the
// latest version with its update address.
#pragma once

#include <httplib.h>

#include "server/admin/admin_service.h"

void InstallPublishRoutes(httplib::Server& server, AdminService& service);
