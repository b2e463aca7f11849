// Reads an extended dialog template (DLGTEMPLATEEX) the way the dialog
// manager does, so tests can compare every field with what is expected.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A name-or-ordinal field: empty (0), an ordinal (0xFFFF, n) or a string.
struct SzOrOrd
{
    bool isOrdinal = false;
    WORD ordinal = 0;
    std::wstring text;
    bool IsEmpty() const { return !isOrdinal && text.empty(); }
};

struct DialogItem
{
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    SzOrOrd windowClass;
    SzOrOrd title;
    WORD extraCount = 0;
};

struct DialogTemplate
{
    WORD version = 0;
    WORD signature = 0;
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    WORD itemCount = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    SzOrOrd menu;
    SzOrOrd windowClass;
    std::wstring title;
    WORD pointSize = 0;
    WORD weight = 0;
    BYTE italic = 0;
    BYTE charset = 0;
    std::wstring typeface;
    std::vector<DialogItem> items;
};

// Parses size bytes at data. Returns false (with why) when the bytes do not
// hold a complete extended template.
bool ParseDialogTemplateEx(const void* data, size_t size, DialogTemplate& out, std::string& why);
