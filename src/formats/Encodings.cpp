#include "formats/Encodings.h"

#include "formats/BulkCodec.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

// -1 for a character that is not a hex digit.
constexpr std::array<qint8, 128> makeHexTable()
{
    std::array<qint8, 128> table{};
    for (auto& entry : table)
        entry = -1;
    for (int i = 0; i < 10; ++i)
        table['0' + i] = static_cast<qint8>(i);
    for (int i = 0; i < 6; ++i) {
        table['a' + i] = static_cast<qint8>(10 + i);
        table['A' + i] = static_cast<qint8>(10 + i);
    }
    return table;
}

constexpr std::array<qint8, 128> kHexTable = makeHexTable();

QString uninitializedText(qsizetype length)
{
    return QString(length, Qt::Uninitialized);
}

QByteArray uninitializedBytes(qsizetype length)
{
    return QByteArray(length, Qt::Uninitialized);
}

struct NamedEntity {
    const char16_t* name;
    char16_t scalar;
};

constexpr NamedEntity kNamedEntities[] = {
    {u"amp", 0x26},     {u"apos", 0x27},    {u"bull", 0x2022},   {u"cent", 0xA2},   {u"copy", 0xA9},
    {u"darr", 0x2193},  {u"deg", 0xB0},     {u"divide", 0xF7},   {u"euro", 0x20AC}, {u"frac12", 0xBD},
    {u"frac14", 0xBC},  {u"frac34", 0xBE},  {u"gt", 0x3E},       {u"harr", 0x2194}, {u"hellip", 0x2026},
    {u"laquo", 0xAB},   {u"larr", 0x2190},  {u"ldquo", 0x201C},  {u"lsquo", 0x2018}, {u"lt", 0x3C},
    {u"mdash", 0x2014}, {u"micro", 0xB5},   {u"middot", 0xB7},   {u"nbsp", 0xA0},   {u"ndash", 0x2013},
    {u"para", 0xB6},    {u"plusmn", 0xB1},  {u"pound", 0xA3},    {u"quot", 0x22},   {u"raquo", 0xBB},
    {u"rarr", 0x2192},  {u"rdquo", 0x201D}, {u"reg", 0xAE},      {u"rsquo", 0x2019}, {u"sect", 0xA7},
    {u"times", 0xD7},   {u"trade", 0x2122}, {u"uarr", 0x2191},   {u"yen", 0xA5},
};
constexpr qsizetype kNamedEntityMaxLength = 6;

// A name of up to eight ASCII characters packed into one number, for a quick table search.
std::optional<quint64> packedName(QStringView name)
{
    if (name.isEmpty() || name.size() > 8)
        return std::nullopt;
    quint64 key = 0;
    for (QChar c : name) {
        if (c.unicode() >= 128)
            return std::nullopt;
        key = key << 8 | c.unicode();
    }
    return key;
}

std::optional<char16_t> lookUpEntity(QStringView name)
{
    static const auto table = [] {
        std::array<std::pair<quint64, char16_t>, std::size(kNamedEntities)> packed{};
        for (size_t i = 0; i < std::size(kNamedEntities); ++i)
            packed[i] = {*packedName(QStringView(kNamedEntities[i].name)), kNamedEntities[i].scalar};
        std::sort(packed.begin(), packed.end());
        return packed;
    }();
    const auto key = packedName(name);
    if (!key)
        return std::nullopt;
    const auto found = std::lower_bound(table.begin(), table.end(), std::pair<quint64, char16_t>(*key, 0));
    if (found != table.end() && found->first == *key)
        return found->second;
    return std::nullopt;
}

// The HTML standard's remap of numeric references 0x80-0x9F; the five it leaves open map to themselves.
constexpr char16_t kWindows1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char32_t referenceScalar(quint32 value)
{
    if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0xFFFD;
    if (value >= 0x80 && value <= 0x9F)
        return kWindows1252[value - 0x80];
    return value;
}

