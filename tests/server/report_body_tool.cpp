// Writes the body the reporter would upload for the given texts and log
// file, for tests outside C++ (the browser scenario):
//   report_body_tool EMAIL WHAT-HAPPENED LOG-FILE [COMPONENT [VERSION]] > body
#include <cstdio>
#include <fstream>
#include <sstream>

#include "tests/server/report_factory.h"

int main(int argc, char** argv)
{
    if (argc < 4 || argc > 6) {
        std::fputs("usage: report_body_tool EMAIL WHAT-HAPPENED LOG-FILE [COMPONENT [VERSION]]\n", stderr);
        return 2;
    }
    std::ifstream in(argv[3], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "report_body_tool: cannot read %s\n", argv[3]);
        return 1;
    }
    std::stringstream log;
    log << in.rdbuf();
    ReportInput input;
    input.email = argv[1];
    input.description1 = "Steps: open the editor and save.";
    input.description2 = argv[2];
    input.description3 = "The file is saved.";
    input.systemInfo = "OS: Windows 10\nMemory: 16 GB";
    // The chosen component travels as the last line of record 5, followed
    // by the installed version and the code page.
    if (argc >= 5)
        input.systemInfo += std::string("\nElement=") + argv[4];
    if (argc == 6)
        input.systemInfo += std::string("\nVersion=") + argv[5] + "\nCodePage=1252";
    input.dxdiag = MakePresentFile("DxDiag report\n");
    input.log = MakePresentFile(log.str());
    const std::string body = EncodeReport(input);
    return std::fwrite(body.data(), 1, body.size(), stdout) == body.size() ? 0 : 1;
}
