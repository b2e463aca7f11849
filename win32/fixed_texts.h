// Texts that more than one part of the program shows, sends or writes: one
// definition each, so a caption or a profile key cannot drift apart.
#pragma once

#include <windows.h>

// Caption of every message box, and the agent of every request.
const WCHAR kCaption[] = L"Brevora Bug Reporter";
const WCHAR kInternetAgent[] = L"Brevora Bug Reporter";
// The mail's subject (8-bit: the mail is 8-bit text).
const char kMailSubject[] = "Brevora Bug Reporter";

// Sections of the report profile.
const WCHAR kProfileSectionDxDiag[] = L"DxDiag";
const WCHAR kProfileSectionSystemInfo[] = L"System Information";
const WCHAR kProfileSectionBugReport[] = L"Bug Report";

// Keys of [DxDiag] and [Bug Report].
const WCHAR kProfileKeyContent[] = L"Content";
const WCHAR kProfileKeyElement[] = L"Element";
const WCHAR kProfileKeySteps[] = L"Steps";
const WCHAR kProfileKeyHappened[] = L"Happened";
const WCHAR kProfileKeyShouldHappen[] = L"ShouldHappen";
const WCHAR kProfileKeyEmail[] = L"Email";
const WCHAR kProfileKeyAllowContact[] = L"AllowContact";
const WCHAR kProfileKeyVersion[] = L"Version";
