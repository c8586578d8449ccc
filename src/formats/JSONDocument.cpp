#include "formats/JSONDocument.h"

#include "formats/Utf8Decoder.h"

#include <cstring>

namespace {

int hexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

} // namespace

QString JSONDocument::stringValue(const Node& n) const
{
    const char* p = sourceBytes() + n.offset + 1;
    const char* const end = p + (qsizetype(n.length) - 2);
    if (!(n.flags & Node::escaped))
        return Utf8Decoder::decodeReplacing(QByteArrayView(p, end - p), Utf8Decoder::ByteOrderMark::keep);
    // The reader has checked every escape already.
    QString out;
    out.reserve(end - p);
    while (p < end) {
        const void* found = std::memchr(p, '\\', size_t(end - p));
        const char* q = found ? static_cast<const char*>(found) : end;
        out += Utf8Decoder::decodeReplacing(QByteArrayView(p, q - p), Utf8Decoder::ByteOrderMark::keep);
        if (q == end)
            break;
        const char e = q[1];
        p = q + 2;
        switch (e) {
        case 'b': out += u'\b'; break;
        case 'f': out += u'\f'; break;
        case 'n': out += u'\n'; break;
        case 'r': out += u'\r'; break;
        case 't': out += u'\t'; break;
        case 'u':
            out += QChar(char16_t((hexValue(p[0]) << 12) | (hexValue(p[1]) << 8) | (hexValue(p[2]) << 4) | hexValue(p[3])));
            p += 4;
            break;
        default: out += QLatin1Char(e); break; // " \ /
        }
    }
    return out;
}