// One character reference on the text after "&": the replacement scalar and the length consumed
// (up to and including the ";"), or nothing.
std::optional<std::pair<char32_t, qsizetype>> decodeCharacterReference(QStringView rest)
{
    if (rest.startsWith(u'#')) {
        qsizetype i = 1;
        int radix = 10;
        if (i < rest.size() && (rest[i] == u'x' || rest[i] == u'X')) {
            radix = 16;
            ++i;
        }
        const qsizetype digitsStart = i;
        quint64 value = 0;
        bool saturated = false;
        while (i < rest.size()) {
            const char16_t c = rest[i].unicode();
            int digit = c < 128 ? kHexTable[c] : -1;
            if (digit < 0 || digit >= radix)
                break;
            if (!saturated) {
                value = value * quint64(radix) + quint64(digit);
                if (value > 0xFFFFFFFFull)
                    saturated = true;
            }
            ++i;
        }
        if (i == rest.size() || i == digitsStart || rest[i] != u';')
            return std::nullopt;
        const quint32 v = saturated ? 0xFFFFFFFFu : static_cast<quint32>(value);
        return std::pair(referenceScalar(v), i + 1);
    }
    const qsizetype window = std::min<qsizetype>(rest.size(), kNamedEntityMaxLength + 1);
    const qsizetype semicolon = rest.first(window).indexOf(u';');
    if (semicolon <= 0)
        return std::nullopt;
    if (const auto scalar = lookUpEntity(rest.first(semicolon)))
        return std::pair(char32_t(*scalar), semicolon + 1);
    return std::nullopt;
}


} // namespace

bool Encodings::isWhiteSpace(char32_t c)
{
    switch (c) {
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20:
    case 0x85: case 0xA0: case 0x1680:
    case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

std::optional<QByteArray> Encodings::base64URLDecode(QStringView text, const std::atomic_bool* cancelled)
{
    return BulkCodec::base64Decode(text, cancelled);
}

std::optional<QByteArray> Encodings::base64URLDecode(QByteArrayView utf8, const std::atomic_bool* cancelled)
{
    return BulkCodec::base64Decode(utf8, cancelled);
}

QByteArray Encodings::base64Encode(QByteArray bytes, bool urlSafe, const std::atomic_bool* cancelled)
{
    return BulkCodec::base64Encode(std::move(bytes), urlSafe, cancelled);
}

QString Encodings::percentEncode(QStringView text, bool plusForSpace)
{
    const QByteArray bytes = text.toUtf8();
    static constexpr auto allowed = [] {
        std::array<bool, 256> table{};
        for (unsigned char c : std::string_view("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~"))
            table[c] = true;
        return table;
    }();
    qsizetype length = 0;
    for (char b : bytes)
        length += allowed[static_cast<unsigned char>(b)] || (plusForSpace && b == ' ') ? 1 : 3;
    QString out = uninitializedText(length);
    char16_t* o = reinterpret_cast<char16_t*>(out.data());
    for (char b : bytes) {
        const auto c = static_cast<unsigned char>(b);
        if (allowed[c]) {
            *o++ = c;
        } else if (plusForSpace && c == ' ') {
            *o++ = u'+';
        } else {
            o[0] = u'%';
            o[1] = char16_t(kUpperHexDigits[c >> 4]);
            o[2] = char16_t(kUpperHexDigits[c & 15]);
            o += 3;
        }
    }
    return out;
}

std::optional<QByteArray> Encodings::percentDecode(QStringView text, bool plusForSpace)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end) {
        qsizetype next;
        if (!isWhiteSpace(codePointAt(text, begin, &next)))
            break;
        begin = next;
    }
    while (end > begin) {
        char32_t c = text[end - 1].unicode();
        qsizetype width = 1;
        if (QChar::isLowSurrogate(c) && end - 2 >= begin && QChar::isHighSurrogate(text[end - 2].unicode())) {
            c = QChar::surrogateToUcs4(text[end - 2].unicode(), char16_t(c));
            width = 2;
        }
        if (!isWhiteSpace(c))
            break;
        end -= width;
    }
    QByteArray bytes = text.sliced(begin, end - begin).toUtf8();
    char* p = bytes.data();
    const char* in = p;
    const char* const stop = p + bytes.size();
    char* o = p;
    while (in < stop) {
        const char c = *in;
        if (c == '%') {
            if (stop - in < 3)
                return std::nullopt;
            const auto h = static_cast<unsigned char>(in[1]);
            const auto l = static_cast<unsigned char>(in[2]);
            const int hi = h < 128 ? kHexTable[h] : -1;
            const int lo = l < 128 ? kHexTable[l] : -1;
            if (hi < 0 || lo < 0)
                return std::nullopt;
            *o++ = static_cast<char>(hi << 4 | lo);
            in += 3;
        } else {
            *o++ = plusForSpace && c == '+' ? ' ' : c;
            ++in;
        }
    }
    bytes.truncate(o - p);
    if (!QByteArrayView(bytes).isValidUtf8())
        return std::nullopt;
    return bytes;
}

