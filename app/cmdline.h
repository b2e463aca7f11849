// The process's command line, split into arguments once at start-up.
#pragma once

#include <cstddef>
#include <vector>

class CCmdLine
{
public:
    CCmdLine();
    ~CCmdLine();

    CCmdLine(const CCmdLine&) = delete;
    CCmdLine& operator=(const CCmdLine&) = delete;

    // Number of arguments, the program path counted.
    size_t size() const { return m_args.size(); }
    // Argument i (0 .. size() - 1), NUL-terminated, inside this object's copy.
    char* operator[](size_t i) const { return m_args[i]; }

private:
    char* m_pszCopy;             // owned, cut in place by the split
    std::vector<char*> m_args;   // points into m_pszCopy
};
