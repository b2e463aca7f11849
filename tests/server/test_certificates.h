// The certificates of the HTTPS tests (tests/common/make_test_certificates.sh).
#pragma once

#include <string>

#include "tests/server/temp_folder.h"

// Makes the test authority and server certificates afresh in a folder
// under folder; its path, or empty when the script failed.
std::string MakeTestCertificates(const TempFolder& folder);
