#include "app/cmdline.h"

#include <windows.h>

#include <cstring>

#include "app/split_command_line.h"

CCmdLine::CCmdLine()
{
    const char* pszLine = GetCommandLineA();
    const size_t cbLine = std::strlen(pszLine) + 1;
    m_pszCopy = new char[cbLine];
    std::memcpy(m_pszCopy, pszLine, cbLine);
    SplitCommandLine(m_pszCopy, m_args);
}

CCmdLine::~CCmdLine()
{
    delete[] m_pszCopy;
}
