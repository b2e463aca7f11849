// Stand-in for the user's mail program: a mapi32.dll that records what
// MAPISendMail receives instead of opening a compose window.
//
//   BREVORA_MAPI_RECORD  file that every load, unload and call is appended to
//   BREVORA_MAPI_RESULT  SUCCESS_SUCCESS (default), MAPI_USER_ABORT or MAPI_E_FAILURE
//   BREVORA_MAPI_HOLD    if set, MAPISendMail returns only once this file exists
//                        (the "compose window" stays open until then)
//
// Texts are written in hex so that every byte survives; null pointers as "null".
#include <windows.h>
#include <mapi.h>

#include <cstdio>
#include <string>

namespace {

std::string GetEnv(const char* name)
{
    char value[MAX_PATH * 2];
    DWORD len = GetEnvironmentVariableA(name, value, sizeof(value));
    return (len > 0 && len < sizeof(value)) ? std::string(value, len) : std::string();
}

void AppendRecord(const std::string& text)
{
    std::string path = GetEnv("BREVORA_MAPI_RECORD");
    if (path.empty())
        return;
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, NULL);
    CloseHandle(file);
}

std::string Hex(const char* text)
{
    if (text == NULL)
        return "null";
    std::string out = "hex:";
    char byte[3];
    for (const char* p = text; *p != '\0'; ++p) {
        std::snprintf(byte, sizeof(byte), "%02x", static_cast<unsigned char>(*p));
        out += byte;
    }
    return out;
}

std::string Number(unsigned long long value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%llu", value);
    return text;
}

std::string Pointer(const void* p)
{
    return p == NULL ? "null" : "set";
}

std::string DescribeRecip(const char* what, const MapiRecipDesc& r)
{
    return std::string(what) + " reserved=" + Number(r.ulReserved) + " class=" + Number(r.ulRecipClass) +
           " name=" + Hex(r.lpszName) + " address=" + Hex(r.lpszAddress) + " eidsize=" + Number(r.ulEIDSize) +
           " entryid=" + Pointer(r.lpEntryID) + "\n";
}

ULONG ChosenResult()
{
    std::string result = GetEnv("BREVORA_MAPI_RESULT");
    if (result == "MAPI_USER_ABORT")
        return MAPI_USER_ABORT;
    if (result == "MAPI_E_FAILURE")
        return MAPI_E_FAILURE;
    return SUCCESS_SUCCESS;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        AppendRecord("attach\n");
    else if (reason == DLL_PROCESS_DETACH)
        AppendRecord("detach\n");
    return TRUE;
}

ULONG WINAPI MAPILogon(ULONG_PTR, LPSTR, LPSTR, FLAGS, ULONG, LPLHANDLE session)
{
    AppendRecord("call MAPILogon\n");
    if (session != NULL)
        *session = 1;
    return SUCCESS_SUCCESS;
}

ULONG WINAPI MAPISendMail(LHANDLE session, ULONG_PTR uiParam, lpMapiMessage message, FLAGS flags, ULONG reserved)
{
    std::string r = "call MAPISendMail\n";
    r += "session " + Number(session) + "\n";
    r += "uiparam " + Number(uiParam) + "\n";
    r += "flags " + Number(flags) + "\n";
    r += "reserved " + Number(reserved) + "\n";
    r += "message " + Pointer(message) + "\n";
    if (message != NULL) {
        r += "msgreserved " + Number(message->ulReserved) + "\n";
        r += "subject " + Hex(message->lpszSubject) + "\n";
        r += "notetext " + Hex(message->lpszNoteText) + "\n";
        r += "messagetype " + Hex(message->lpszMessageType) + "\n";
        r += "datereceived " + Hex(message->lpszDateReceived) + "\n";
        r += "conversationid " + Hex(message->lpszConversationID) + "\n";
        r += "msgflags " + Number(message->flFlags) + "\n";
        r += "originator " + Pointer(message->lpOriginator) + "\n";
        if (message->lpOriginator != NULL)
            r += DescribeRecip("from", *message->lpOriginator);
        r += "recipcount " + Number(message->nRecipCount) + "\n";
        r += "recips " + Pointer(message->lpRecips) + "\n";
        for (ULONG i = 0; message->lpRecips != NULL && i < message->nRecipCount; ++i)
            r += DescribeRecip("recip", message->lpRecips[i]);
        r += "filecount " + Number(message->nFileCount) + "\n";
        r += "files " + Pointer(message->lpFiles) + "\n";
        for (ULONG i = 0; message->lpFiles != NULL && i < message->nFileCount; ++i) {
            const MapiFileDesc& f = message->lpFiles[i];
            r += "file reserved=" + Number(f.ulReserved) + " flags=" + Number(f.flFlags) +
                 " position=" + Number(f.nPosition) + " path=" + Hex(f.lpszPathName) +
                 " name=" + Hex(f.lpszFileName) + " filetype=" + Pointer(f.lpFileType) + "\n";
        }
    }
    AppendRecord(r);

    std::string hold = GetEnv("BREVORA_MAPI_HOLD");
    while (!hold.empty() && GetFileAttributesA(hold.c_str()) == INVALID_FILE_ATTRIBUTES)
        Sleep(50);

    ULONG result = ChosenResult();
    // When it returned, for the tests that time what follows (GetTickCount
    // is the same clock in every process).
    AppendRecord("returned-at " + Number(GetTickCount()) + "\n");
    AppendRecord("return " + Number(result) + "\n");
    return result;
}

ULONG WINAPI MAPILogoff(LHANDLE, ULONG_PTR, FLAGS, ULONG)
{
    AppendRecord("call MAPILogoff\n");
    return SUCCESS_SUCCESS;
}

}  // extern "C"
