// Command lines and the arguments they must split into, written with
// visible stand-ins: '_' is one space byte, '>' one tab byte and 'Q' one
// double quote. Shared by the native test of the split and the Windows test
// of CCmdLine in a real child process.
#pragma once

#include <string>
#include <vector>

struct CmdLineCase
{
    const char* name;
    const char* line;
    std::vector<std::string> args;
};

// Turns the visible notation into the bytes it stands for.
inline std::string DecodeCmdLineNotation(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '_': out += ' '; break;
        case '>': out += '\t'; break;
        case 'Q': out += '"'; break;
        default: out += c; break;
        }
    }
    return out;
}

inline std::vector<CmdLineCase> CmdLineCases()
{
    return {
        { "EmptyText",              "",                 {} },
        { "OnlySpaces",             "___",              { "" } },
        { "ThreeUnquoted",          "prog_a_b",         { "prog", "a", "b" } },
        { "LeadingSpacesAndTab",    "__prog>a",         { "prog", "a" } },
        { "QuotedPathWithSpace",    "Qc:\\my_dir\\r.exeQ_a", { "c:\\my_dir\\r.exe", "a" } },
        { "OneTrailingSpace",       "prog_a_",          { "prog", "a" } },
        { "TwoTrailingSpaces",      "prog_a__",         { "prog", "a", "" } },
        { "QuotedOneTrailing",      "QaQ_",             { "a" } },
        { "QuotedTwoTrailing",      "QaQ__",            { "a", "" } },
        { "QuotedThenSpacesThenB",  "QaQ___b",          { "a", "b" } },
        { "LoneQuote",              "Q",                { "" } },
        { "EmptyQuotedAtEnd",       "prog_QQ",          { "prog", "" } },
        { "EmptyQuotedThenB",       "QQ_b",             { "", "b" } },
        { "QuoteInsideQuoted",      "QaQb_cQ",          { "aQb_c" } },
        { "DoubledQuoteInside",     "QaQQbQ",           { "aQQb" } },
        { "UnclosedQuote",          "Qabc_def_",        { "abc_def_" } },
        { "QuotesInsideUnquoted",   "abQcd_efQ",        { "abQcd", "efQ" } },
        { "BackslashDoesNotEscape", "a\\Q_b",           { "a\\Q", "b" } },
        // A program path and three quoted paths select crash mode (4) ...
        { "ProgramAndThreePaths",   "QC:\\b.exeQ_Qd.dmpQ_Qb.logQ_Qb.confQ",  { "C:\\b.exe", "d.dmp", "b.log", "b.conf" } },
        // ... and two whitespace bytes after them give a fifth, empty argument.
        { "ThreePathsTwoTrailing",  "QC:\\b.exeQ_Qd.dmpQ_Qb.logQ_Qb.confQ__", { "C:\\b.exe", "d.dmp", "b.log", "b.conf", "" } },
    };
}
