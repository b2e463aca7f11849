// Child process of cmdline_test: prints what CCmdLine made of its own
// command line, one argument a line in hex so any byte survives the pipe.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "app/cmdline.h"

int main()
{
    CCmdLine cmdLine;
    std::printf("count %u\n", static_cast<unsigned>(cmdLine.size()));
    for (size_t i = 0; i < cmdLine.size(); ++i) {
        std::printf("arg ");
        for (const char* p = cmdLine[i]; *p != '\0'; ++p)
            std::printf("%02x", static_cast<unsigned char>(*p));
        std::printf("\n");
    }
    return 0;
}