QString Encodings::htmlEscape(QStringView text)
{
    QString out;
    out.reserve(text.size());
    qsizetype copied = 0;
    const char16_t* s = text.utf16();
    for (qsizetype i = 0; i < text.size(); ++i) {
        QStringView replacement;
        switch (s[i]) {
        case u'&': replacement = u"&amp;"; break;
        case u'<': replacement = u"&lt;"; break;
        case u'>': replacement = u"&gt;"; break;
        case u'"': replacement = u"&quot;"; break;
        case u'\'': replacement = u"&#39;"; break;
        default: continue;
        }
        out.append(text.sliced(copied, i - copied));
        out.append(replacement);
        copied = i + 1;
    }
    out.append(text.sliced(copied));
    return out;
}

QString Encodings::referenceText(quint32 value)
{
    const char32_t scalar = referenceScalar(value);
    return QString::fromUcs4(&scalar, 1);
}

QString Encodings::htmlUnescape(QStringView text)
{
    const char16_t* const s = text.utf16();
    const qsizetype n = text.size();
    qsizetype amp = text.indexOf(u'&');
    if (amp < 0)
        return text.toString();
    // Every reference is at least as long as what it stands for, so the text never grows.
    QString out(n, Qt::Uninitialized);
    char16_t* o = reinterpret_cast<char16_t*>(out.data());
    qsizetype cursor = 0;
    while (amp >= 0) {
        qsizetype from = amp + 1; // a failed "&" stays in the text and the search goes on
        if (auto reference = decodeCharacterReference(text.sliced(amp + 1))) {
            memcpy(o, s + cursor, size_t(amp - cursor) * 2);
            o += amp - cursor;
            const char32_t scalar = reference->first;
            if (QChar::requiresSurrogates(scalar)) {
                *o++ = QChar::highSurrogate(scalar);
                *o++ = QChar::lowSurrogate(scalar);
            } else {
                *o++ = char16_t(scalar);
            }
            // Replacements are never scanned again.
            cursor = from = amp + 1 + reference->second;
        }
        const char16_t* next = from < n ? std::char_traits<char16_t>::find(s + from, size_t(n - from), u'&') : nullptr;
        amp = next ? next - s : -1;
    }
    memcpy(o, s + cursor, size_t(n - cursor) * 2);
    o += n - cursor;
    out.truncate(o - reinterpret_cast<char16_t*>(out.data()));
    return out;
}

QByteArray Encodings::hexEncode(QByteArrayView bytes)
{
    QByteArray out = uninitializedBytes(bytes.size() * 2);
    char* o = out.data();
    for (char b : bytes) {
        const auto c = static_cast<unsigned char>(b);
        o[0] = kHexDigits[c >> 4];
        o[1] = kHexDigits[c & 15];
        o += 2;
    }
    return out;
}

