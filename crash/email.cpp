#include "crash/email.h"

#include <utility>
#include <vector>

CEmail::CEmail()
    : m_hMapi(NULL),
      m_pfnMAPILogon(NULL),
      m_pfnMAPISendMail(NULL),
      m_pfnMAPILogoff(NULL),
      m_bMapiLoaded(FALSE)
{
}

CEmail::~CEmail()
{
    if (m_bMapiLoaded)
        FreeLibrary(m_hMapi);
}

template <typename Fn> static Fn GetEntryPoint(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

BOOL CEmail::LoadMapi()
{
    m_hMapi = LoadLibraryW(L"mapi32.dll");
    if (m_hMapi == NULL)
        return FALSE;

    m_pfnMAPILogon = GetEntryPoint<LPMAPILOGON>(m_hMapi, "MAPILogon");
    m_pfnMAPISendMail = GetEntryPoint<LPMAPISENDMAIL>(m_hMapi, "MAPISendMail");
    m_pfnMAPILogoff = GetEntryPoint<LPMAPILOGOFF>(m_hMapi, "MAPILogoff");
    m_bMapiLoaded = (m_pfnMAPILogon != NULL && m_pfnMAPISendMail != NULL && m_pfnMAPILogoff != NULL);

    if (!m_bMapiLoaded) {
        // An incomplete library is of no use; release it now rather than
        // holding one more reference at every retry.
        FreeLibrary(m_hMapi);
        m_hMapi = NULL;
        m_pfnMAPILogon = NULL;
        m_pfnMAPISendMail = NULL;
        m_pfnMAPILogoff = NULL;
    }
    return m_bMapiLoaded;
}

// A library that failed to load is tried again at every guarded operation.
bool CEmail::EnsureMapi()
{
    return m_bMapiLoaded || LoadMapi();
}

void CEmail::SetFrom(std::string address, std::string name)
{
    if (EnsureMapi())
        m_from[address] = std::move(name);
}

void CEmail::AddTo(std::string address, std::string name)
{
    if (EnsureMapi())
        m_to[address] = std::move(name);
}

CEmail& CEmail::AddAttachment(std::string path, std::string name)
{
    if (EnsureMapi())
        m_attachments[path] = std::move(name);
    return *this;
}

void CEmail::SetSubject(std::string text)
{
    m_subject = std::move(text);
}

void CEmail::SetBody(std::string text)
{
    m_body = std::move(text);
}

static void AppendRecipients(const StringMap& map, ULONG recipClass, std::vector<MapiRecipDesc>& recips)
{
    for (const auto& entry : map) {
        MapiRecipDesc r = {};
        r.ulRecipClass = recipClass;
        // Simple MAPI takes non-const text; it does not write through it.
        r.lpszName = const_cast<LPSTR>(entry.second.c_str());
        r.lpszAddress = const_cast<LPSTR>(entry.first.c_str());
        recips.push_back(r);
    }
}

bool CEmail::Send()
{
    return SendMail() == SUCCESS_SUCCESS;
}

ULONG CEmail::SendMail()
{
    if (!EnsureMapi())
        return MAPI_E_FAILURE;

    const size_t nRecipAll = m_from.size() + m_to.size() + m_cc.size() + m_bcc.size();
    const size_t nFiles = m_attachments.size();

    // The originator, if any, comes first; the rest follow by class.
    std::vector<MapiRecipDesc> recips;
    recips.reserve(nRecipAll);
    AppendRecipients(m_from, MAPI_ORIG, recips);
    AppendRecipients(m_to, MAPI_TO, recips);
    AppendRecipients(m_cc, MAPI_CC, recips);
    AppendRecipients(m_bcc, MAPI_BCC, recips);

    std::vector<MapiFileDesc> files;
    files.reserve(nFiles);
    for (const auto& entry : m_attachments) {
        MapiFileDesc f = {};
        f.nPosition = static_cast<ULONG>(-1);  // not placed inside the text
        f.lpszPathName = const_cast<LPSTR>(entry.first.c_str());
        f.lpszFileName = const_cast<LPSTR>(entry.second.c_str());
        files.push_back(f);
    }

    const size_t nFrom = m_from.size();
    MapiMessage message = {};
    message.lpszSubject = const_cast<LPSTR>(m_subject.c_str());
    message.lpszNoteText = const_cast<LPSTR>(m_body.c_str());
    message.lpOriginator = nFrom > 0 ? &recips[0] : NULL;
    message.nRecipCount = static_cast<ULONG>(nRecipAll - nFrom);
    message.lpRecips = message.nRecipCount > 0 ? &recips[nFrom] : NULL;
    message.nFileCount = static_cast<ULONG>(nFiles);
    message.lpFiles = nFiles > 0 ? files.data() : NULL;

    return m_pfnMAPISendMail(0, 0, &message, MAPI_DIALOG, 0);
}
