#include "tools/codec/Codec.h"

#include "formats/Encodings.h"
#include "formats/JSONFormatter.h"
#include "formats/JSONParser.h"
#include "formats/JSONPrinter.h"
#include "formats/Utf8Decoder.h"
#include "formats/Utf8Encoder.h"

#include <algorithm>

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

bool isGraphemeExtender(char32_t c)
{
    const auto category = QChar::category(c);
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
        || category == QChar::Mark_Enclosing || c == 0x200D;
}

// The code point of well-formed UTF-8 at i and the index after it.
char32_t codePointAt(QByteArrayView text, qsizetype i, qsizetype* next)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned lead = p[i];
    const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (i + length > text.size()) {
        *next = text.size();
        return 0xFFFD;
    }
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k)
        c = c << 6 | (p[i + k] & 0x3F);
    *next = i + length;
    return c;
}

// The index of the first character that is not blank, where a blank takes the combining marks
// after it along (one user-perceived character).
qsizetype skipBlanks(QByteArrayView text, qsizetype i = 0)
{
    bool afterBlank = false;
    while (i < text.size()) {
        qsizetype next;
        const char32_t c = codePointAt(text, i, &next);
        if (Encodings::isWhiteSpace(c) || (afterBlank && c >= 0x300 && isGraphemeExtender(c))) {
            afterBlank = true;
            i = next;
            continue;
        }
        break;
    }
    return i;
}

QString textOf(QByteArrayView utf8)
{
    return Utf8Decoder::decodeReplacing(utf8, Utf8Decoder::ByteOrderMark::keep);
}

// Formatted JSON (two spaces, keys ascending), or nothing when the text does not parse or the
// work was cancelled: the formatter's own parse and print, each checking the flag as it goes.
std::optional<QByteArray> formattedJSON(const QByteArray& utf8, const std::atomic_bool* cancelled)
{
    using namespace JSONFormatter;
    JSONDocument document;
    // Ill-formed bytes are read as the text the pane shows for them.
    const QByteArray wellFormed = Utf8Decoder::isWellFormed(utf8) ? utf8 : Utf8Encoder::toUtf8(textOf(utf8));
    if (JSONParser::parse(wellFormed, &document, false, cancelled).error)
        return std::nullopt;
    if (cancelled && cancelled->load())
        return std::nullopt;
    return JSONPrinter::print(document, Indent::spaces(2).unit(), SortMode::ascending, cancelled);
}

} // namespace

QString Codec::rawValue(Scheme scheme)
{
    switch (scheme) {
    case Scheme::base64: return QStringLiteral("base64");
    case Scheme::url: return QStringLiteral("url");
    case Scheme::html: return QStringLiteral("html");
    case Scheme::hex: return QStringLiteral("hex");
    }
    return {};
}

QString Codec::rawValue(Direction direction)
{
    return direction == Direction::encode ? QStringLiteral("encode") : QStringLiteral("decode");
}

QString Codec::title(Scheme scheme)
{
    switch (scheme) {
    case Scheme::base64: return QStringLiteral("Base64");
    case Scheme::url: return QStringLiteral("URL");
    case Scheme::html: return QStringLiteral("HTML");
    case Scheme::hex: return QStringLiteral("Hex");
    }
    return {};
}

QString Codec::title(Direction direction)
{
    return direction == Direction::encode ? QStringLiteral("Encode") : QStringLiteral("Decode");
}

QString Codec::Failure::message() const
{
    switch (kind) {
    case Kind::damaged:
        return QStringLiteral("The ") + Inflate::formatName(format)
            + QStringLiteral(" data inside is damaged or cut short: it does not unpack, or its checksum does not match.");
    case Kind::tooLarge:
        return QStringLiteral("The ") + Inflate::formatName(format)
            + QStringLiteral(" data inside unpacks to more than 32 MB, so it was left packed.");
    case Kind::notBase64:
        return QStringLiteral("This is not Base64. It has a character outside the alphabet, or a length no Base64 text can have.");
    case Kind::notHex:
        return QStringLiteral("This is not hex. Apart from spaces, colons, commas, dashes and 0x prefixes, only 0\u20139 and a\u2013f may appear.");
    case Kind::oddHexLength:
        return QStringLiteral("Hex takes two digits per byte, and this has an odd number of digits.");
    case Kind::notPercentEncoded:
        return QStringLiteral("A % here is not followed by two hex digits, or the bytes it encodes are not UTF-8 text.");
    }
    return {};
}

Codec::HexDump::HexDump(QByteArrayView source, qsizetype limit)
    : bytes(source.first(std::min(limit, source.size())).toByteArray())
    , count(source.size())
{
}

