// A mail message handed to the user's mail program through Simple MAPI.
#pragma once

#include <windows.h>
#include <mapi.h>

#include <string>

#include "win32/string_map.h"

class CEmail
{
public:
    CEmail();
    virtual ~CEmail();

    CEmail(const CEmail&) = delete;
    CEmail& operator=(const CEmail&) = delete;

    // These three need the library and change nothing when it cannot be loaded.
    void SetFrom(std::string address, std::string name);
    void AddTo(std::string address, std::string name);
    CEmail& AddAttachment(std::string path, std::string name);

    void SetSubject(std::string text);
    void SetBody(std::string text);

    // Shows the mail program's compose window; true when it reports success.
    bool Send();
    // The same, with the mail program's answer: MAPISendMail's result, or
    // MAPI_E_FAILURE when the library or one of its entry points is missing.
    ULONG SendMail();

private:
    BOOL LoadMapi();
    bool EnsureMapi();

    StringMap m_from;          // address -> display name, at most one entry
    StringMap m_to;
    StringMap m_cc;
    StringMap m_bcc;
    StringMap m_attachments;   // path on disk -> name the receiver sees
    std::string m_subject;
    std::string m_body;

    HMODULE m_hMapi;
    LPMAPILOGON m_pfnMAPILogon;
    LPMAPISENDMAIL m_pfnMAPISendMail;
    LPMAPILOGOFF m_pfnMAPILogoff;
    BOOL m_bMapiLoaded;
};
