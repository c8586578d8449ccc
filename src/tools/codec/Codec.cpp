#include "tools/codec/Codec.h"

#include <array>
#include <cstdint>

namespace {

constexpr quint8 kInvalid = 0xFF;
constexpr quint8 kBlank = 0xFE;
constexpr quint8 kPad = 0xFD;

// One table for both alphabets, so "-" and "_" decode as "+" and "/" without a rewrite pass.
constexpr std::array<quint8, 128> makeBase64Table()
{
    std::array<quint8, 128> table{};
    for (auto& entry : table)
        entry = kInvalid;
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(alphabet[i])] = static_cast<quint8>(i);
    table['-'] = 62;
    table['_'] = 63;
    table['='] = kPad;
    for (char c : { '\t', '\n', '\v', '\f', '\r', ' ' })
        table[static_cast<unsigned char>(c)] = kBlank;
    return table;
}

constexpr std::array<quint8, 128> kBase64Table = makeBase64Table();

bool isWhiteSpace(char32_t c)
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

// Marks that join the character before them into one user-perceived character.
bool isGraphemeExtender(char32_t c)
{
    const auto category = QChar::category(c);
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
        || category == QChar::Mark_Enclosing || c == 0x200D;
}

} // namespace

std::optional<QByteArray> Codec::base64URLDecode(QStringView text)
{
    const char16_t* p = text.utf16();
    const char16_t* const end = p + text.size();

    QByteArray out;
    out.resize(text.size() / 4 * 3 + 3);
    auto* o = reinterpret_cast<unsigned char*>(out.data());

    quint32 acc = 0;
    int pending = 0; // sextets in acc
    qsizetype dataChars = 0;
    qsizetype padChars = 0;
    bool afterBlank = false;

    // Fast path: whole quanta of four alphabet characters.
    while (end - p >= 4) {
        const char16_t a = p[0], b = p[1], c = p[2], d = p[3];
        if ((a | b | c | d) >= 128)
            break;
        const quint32 va = kBase64Table[a], vb = kBase64Table[b], vc = kBase64Table[c], vd = kBase64Table[d];
        if ((va | vb | vc | vd) >= 64)
            break;
        const quint32 v = (va << 18) | (vb << 12) | (vc << 6) | vd;
        o[0] = static_cast<unsigned char>(v >> 16);
        o[1] = static_cast<unsigned char>(v >> 8);
        o[2] = static_cast<unsigned char>(v);
        o += 3;
        p += 4;
        dataChars += 4;
    }

    while (p < end) {
        const char16_t u = *p;
        quint8 v;
        if (u < 128) {
            v = kBase64Table[u];
        } else {
            char32_t cp = u;
            const char16_t* next = p + 1;
            if (QChar::isHighSurrogate(u) && next < end && QChar::isLowSurrogate(*next))
                cp = QChar::surrogateToUcs4(u, *next++);
            p = next;
            // A blank character takes its combining marks with it (one user-perceived character).
            if (isWhiteSpace(cp) || (afterBlank && isGraphemeExtender(cp))) {
                afterBlank = true;
                continue;
            }
            return std::nullopt;
        }
        afterBlank = v == kBlank;
        ++p;
        if (v < 64) {
            if (padChars)
                return std::nullopt; // data after padding
            acc = (acc << 6) | v;
            ++dataChars;
            if (++pending == 4) {
                o[0] = static_cast<unsigned char>(acc >> 16);
                o[1] = static_cast<unsigned char>(acc >> 8);
                o[2] = static_cast<unsigned char>(acc);
                o += 3;
                pending = 0;
                acc = 0;
            }
        } else if (v == kPad) {
            ++padChars;
        } else if (v != kBlank) {
            return std::nullopt;
        }
    }

    const qsizetype n = dataChars + padChars;
    if (n % 4 == 1)
        return std::nullopt;
    const qsizetype padded = (n + 3) / 4 * 4;
    const qsizetype padding = padChars + (padded - n);
    const int expectedLeft = padding == 0 ? 0 : padding == 1 ? 3 : padding == 2 ? 2 : -1;
    if (pending != expectedLeft)
        return std::nullopt;
    if (pending == 2) {
        *o++ = static_cast<unsigned char>(acc >> 4);
    } else if (pending == 3) {
        *o++ = static_cast<unsigned char>(acc >> 10);
        *o++ = static_cast<unsigned char>(acc >> 2);
    }
    out.truncate(o - reinterpret_cast<unsigned char*>(out.data()));
    return out;
}