Codec::Result Codec::transform(QByteArray input, Scheme scheme, Direction direction, Options options,
                               const std::atomic_bool* cancelled)
{
    if (direction == Direction::encode) {
        Output output;
        switch (scheme) {
        case Scheme::base64: output.text = Encodings::base64Encode(std::move(input), options.urlSafe, cancelled); break;
        case Scheme::url: output.text = Encodings::percentEncode(textOf(input), options.plusForSpace).toLatin1(); break;
        case Scheme::html: output.text = Utf8Encoder::toUtf8(Encodings::htmlEscape(textOf(input))); break;
        case Scheme::hex: output.text = Encodings::hexEncode(input); break;
        }
        output.byteCount = output.text.size();
        return Result::success(std::move(output));
    }
    switch (scheme) {
    case Scheme::base64: {
        auto bytes = Encodings::base64URLDecode(stripDataURL(input), cancelled);
        // What comes next (unpacking, formatting) needs room more than the input.
        input = QByteArray();
        if (!bytes)
            return Result::failed(Failure::of(Failure::Kind::notBase64));
        return decodedOutput(*bytes, options.inflate, options.formatJSON, cancelled);
    }
    case Scheme::url: {
        auto bytes = Encodings::percentDecode(textOf(input), options.plusForSpace);
        if (!bytes)
            return Result::failed(Failure::of(Failure::Kind::notPercentEncoded));
        return decodedOutput(*bytes, false, options.formatJSON, cancelled);
    }
    case Scheme::html:
        return decodedOutput(Utf8Encoder::toUtf8(Encodings::htmlUnescape(textOf(input))), false, options.formatJSON, cancelled);
    case Scheme::hex: {
        Encodings::HexFault fault;
        auto bytes = Encodings::hexDecode(textOf(input), &fault);
        if (!bytes)
            return Result::failed(Failure::of(fault == Encodings::HexFault::notHex ? Failure::Kind::notHex
                                                                                   : Failure::Kind::oddHexLength));
        return decodedOutput(*bytes, options.inflate, options.formatJSON, cancelled);
    }
    }
    return Result::failed(Failure::of(Failure::Kind::notBase64));
}

QByteArray Codec::utf8Of(QStringView text)
{
    return Utf8Encoder::toUtf8(text);
}

Codec::Result Codec::decodedOutput(const QByteArray& decoded, bool unpack, bool formatJSON,
                                   const std::atomic_bool* cancelled)
{
    QByteArray bytes = decoded;
    Output output;
    if (unpack) {
        if (const auto format = Inflate::detectFormat(bytes)) {
            Inflate::Result unpacked = *format == Inflate::Format::gzip
                ? Inflate::unpackGzip(bytes, unpackLimit, cancelled)
                : Inflate::unpackZlib(bytes, unpackLimit, cancelled);
            if (unpacked.ok()) {
                bytes = std::move(unpacked.bytes);
                output.compression = *format;
            } else if (*unpacked.failure == Inflate::Failure::tooLarge) {
                return Result::failed(Failure::tooLarge(*format));
            } else if (*format == Inflate::Format::gzip) {
                return Result::failed(Failure::damaged(Inflate::Format::gzip));
            }
            // Damaged zlib: the bytes only looked like a zlib header; show them as they are.
        }
    }
    output.byteCount = bytes.size();
    // Text that is UTF-8 already is shown as it is: nothing to convert.
    const bool isText = Utf8Decoder::isWellFormed(bytes);
    if (cancelled && cancelled->load())
        return Result::success(Output{});
    if (!isText) {
        output.dump = HexDump(bytes, dumpLimit);
        output.text = Utf8Encoder::toUtf8(hexDumpText(16, *output.dump));
        output.content = Content::binary;
        return Result::success(std::move(output));
    }
    output.text = std::move(bytes);
    if (formatJSON && looksLikeJSONContainer(output.text)) {
        if (auto formatted = formattedJSON(output.text, cancelled)) {
            output.text = std::move(*formatted);
            output.content = Content::json;
        }
    }
    return Result::success(std::move(output));
}

QByteArrayView Codec::stripDataURL(QByteArrayView text)
{
    const QByteArrayView rest = text.sliced(skipBlanks(text));
    if (!rest.startsWith("data:"))
        return text;
    const qsizetype comma = rest.indexOf(',');
    if (comma < 0 || !rest.first(comma).endsWith(";base64"))
        return text;
    return rest.sliced(comma + 1);
}

bool Codec::looksLikeJSONContainer(QByteArrayView text)
{
    const qsizetype i = skipBlanks(text);
    return i < text.size() && (text[i] == '{' || text[i] == '[');
}

QString Codec::hexDumpText(int n, const HexDump& dump)
{
    n = std::max(n, 1);
    const qsizetype kept = dump.bytes.size();
    const qsizetype width = 3 * n + (n + 7) / 8 - 2;
    const qsizetype rows = (kept + n - 1) / n;
    QString out;
    out.reserve(rows * (8 + 2 + width + 3 + n + 1) + 40);
    const auto* b = reinterpret_cast<const unsigned char*>(dump.bytes.constData());
    QString line;
    for (qsizetype offset = 0; offset < kept; offset += n) {
        if (offset > 0)
            out.append(u'\n');
        const QString address = QString::number(offset, 16);
        if (address.size() < 8)
            out.append(QString(8 - address.size(), u'0'));
        out.append(address);
        out.append(u"  ");
        const qsizetype count = std::min<qsizetype>(n, kept - offset);
        qsizetype written = 0;
        for (qsizetype j = 0; j < count; ++j) {
            if (j > 0) {
                out.append(j % 8 == 0 ? u"  " : u" ");
                written += j % 8 == 0 ? 2 : 1;
            }
            const unsigned char c = b[offset + j];
            out.append(QChar(kHexDigits[c >> 4]));
            out.append(QChar(kHexDigits[c & 15]));
            written += 2;
        }
        if (written < width)
            out.append(QString(width - written, u' '));
        out.append(u"  |");
        for (qsizetype j = 0; j < count; ++j) {
            const unsigned char c = b[offset + j];
            out.append(c >= 0x20 && c <= 0x7E ? QChar(c) : QChar(u'.'));
        }
        out.append(u'|');
    }
    if (kept < dump.count) {
        if (kept > 0)
            out.append(u'\n');
        out.append(QStringLiteral("\u2026 ") + QString::number(dump.count - kept) + QStringLiteral(" more bytes"));
    }
    return out;
}

int Codec::bytesPerRow(int columns)
{
    if (columns >= 78)
        return 16;
    if (columns >= 45)
        return 8;
    return 4;
}
