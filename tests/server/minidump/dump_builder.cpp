#include "tests/server/minidump/dump_builder.h"

void PutU16(Bytes& out, uint64_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(Bytes& out, uint64_t value)
{
    PutU16(out, value & 0xFFFF);
    PutU16(out, (value >> 16) & 0xFFFF);
}

void PutU64(Bytes& out, uint64_t value)
{
    PutU32(out, value & 0xFFFFFFFF);
    PutU32(out, value >> 32);
}

void SetU32(Bytes& out, size_t at, uint64_t value)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t AppendBlob(DumpBuilder& dump, const Bytes& data)
{
    uint32_t at = static_cast<uint32_t>(dump.bytes.size());
    dump.bytes.insert(dump.bytes.end(), data.begin(), data.end());
    return at;
}

uint32_t AppendDumpString(DumpBuilder& dump, const std::u16string& text)
{
    Bytes data;
    PutU32(data, text.size() * 2);
    for (char16_t c : text)
        PutU16(data, c);
    PutU16(data, 0);
    return AppendBlob(dump, data);
}

void AddStream(DumpBuilder& dump, uint32_t type, const Bytes& data)
{
    uint32_t at = AppendBlob(dump, data);
    dump.directory.insert(dump.directory.end(), {type, static_cast<uint32_t>(data.size()), at});
}

Bytes FinishDump(DumpBuilder& dump)
{
    uint32_t directoryAt = static_cast<uint32_t>(dump.bytes.size());
    for (uint32_t value : dump.directory)
        PutU32(dump.bytes, value);
    SetU32(dump.bytes, 0, 0x504D444D);
    SetU32(dump.bytes, 4, 0xA793);
    SetU32(dump.bytes, 8, dump.directory.size() / 3);
    SetU32(dump.bytes, 12, directoryAt);
    SetU32(dump.bytes, 20, 1700000100);  // written 100 s after the process started
    return dump.bytes;
}

Bytes MakeX64Context(uint64_t rip, const std::vector<std::pair<int, uint64_t>>& registers)
{
    Bytes context(1232, 0);
    auto put64 = [&](size_t at, uint64_t value) {
        for (int i = 0; i < 8; ++i)
            context[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    SetU32(context, 0x30, 0x10000B);
    for (const auto& r : registers)
        put64(0x78 + 8 * r.first, r.second);
    put64(0xF8, rip);
    return context;
}

Bytes MakeX86Context(uint64_t eip, const std::vector<std::pair<int, uint64_t>>& registers)
{
    // Offsets as winnt.h's i386 CONTEXT has them, eax, ecx, ... edi.
    static const size_t offsets[8] = {0xB0, 0xAC, 0xA8, 0xA4, 0xC4, 0xB4, 0xA0, 0x9C};
    Bytes context(716, 0);
    SetU32(context, 0, 0x1000B);
    for (const auto& r : registers)
        SetU32(context, offsets[r.first], r.second);
    SetU32(context, 0xB8, eip);
    return context;
}

Bytes MakeCrashDump(const CrashSpec& spec)
{
    DumpBuilder dump;
    Bytes system;
    PutU16(system, spec.x86 ? 0 : 9);
    PutU16(system, 6);
    PutU16(system, 0x5507);
    system.push_back(4);  // CPUs
    system.push_back(1);  // workstation
    PutU32(system, 10);
    PutU32(system, 0);
    PutU32(system, 19045);
    PutU32(system, 2);
    PutU32(system, AppendDumpString(dump, u""));
    PutU32(system, 0);
    for (char c : std::string("GenuineIntel"))
        system.push_back(static_cast<uint8_t>(c));
    system.resize(56, 0);
    AddStream(dump, 7, system);

    Bytes modules;
    PutU32(modules, spec.modules.size());
    for (const DumpModule& module : spec.modules) {
        uint32_t name = AppendDumpString(dump, module.path);
        Bytes codeView = {'R', 'S', 'D', 'S'};
        for (int i = 0; i < 16; ++i)
            codeView.push_back(static_cast<uint8_t>(0x10 + i));
        PutU32(codeView, 3);
        for (char c : std::string("app.pdb"))
            codeView.push_back(static_cast<uint8_t>(c));
        codeView.push_back(0);
        uint32_t codeViewAt = AppendBlob(dump, codeView);
        PutU64(modules, module.base);
        PutU32(modules, module.size);
        PutU32(modules, 0);
        PutU32(modules, module.timestamp);
        PutU32(modules, name);
        Bytes version(52, 0);
        SetU32(version, 0, 0xFEEF04BD);
        SetU32(version, 8, 0x00020003);  // 2.3.4.5
        SetU32(version, 12, 0x00040005);
        modules.insert(modules.end(), version.begin(), version.end());
        PutU32(modules, codeView.size());
        PutU32(modules, codeViewAt);
        modules.resize(modules.size() + 24, 0);
    }
    AddStream(dump, 4, modules);

    Bytes context = spec.x86 ? MakeX86Context(spec.rip, spec.registers) : MakeX64Context(spec.rip, spec.registers);
    uint32_t contextAt = AppendBlob(dump, context);
    uint32_t stackAt = AppendBlob(dump, spec.stack);
    Bytes threads;
    PutU32(threads, 1);
    PutU32(threads, 7);
    threads.resize(threads.size() + 20, 0);
    PutU64(threads, spec.stackAddress);
    PutU32(threads, spec.stack.size());
    PutU32(threads, stackAt);
    PutU32(threads, context.size());
    PutU32(threads, contextAt);
    AddStream(dump, 3, threads);

    Bytes exception;
    PutU32(exception, 7);
    PutU32(exception, 0);
    PutU32(exception, spec.code);
    PutU32(exception, 0);
    PutU64(exception, 0);
    PutU64(exception, spec.rip);
    PutU32(exception, spec.parameters.size());
    PutU32(exception, 0);
    for (size_t i = 0; i < 15; ++i)
        PutU64(exception, i < spec.parameters.size() ? spec.parameters[i] : 0);
    PutU32(exception, context.size());
    PutU32(exception, contextAt);
    AddStream(dump, 6, exception);

    Bytes misc;
    PutU32(misc, 24);
    PutU32(misc, 3);  // process id and times
    PutU32(misc, 1234);
    PutU32(misc, 1700000000);
    PutU32(misc, 0);
    PutU32(misc, 0);
    AddStream(dump, 15, misc);

    Bytes unloaded;
    PutU32(unloaded, 12);
    PutU32(unloaded, 24);
    PutU32(unloaded, 1);
    PutU64(unloaded, 0x7FF700000000);
    PutU32(unloaded, 0x3000);
    PutU32(unloaded, 0);
    PutU32(unloaded, 0);
    PutU32(unloaded, AppendDumpString(dump, u"C:\\plugins\\old.dll"));
    AddStream(dump, 14, unloaded);
    return FinishDump(dump);
}

Bytes MakeX64Image(const ImageSpec& spec)
{
    Bytes image(0x400, 0);
    image[0] = 'M';
    image[1] = 'Z';
    SetU32(image, 0x3C, 0x80);
    Bytes pe = {'P', 'E', 0, 0};
    PutU16(pe, 0x8664);
    PutU16(pe, 3);
    PutU32(pe, spec.timestamp);
    size_t symbolPointerAt = pe.size();
    PutU32(pe, 0);
    PutU32(pe, spec.symbols.size());
    PutU16(pe, 240);
    PutU16(pe, 0x22);
    Bytes optional(240, 0);
    optional[0] = 0x0B;
    optional[1] = 0x02;
    for (int i = 0; i < 8; ++i)
        optional[24 + i] = static_cast<uint8_t>(kImageBase >> (8 * i));
    SetU32(optional, 56, kImageSize);
    SetU32(optional, 108, 16);
    SetU32(optional, 112 + 3 * 8, 0x3000);  // exception directory
    SetU32(optional, 112 + 3 * 8 + 4, spec.functions.size() * 12);
    pe.insert(pe.end(), optional.begin(), optional.end());

    Bytes pdata;
    for (const ImageFunction& f : spec.functions) {
        PutU32(pdata, f.begin);
        PutU32(pdata, f.end);
        PutU32(pdata, 0x2000 + f.xdataOffset);
    }
    const Bytes* contents[3] = {&spec.code, &spec.xdata, &pdata};
    const char* names[3] = {".text", ".rdata", ".pdata"};
    uint32_t flags[3] = {0x60000020, 0x40000040, 0x40000040};
    uint32_t rawAt = 0x400;
    for (int s = 0; s < 3; ++s) {
        Bytes header(40, 0);
        for (int c = 0; names[s][c]; ++c)
            header[c] = static_cast<uint8_t>(names[s][c]);
        SetU32(header, 8, 0x1000);
        SetU32(header, 12, 0x1000 * (s + 1));
        SetU32(header, 16, 0x1000);
        SetU32(header, 20, rawAt + 0x1000 * s);
        SetU32(header, 36, flags[s]);
        pe.insert(pe.end(), header.begin(), header.end());
    }
    std::copy(pe.begin(), pe.end(), image.begin() + 0x80);
    for (int s = 0; s < 3; ++s) {
        Bytes section = *contents[s];
        section.resize(0x1000, 0);
        image.insert(image.end(), section.begin(), section.end());
    }

    SetU32(image, 0x80 + symbolPointerAt, image.size());
    Bytes strings(4, 0);
    for (const auto& symbol : spec.symbols) {
        Bytes entry(18, 0);
        SetU32(entry, 4, strings.size());  // long name: offset in the string table
        for (char c : symbol.second)
            strings.push_back(static_cast<uint8_t>(c));
        strings.push_back(0);
        SetU32(entry, 8, symbol.first - 0x1000);
        entry[12] = 1;     // section 1, .text
        entry[14] = 0x20;  // a function
        entry[16] = 2;     // external
        image.insert(image.end(), entry.begin(), entry.end());
    }
    SetU32(strings, 0, strings.size());
    image.insert(image.end(), strings.begin(), strings.end());
    return image;
}
