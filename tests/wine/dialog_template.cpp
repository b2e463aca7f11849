#include "tests/wine/dialog_template.h"

#include <cstring>

namespace {

class Reader
{
public:
    Reader(const BYTE* data, size_t size) : m_data(data), m_size(size), m_pos(0), m_ok(true) {}

    template <typename T> T Read()
    {
        T value{};
        if (m_pos + sizeof(T) > m_size) {
            m_ok = false;
            return value;
        }
        std::memcpy(&value, m_data + m_pos, sizeof(T));
        m_pos += sizeof(T);
        return value;
    }

    std::wstring ReadString()
    {
        std::wstring s;
        for (;;) {
            WCHAR c = Read<WCHAR>();
            if (!m_ok || c == 0)
                return s;
            s += c;
        }
    }

    SzOrOrd ReadSzOrOrd()
    {
        SzOrOrd v;
        WORD first = Read<WORD>();
        if (first == 0xFFFF) {
            v.isOrdinal = true;
            v.ordinal = Read<WORD>();
        } else if (first != 0) {
            v.text += static_cast<WCHAR>(first);
            v.text += ReadString();
        }
        return v;
    }

    void AlignDword() { m_pos = (m_pos + 3) & ~static_cast<size_t>(3); }
    void Skip(size_t n) { if (m_pos + n > m_size) m_ok = false; else m_pos += n; }
    bool Ok() const { return m_ok; }

private:
    const BYTE* m_data;
    size_t m_size;
    size_t m_pos;
    bool m_ok;
};

}  // namespace

bool ParseDialogTemplateEx(const void* data, size_t size, DialogTemplate& out, std::string& why)
{
    Reader r(static_cast<const BYTE*>(data), size);
    out.version = r.Read<WORD>();
    out.signature = r.Read<WORD>();
    if (out.version != 1 || out.signature != 0xFFFF) {
        why = "not an extended dialog template";
        return false;
    }
    out.helpId = r.Read<DWORD>();
    out.exStyle = r.Read<DWORD>();
    out.style = r.Read<DWORD>();
    out.itemCount = r.Read<WORD>();
    out.x = r.Read<short>();
    out.y = r.Read<short>();
    out.cx = r.Read<short>();
    out.cy = r.Read<short>();
    out.menu = r.ReadSzOrOrd();
    out.windowClass = r.ReadSzOrOrd();
    out.title = r.ReadString();
    if (out.style & (DS_SETFONT | DS_SHELLFONT)) {
        out.pointSize = r.Read<WORD>();
        out.weight = r.Read<WORD>();
        out.italic = r.Read<BYTE>();
        out.charset = r.Read<BYTE>();
        out.typeface = r.ReadString();
    }
    for (WORD i = 0; i < out.itemCount && r.Ok(); ++i) {
        r.AlignDword();
        DialogItem item;
        item.helpId = r.Read<DWORD>();
        item.exStyle = r.Read<DWORD>();
        item.style = r.Read<DWORD>();
        item.x = r.Read<short>();
        item.y = r.Read<short>();
        item.cx = r.Read<short>();
        item.cy = r.Read<short>();
        item.id = r.Read<DWORD>();
        item.windowClass = r.ReadSzOrOrd();
        item.title = r.ReadSzOrOrd();
        item.extraCount = r.Read<WORD>();
        r.Skip(item.extraCount);
        out.items.push_back(item);
    }
    if (!r.Ok()) {
        why = "template ends early";
        return false;
    }
    return true;
}
