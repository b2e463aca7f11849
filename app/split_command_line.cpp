#include "app/split_command_line.h"

#include <cctype>

static bool IsSeparator(char c)
{
    // Bytes of 0x80 and above are argument bytes; isspace() must not see them
    // as negative values.
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

static bool IsClosingQuote(const char* p)
{
    return p[0] == '"' && (p[1] == '\0' || IsSeparator(p[1]));
}

void SplitCommandLine(char* text, std::vector<char*>& args)
{
    char* p = text;
    while (*p != '\0') {
        while (IsSeparator(*p))
            ++p;

        // A run of trailing whitespace still yields one (empty) argument here.
        const bool quoted = (*p == '"');
        if (quoted)
            ++p;
        args.push_back(p);

        if (quoted) {
            char* q = p;
            while (*q != '\0' && !IsClosingQuote(q))
                ++q;
            if (*q == '\0')
                return;  // unbalanced quote: the argument runs to the end
            *q = '\0';
            if (q[1] == '\0')
                return;
            p = q + 2;  // over the quote and the one separator after it
        } else {
            char* q = p;
            while (*q != '\0' && !IsSeparator(*q))
                ++q;
            if (*q == '\0')
                return;
            *q = '\0';
            p = q + 1;
        }
    }
}
