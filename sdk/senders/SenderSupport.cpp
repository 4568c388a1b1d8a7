#include "SenderSupport.h"

#include "calder/Window.h"

#include <cwctype>
#include <string_view>

namespace tarnsdk {

void AppendLines(CStringArray& lines, const std::vector<std::string>& texts) {
    for (const std::string& text : texts)
        lines.Add(Widen(text));
}

namespace {

bool OneOf(wchar_t c, std::wstring_view set) {
    return set.find(c) != std::wstring_view::npos;
}

// True when `format` has exactly one conversion and it takes a double ("%%" is no conversion).
// A translation table is a file anyone can edit: a "%s" in it must not make the formatter read
// a double as a pointer.
bool TakesOneDouble(const CString& format) {
    int conversions = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != L'%')
            continue;
        ++i;
        if (i < format.size() && format[i] == L'%')
            continue;
        while (i < format.size() && OneOf(format[i], L"-+ #0"))
            ++i;
        while (i < format.size() && std::iswdigit(format[i]))
            ++i;
        if (i < format.size() && format[i] == L'.') {
            ++i;
            while (i < format.size() && std::iswdigit(format[i]))
                ++i;
        }
        if (i < format.size() && format[i] == L'l')
            ++i;
        if (i >= format.size() || !OneOf(format[i], L"fFeEgGaA"))
            return false;
        ++conversions;
    }
    return conversions == 1;
}

} // namespace

CString TimeStampFormat() {
    const CString english = L"TimeStamp, %f";
    CString translated = CalderLang::Translate(english);
    return TakesOneDouble(translated) ? translated : english;
}

void SendFramePacket(TarnConnection& c, const Tarnxform& frame, double timeStamp, bool flagA, bool flagB,
                     bool flagD, const std::string& objectName, const std::string& collectionName,
                     const std::vector<std::string>& notes, double probeRadius, double secondDistance) {
    if (!IsConnected(c))
        return;
    TarnIPGeomFrame packet;
    packet.flagA = flagA ? 1 : 0;
    packet.flagB = flagB ? 1 : 0;
    packet.transform = ToTransform(frame);
    packet.secondDistance = secondDistance;
    packet.probeRadius = probeRadius;
    packet.transform.Debug();
    packet.collectionName = Widen(collectionName);
    packet.name = Widen(objectName);
    packet.flagD = flagD ? 1 : 0;
    packet.textLines.Add(TimeStampLine(TimeStampFormat(), timeStamp));
    packet.textLines.Add(CStringFormat(L"Object <%s>", packet.name.c_str()));
    AppendLines(packet.textLines, notes);
    SendOne(c, packet);
}

PacketBatch::~PacketBatch() {
    for (CObject* packet : packets_)
        delete packet;
    packets_.RemoveAll();
}

} // namespace tarnsdk
