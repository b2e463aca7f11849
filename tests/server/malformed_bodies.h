// Bodies that break one rule of the record format each, made from a valid
// report, with a part of the reason the server must give.
#pragma once

#include <string>
#include <vector>

struct MalformedBody
{
    std::string name;
    std::string body;
    std::string reasonPart;
};

std::vector<MalformedBody> MakeMalformedBodies();

// The valid body they are made from.
std::string MakeSmallValidBody();
