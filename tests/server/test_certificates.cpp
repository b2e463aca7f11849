#include "tests/server/test_certificates.h"

#include <cstdlib>

std::string MakeTestCertificates(const TempFolder& folder)
{
    const std::string out = folder.Path() + "/tls";
    const std::string command = std::string("'") + BREVORA_TEST_CERTIFICATE_SCRIPT + "' '" + out + "'";
    return std::system(command.c_str()) == 0 ? out : std::string();
}