std::optional<QByteArray> Encodings::hexDecode(QStringView text, HexFault* fault)
{
    auto fail = [fault](HexFault kind) -> std::optional<QByteArray> {
        if (fault)
            *fault = kind;
        return std::nullopt;
    };
    // Classes of ASCII characters: 0-15 digits, kSep separators, kBad anything else.
    constexpr qint8 kSep = 16;
    constexpr qint8 kBad = 17;
    static constexpr auto classes = [] {
        std::array<qint8, 128> table{};
        for (int c = 0; c < 128; ++c)
            table[c] = kHexTable[c] >= 0 ? kHexTable[c] : kBad;
        for (char c : { ' ', '\t', '\n', '\v', '\f', '\r', ':', ',', '-' })
            table[static_cast<unsigned char>(c)] = kSep;
        return table;
    }();

    // Prefixes are removed only when an "x" is present at all; without one, walk the text as it is.
    QByteArray lowered;
    const bool hasX = text.contains(u'x') || text.contains(u'X');
    if (hasX) {
        // Lower-case ASCII with every blank as " ". Nothing outside ASCII can be a digit or part of
        // a removed prefix, so anything else fails at once.
        lowered = QByteArray(text.size(), Qt::Uninitialized);
        char* l = lowered.data();
        for (qsizetype i = 0; i < text.size();) {
            const char16_t u = text.utf16()[i];
            if (u < 128) {
                *l++ = static_cast<char>(u >= 'A' && u <= 'Z' ? u + 32 : u);
                ++i;
                continue;
            }
            qsizetype next;
            if (!isWhiteSpace(codePointAt(text, i, &next)))
                return fail(HexFault::notHex);
            *l++ = ' ';
            i = next;
        }
        lowered.truncate(l - lowered.data());
        // Plain substring removals, one after the other: first every "0x", then every "\\x".
        for (char first : { '0', '\\' }) {
            char* w = lowered.data();
            const char* r = lowered.constData();
            const char* const stop = r + lowered.size();
            while (r < stop) {
                if (r + 1 < stop && r[0] == first && r[1] == 'x') {
                    r += 2;
                    continue;
                }
                *w++ = *r++;
            }
            lowered.truncate(w - lowered.data());
        }
    }

    const qsizetype units = hasX ? lowered.size() : text.size();
    QByteArray out = uninitializedBytes(units / 2 + 1);
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    int high = -1;
    auto walk = [&](auto* p, auto* const stop) -> bool {
        while (p < stop) {
            // Fast path: two digits in a row, outside a pending pair.
            while (high < 0 && stop - p >= 2) {
                const auto a = static_cast<char32_t>(p[0]);
                const auto b = static_cast<char32_t>(p[1]);
                if ((a | b) >= 128)
                    break;
                const int x = classes[a], y = classes[b];
                if ((x | y) >= 16)
                    break;
                *o++ = static_cast<unsigned char>(x << 4 | y);
                p += 2;
            }
            if (p >= stop)
                break;
            const auto u = static_cast<char32_t>(*p);
            if (u < 128) {
                const int cls = classes[u];
                ++p;
                if (cls < 16) {
                    if (high < 0) {
                        high = cls;
                    } else {
                        *o++ = static_cast<unsigned char>(high << 4 | cls);
                        high = -1;
                    }
                } else if (cls == kBad) {
                    return false;
                }
                continue;
            }
            // Only UTF-16 text reaches here: a blank outside ASCII is a separator.
            char32_t c = u;
            ++p;
            if (QChar::isHighSurrogate(c) && p < stop && QChar::isLowSurrogate(static_cast<char32_t>(*p)))
                c = QChar::surrogateToUcs4(char16_t(u), char16_t(*p++));
            if (!isWhiteSpace(c))
                return false;
        }
        return true;
    };
    const bool ok = hasX ? walk(reinterpret_cast<const unsigned char*>(lowered.constData()),
                                reinterpret_cast<const unsigned char*>(lowered.constData()) + lowered.size())
                         : walk(text.utf16(), text.utf16() + text.size());
    if (!ok)
        return fail(HexFault::notHex);
    if (high >= 0)
        return fail(HexFault::oddLength);
    out.truncate(o - reinterpret_cast<unsigned char*>(out.data()));
    return out;
}
