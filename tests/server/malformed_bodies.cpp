#include "tests/server/malformed_bodies.h"

#include "report_format/base64.h"
#include "report_format/record_format.h"

namespace {

// One string per record: key, payload and "\n\n".
typedef std::vector<std::string> Records;

std::string Encode(const std::string& bytes)
{
    return Base64Encode(static_cast<uint32_t>(bytes.size()), bytes.data());
}

std::string Wrap(const std::string& text)
{
    return WrapBase64Lines(text.data(), text.size());
}

std::string MakeRecord(ReportRecord record, const std::string& payload)
{
    return std::string(GetRecordKey(record)) + payload + "\n\n";
}

// 200 bytes of diagnostic report: 268 base64 characters in lines of 100,
// 100 and 68.
std::string DxDiagBytes()
{
    std::string bytes;
    for (int i = 0; i < 200; ++i)
        bytes += static_cast<char>('A' + i % 26);
    return bytes;
}

Records MakeValidRecords()
{
    return {
        MakeRecord(RECORD_EMAIL, Encode("someone@example.com")),
        MakeRecord(RECORD_DESCRIPTION1, Encode("Open the library")),
        MakeRecord(RECORD_DESCRIPTION2, Encode("It froze")),
        MakeRecord(RECORD_DESCRIPTION3, Encode("It should not freeze")),
        MakeRecord(RECORD_DESCRIPTION4, Encode("PATH=C:\\Windows")),
        MakeRecord(RECORD_ATTACHMENT_NAME, Encode("user_info.txt")),
        MakeRecord(RECORD_ATTACHMENT, Wrap(Encode(DxDiagBytes()))),
        MakeRecord(RECORD_ATTACHMENT_LOG_NAME, Encode("brevora_log.txt")),
        MakeRecord(RECORD_ATTACHMENT_LOG, Wrap(Encode("brevora ok"))),
    };
}

std::string Join(const Records& records)
{
    std::string body;
    for (const std::string& record : records)
        body += record;
    return body;
}

// The valid records with record i's payload replaced.
std::string WithPayload(ReportRecord record, const std::string& payload)
{
    Records records = MakeValidRecords();
    records[record] = MakeRecord(record, payload);
    return Join(records);
}

std::string DxDiagPayload()
{
    return Wrap(Encode(DxDiagBytes()));
}

}  // namespace

std::string MakeSmallValidBody()
{
    return Join(MakeValidRecords());
}

