// Bodies that break one rule of the record format each, made from a valid
// report, with a part of the reason the server must give.
#pragma once

#include <ostream>
#include <string>
#include <vector>

struct MalformedBody
{
    std::string name;
    std::string body;
    std::string reasonPart;
};

// Shown by name in test failures, not as bytes.
inline void PrintTo(const MalformedBody& body, std::ostream* os)
{
    *os << body.name;
}

std::vector<MalformedBody> MakeMalformedBodies();

// The valid body they are made from.
std::string MakeSmallValidBody();
