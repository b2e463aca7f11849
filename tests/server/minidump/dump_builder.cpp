#include "tests/server/minidump/dump_builder.h"

void Put(Bytes& out, int width, std::initializer_list<uint64_t> values)
{
    for (uint64_t value : values)
        for (int i = 0; i < width; ++i)
            out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutU32(Bytes& out, uint64_t value)
{
    Put(out, 4, {value});
}

void SetU32(Bytes& out, size_t at, uint64_t value)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

namespace {

uint32_t Append(Bytes& dump, const Bytes& data)
{
    uint32_t at = static_cast<uint32_t>(dump.size());
    dump.insert(dump.end(), data.begin(), data.end());
    return at;
}

uint32_t AppendString(Bytes& dump, const std::u16string& text)
{
    Bytes data;
    PutU32(data, text.size() * 2);
    for (char16_t c : text)
        Put(data, 2, {c});
    Put(data, 2, {0});
    return Append(dump, data);
}

void AddStream(Bytes& dump, Bytes& directory, uint32_t type, const Bytes& data)
{
    Put(directory, 4, {type, data.size(), Append(dump, data)});
}

// Registers at winnt.h's CONTEXT offsets: x64 from rax at 0x78 in order and
// rip at 0xF8; i386 eax, ecx, ... edi scattered, eip at 0xB8.
Bytes MakeContext(bool x86, uint64_t ip, const std::vector<std::pair<int, uint64_t>>& registers)
{
    static const size_t x86Offsets[8] = {0xB0, 0xAC, 0xA8, 0xA4, 0xC4, 0xB4, 0xA0, 0x9C};
    Bytes context(x86 ? 716 : 1232, 0);
    auto set = [&](size_t at, uint64_t value) {
        for (int i = 0; i < (x86 ? 4 : 8); ++i)
            context[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    for (const auto& r : registers)
        set(x86 ? x86Offsets[r.first] : 0x78 + 8 * r.first, r.second);
    set(x86 ? 0xB8 : 0xF8, ip);
    return context;
}

}  // namespace

Bytes MakeCrashDump(const CrashSpec& spec)
{
    Bytes dump(32, 0), directory;
    Bytes system;
    Put(system, 2, {spec.x86 ? 0u : 9u, 6, 0x5507, 0x0104});  // 4 CPUs, a workstation
    Put(system, 4, {10, 0, 19045, 2, AppendString(dump, u""), 0});
    system.insert(system.end(), {'G', 'e', 'n', 'u', 'i', 'n', 'e', 'I', 'n', 't', 'e', 'l'});
    system.resize(56, 0);
    AddStream(dump, directory, 7, system);

    Bytes modules;
    PutU32(modules, spec.modules.size());
    for (const DumpModule& module : spec.modules) {
        Bytes codeView = {'R', 'S', 'D', 'S'};
        for (int i = 0; i < 16; ++i)
            codeView.push_back(static_cast<uint8_t>(0x10 + i));
        Put(codeView, 4, {3});
        codeView.insert(codeView.end(), {'a', 'p', 'p', '.', 'p', 'd', 'b', 0});
        uint32_t name = AppendString(dump, module.path);
        Put(modules, 8, {module.base});
        Put(modules, 4, {module.size, 0, module.timestamp, name});
        Put(modules, 4, {0xFEEF04BD, 0, 0x00020003, 0x00040005, 0, 0, 0, 0, 0, 0, 0, 0, 0});  // version 2.3.4.5
        Put(modules, 4, {codeView.size(), Append(dump, codeView), 0, 0, 0, 0, 0, 0});
    }
    AddStream(dump, directory, 4, modules);

    Bytes context = MakeContext(spec.x86, spec.rip, spec.registers);
    uint32_t contextAt = Append(dump, context);
    Bytes threads;
    Put(threads, 4, {1, 7, 0, 0, 0, 0, 0});
    Put(threads, 8, {spec.stackAddress});
    Put(threads, 4, {spec.stack.size(), Append(dump, spec.stack), context.size(), contextAt});
    AddStream(dump, directory, 3, threads);

    Bytes exception;
    Put(exception, 4, {7, 0, spec.code, 0});
    Put(exception, 8, {0, spec.rip});
    Put(exception, 4, {spec.parameters.size(), 0});
    for (size_t i = 0; i < 15; ++i)
        Put(exception, 8, {i < spec.parameters.size() ? spec.parameters[i] : 0});
    Put(exception, 4, {context.size(), contextAt});
    AddStream(dump, directory, 6, exception);

    Bytes misc;
    Put(misc, 4, {24, 3, 1234, 1700000000, 0, 0});  // process id and times
    AddStream(dump, directory, 15, misc);

    Bytes unloaded;
    Put(unloaded, 4, {12, 24, 1});
    Put(unloaded, 8, {0x7FF700000000});
    Put(unloaded, 4, {0x3000, 0, 0, AppendString(dump, u"C:\\plugins\\old.dll")});
    AddStream(dump, directory, 14, unloaded);

    uint32_t directoryAt = Append(dump, directory);
    Bytes header;
    Put(header, 4, {0x504D444D, 0xA793, directory.size() / 12, directoryAt, 0, 1700000100});
    std::copy(header.begin(), header.end(), dump.begin());
    return dump;
}

Bytes MakeX64Image(const ImageSpec& spec)
{
    Bytes image(0x80, 0), symbols, strings(4, 0);
    image[0] = 'M';
    image[1] = 'Z';
    SetU32(image, 0x3C, 0x80);
    Bytes sections[3] = {spec.code, spec.xdata, {}};
    for (const auto& f : spec.functions)
        Put(sections[2], 4, {f[0], f[1], 0x2000 + f[2]});
    for (const auto& symbol : spec.symbols) {
        Put(symbols, 4, {0, strings.size(), symbol.first - 0x1000});  // a long name, in .text
        Put(symbols, 2, {1, 0x20, 2});  // section 1, a function, external
        strings.insert(strings.end(), symbol.second.begin(), symbol.second.end());
        strings.push_back(0);
    }
    SetU32(strings, 0, strings.size());

    image.insert(image.end(), {'P', 'E', 0, 0});
    Put(image, 2, {0x8664, 3});
    Put(image, 4, {spec.timestamp, 0x400 + 3 * 0x1000, spec.symbols.size()});
    Put(image, 2, {240, 0x22});
    Bytes optional(240, 0);
    SetU32(optional, 0, 0x20B);
    SetU32(optional, 24, kImageBase & 0xFFFFFFFF);
    SetU32(optional, 28, kImageBase >> 32);
    SetU32(optional, 56, kImageSize);
    SetU32(optional, 108, 16);
    SetU32(optional, 112 + 3 * 8, 0x3000);  // the exception directory
    SetU32(optional, 112 + 3 * 8 + 4, sections[2].size());
    image.insert(image.end(), optional.begin(), optional.end());
    const char* names[3] = {".text", ".rdata", ".pdata"};
    const uint64_t flags[3] = {0x60000020, 0x40000040, 0x40000040};
    for (int s = 0; s < 3; ++s) {
        Bytes name(8, 0);
        std::copy(names[s], names[s] + std::char_traits<char>::length(names[s]), name.begin());
        image.insert(image.end(), name.begin(), name.end());
        uint64_t at = static_cast<uint64_t>(s) * 0x1000;
        Put(image, 4, {0x1000, 0x1000 + at, 0x1000, 0x400 + at, 0, 0, 0, flags[s]});
    }
    image.resize(0x400, 0);
    for (Bytes& section : sections) {
        section.resize(0x1000, 0);
        image.insert(image.end(), section.begin(), section.end());
    }
    image.insert(image.end(), symbols.begin(), symbols.end());
    image.insert(image.end(), strings.begin(), strings.end());
    return image;
}