std::vector<MalformedBody> MakeMalformedBodies()
{
    const std::string valid = MakeSmallValidBody();
    std::vector<MalformedBody> cases;
    auto add = [&cases](const char* name, const std::string& body, const char* reasonPart) {
        cases.push_back({name, body, reasonPart});
    };

    Records records = MakeValidRecords();
    {
        Records r = records;
        r.erase(r.begin() + RECORD_DESCRIPTION2);
        add("MissingMiddleRecord", Join(r), "record 3 (description2) expected, found the key of record 4");
    }
    {
        Records r = records;
        r.erase(r.begin());
        add("MissingFirstRecord", Join(r), "record 1 (email) expected, found the key of record 2");
    }
    {
        Records r = records;
        r.pop_back();
        add("MissingLastRecord", Join(r), "body ends before record 9 (attachment_log)");
    }
    {
        Records r = records;
        std::swap(r[RECORD_DESCRIPTION1], r[RECORD_DESCRIPTION2]);
        add("WrongOrder", Join(r), "record 2 (description1) expected, found the key of record 3");
    }
    {
        Records r = records;
        r.insert(r.begin() + 1, records[0]);
        add("RecordTwice", Join(r), "record 2 (description1) expected, found the key of record 1");
    }
    {
        Records r = records;
        r[RECORD_DESCRIPTION4].replace(0, 13, "description5 ");
        add("UnknownKey", Join(r), "unknown key \"description5\"");
    }
    {
        Records r = records;
        r[RECORD_EMAIL].replace(0, 6, "EMAIL ");
        add("KeyInUpperCase", Join(r), "record 1 (email) expected, found unknown key \"EMAIL\"");
    }
    add("KeyWithoutSpace", "email\n\n" + valid.substr(records[0].size()), "record 1 (email) expected");
    add("EmptyBody", "", "body ends before record 1 (email)");

    add("BadCharacter", WithPayload(RECORD_DESCRIPTION1, "T3Blb!Bw"), "record 2 (description1): bad base64 character 0x21");
    add("UrlSafeAlphabet", WithPayload(RECORD_DESCRIPTION2, "a-_z"), "bad base64 character 0x2D");
    add("SpaceInPayload", WithPayload(RECORD_DESCRIPTION3, "QUJD REV"), "bad base64 character 0x20");
    add("NulInPayload", WithPayload(RECORD_EMAIL, std::string("QUJD\0AAA", 8)), "bad base64 character 0x00");
    add("PaddingInMiddle", WithPayload(RECORD_DESCRIPTION1, "QQ==QUJD"), "misplaced base64 padding");
    add("TriplePadding", WithPayload(RECORD_DESCRIPTION1, "QUJDQ==="), "misplaced base64 padding");
    add("PaddingThenLetter", WithPayload(RECORD_DESCRIPTION1, "QQ=A"), "misplaced base64 padding");
    add("PaddingBitsSet", WithPayload(RECORD_DESCRIPTION1, "QR=="), "unused bits");
    add("LengthNotMultipleOf4", WithPayload(RECORD_DESCRIPTION3, "QUJDRA="), "not a multiple of 4");
    add("MissingPadding", WithPayload(RECORD_DESCRIPTION3, "QQ"), "not a multiple of 4");
    {
        std::string crlf = valid;
        for (size_t at = crlf.find("\n\n"); at != std::string::npos; at = crlf.find("\n\n", at + 4))
            crlf.replace(at, 2, "\r\n\r\n");
        add("CarriageReturnLineEnds", crlf, "record 1 (email): payload is not followed by");
    }
    add("LineBreakInTextRecord", WithPayload(RECORD_DESCRIPTION1, "T3Bl\nbiB0aGUgbGlicmFyeQ=="),
        "record 2 (description1): payload is not followed by");
    add("PlaceholderInTextRecord", WithPayload(RECORD_EMAIL, kEmptyFilePayload), "record 2 (description1) expected");
    add("EmptyName", WithPayload(RECORD_ATTACHMENT_LOG_NAME, ""), "record 8 (attachment_log_name): \"\" is not a plain file name");
    add("NameWithPath", WithPayload(RECORD_ATTACHMENT_NAME, Encode("../user_info.txt")), "is not a plain file name");
    add("NameDotDot", WithPayload(RECORD_ATTACHMENT_NAME, Encode("..")), "is not a plain file name");

    const std::string lines = DxDiagPayload();  // 100 \n 100 \n 68
    {
        std::string p = lines;
        p.erase(100, 1);
        p.insert(99, "\n");
        add("FileLineShort", WithPayload(RECORD_ATTACHMENT, p), "record 7 (attachment): line 1 has 99 characters");
    }
    {
        std::string p = lines;
        p.erase(100, 1);
        add("FileLineLong", WithPayload(RECORD_ATTACHMENT, p), "record 7 (attachment): line 1 has 200 characters");
    }
    {
        std::string p = lines;
        p.erase(201, 1);
        p.erase(100, 1);
        add("FileNotWrapped", WithPayload(RECORD_ATTACHMENT, p), "line 1 has 268 characters");
    }
    {
        std::string p = lines;
        p.erase(201, 1);
        p.insert(150, "\n");
        add("FileMiddleLineShort", WithPayload(RECORD_ATTACHMENT, p), "line 2 has 49 characters");
    }
    add("FileEmptyLine", WithPayload(RECORD_ATTACHMENT, lines.substr(0, 101) + "\n" + lines.substr(101)),
        "record 8 (attachment_log_name) expected");
    add("FileEndsInLineFeed", WithPayload(RECORD_ATTACHMENT, lines + "\n"), "record 8 (attachment_log_name) expected");
    add("FileLastLineCut", WithPayload(RECORD_ATTACHMENT, lines.substr(0, lines.size() - 1)),
        "record 7 (attachment): base64 length 267 is not a multiple of 4");
    add("FileBadCharacter", WithPayload(RECORD_ATTACHMENT, lines.substr(0, 150) + "*" + lines.substr(151)),
        "record 7 (attachment): bad base64 character 0x2A at offset 149");
    // Each line is decoded where it lies: the rules hold across the lines,
    // and offsets count in the payload without its line breaks.
    add("FileBadCharacterEndsLine", WithPayload(RECORD_ATTACHMENT, lines.substr(0, 99) + "\r" + lines.substr(100)),
        "record 7 (attachment): bad base64 character 0x0D at offset 99");
    add("FileBadCharacterStartsLastLine",
        WithPayload(RECORD_ATTACHMENT, lines.substr(0, 202) + "*" + lines.substr(203)),
        "record 7 (attachment): bad base64 character 0x2A at offset 200");
    add("FilePaddingEndsFirstLine", WithPayload(RECORD_ATTACHMENT, lines.substr(0, 98) + "==" + lines.substr(100)),
        "record 7 (attachment): misplaced base64 padding in the group at offset 96");
    add("FilePaddingEndsMiddleLine",
        WithPayload(RECORD_ATTACHMENT, lines.substr(0, 199) + "=" + lines.substr(200)),
        "record 7 (attachment): misplaced base64 padding in the group at offset 196");
    add("FileUnusedBitsSet", WithPayload(RECORD_ATTACHMENT, lines.substr(0, lines.size() - 4) + "QUJ="),
        "record 7 (attachment): base64 text ends in unused bits");
    {
        std::string p = lines;
        p.replace(201, 1, "\r\n");
        p.replace(100, 1, "\r\n");
        add("FileCrLfLineBreaks", WithPayload(RECORD_ATTACHMENT, p), "record 7 (attachment): line 1 has 101 characters");
    }
    add("FileLastLineEndsInCr", WithPayload(RECORD_ATTACHMENT, lines + "\r"),
        "record 7 (attachment): base64 length 269 is not a multiple of 4");
    add("PlaceholderWithCrLf", WithPayload(RECORD_ATTACHMENT_LOG, "WFhY\r\n"),
        "record 9 (attachment_log): base64 length 5 is not a multiple of 4");
    add("PlaceholderDoubled", WithPayload(RECORD_ATTACHMENT_LOG, "WFhY\n\n"), "unexpected bytes after the last record");
    add("PlaceholderThenKey", WithPayload(RECORD_ATTACHMENT, "WFhY\n\n"), "record 8 (attachment_log_name) expected");

    add("TruncatedInLastPayload", valid.substr(0, valid.size() - 3), "body ends inside record 9 (attachment_log)");
    add("TruncatedLastLineFeed", valid.substr(0, valid.size() - 1), "body ends inside record 9 (attachment_log)");
    {
        const size_t keyStart = valid.find("description4 ");
        add("TruncatedInKey", valid.substr(0, keyStart + 6), "body ends inside the key of record 5 (description4)");
    }
    {
        const size_t inFile = valid.find("attachment ") + 11 + 150;
        add("TruncatedInFile", valid.substr(0, inFile), "body ends inside record 7 (attachment)");
    }
    add("TrailingLetter", valid + "x", "1 unexpected bytes after the last record");
    add("TrailingLineFeed", valid + "\n", "unexpected bytes after the last record");
    add("TrailingRecord", valid + records[0], "unexpected bytes after the last record, starting \"email ");
    return cases;
}
