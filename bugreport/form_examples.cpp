#include "bugreport/form_examples.h"

#include "build_settings.h"

int g_bStepsCleared = 0;
int g_bHappenedCleared = 0;
int g_bShouldHappenCleared = 0;

// A bare line feed followed by a space; typographic quotes around add.
const WCHAR kStepsExample[] =
    L"eg. \"I wanted to scan my USB stick (2 GB) for music and clicked on\n \u201Cadd\u201D beside E:/ in the music section\"";
const WCHAR kHappenedExample[] = L"eg. \"Brevora was scanning my USB stick for 5 minutes and nothing\n happened\"";
const WCHAR kShouldHappenExample[] =
    L"eg. \"Brevora should have scanned my USB stick and showed me all\n the songs of my USB stick.\"";

const WCHAR kEmailExample[] = L"eg. \"" BREVORA_EXAMPLE_EMAIL L"\"";
