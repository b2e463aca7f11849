#include "tests/wine/mapi_record.h"

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

// "null" or "hex:6162..." as written by the stand-in.
bool DecodeText(const std::string& field, std::string& text)
{
    text.clear();
    if (field.compare(0, 4, "hex:") != 0)
        return false;
    for (size_t i = 4; i + 1 < field.size(); i += 2)
        text += static_cast<char>(std::strtoul(field.substr(i, 2).c_str(), NULL, 16));
    return true;
}

// The value of "key=value" among the words of a line.
std::string Field(const std::string& line, const std::string& key)
{
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
        if (word.compare(0, key.size() + 1, key + "=") == 0)
            return word.substr(key.size() + 1);
    }
    return std::string();
}

RecordedRecip ParseRecip(const std::string& line)
{
    RecordedRecip r;
    r.recipClass = std::strtoul(Field(line, "class").c_str(), NULL, 10);
    r.nameNull = !DecodeText(Field(line, "name"), r.name);
    r.addressNull = !DecodeText(Field(line, "address"), r.address);
    r.eidSize = std::strtoul(Field(line, "eidsize").c_str(), NULL, 10);
    r.entryIdNull = Field(line, "entryid") == "null";
    return r;
}

}  // namespace

MapiRecord ReadMapiRecord(const std::wstring& path)
{
    MapiRecord record;
    char narrow[MAX_PATH * 2];
    WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, narrow, sizeof(narrow), NULL, NULL);
    std::ifstream in(narrow, std::ios::binary);
    std::string line;
    RecordedSend* send = NULL;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key, value;
        words >> key >> value;
        if (key == "attach") {
            ++record.attaches;
        } else if (key == "detach") {
            ++record.detaches;
        } else if (key == "call" && value == "MAPISendMail") {
            record.sends.emplace_back();
            send = &record.sends.back();
        } else if (send == NULL) {
            continue;
        } else if (key == "session") {
            send->session = std::strtoull(value.c_str(), NULL, 10);
        } else if (key == "uiparam") {
            send->uiParam = std::strtoull(value.c_str(), NULL, 10);
        } else if (key == "flags") {
            send->flags = std::strtoul(value.c_str(), NULL, 10);
        } else if (key == "subject") {
            send->subjectNull = !DecodeText(value, send->subject);
        } else if (key == "notetext") {
            send->noteTextNull = !DecodeText(value, send->noteText);
        } else if (key == "messagetype") {
            send->messageTypeNull = value == "null";
        } else if (key == "originator") {
            send->originatorSet = value == "set";
        } else if (key == "from") {
            send->originator = ParseRecip(line);
        } else if (key == "recipcount") {
            send->recipCount = std::strtoul(value.c_str(), NULL, 10);
        } else if (key == "recips") {
            send->recipsSet = value == "set";
        } else if (key == "recip") {
            send->recips.push_back(ParseRecip(line));
        } else if (key == "filecount") {
            send->fileCount = std::strtoul(value.c_str(), NULL, 10);
        } else if (key == "files") {
            send->filesSet = value == "set";
        } else if (key == "file") {
            RecordedFile f;
            f.reserved = std::strtoul(Field(line, "reserved").c_str(), NULL, 10);
            f.flags = std::strtoul(Field(line, "flags").c_str(), NULL, 10);
            f.position = std::strtoul(Field(line, "position").c_str(), NULL, 10);
            DecodeText(Field(line, "path"), f.path);
            DecodeText(Field(line, "name"), f.name);
            f.fileTypeNull = Field(line, "filetype") == "null";
            send->files.push_back(f);
        } else if (key == "returned-at") {
            send->returnTick = std::strtoul(value.c_str(), NULL, 10);
        } else if (key == "return") {
            send->returned = true;
            send->result = std::strtoul(value.c_str(), NULL, 10);
        }
    }
    return record;
}
