#include "formats/Utf8Decoder.h"

#include "formats/BulkCodec.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Each maximal ill-formed subpart becomes one U+FFFD, the way the Unicode standard recommends,
// so a truncated sequence gives one replacement and not one per byte.
QString repairedUtf8(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            out.append(QChar(b));
            ++i;
            continue;
        }
        int need = 0;
        char32_t cp = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            cp = b & 0x0F;
            if (b == 0xE0)
                lo = 0xA0;
            else if (b == 0xED)
                hi = 0x9F; // no encoded surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            cp = b & 0x07;
            if (b == 0xF0)
                lo = 0x90;
            else if (b == 0xF4)
                hi = 0x8F;
        } else {
            out.append(QChar(0xFFFD));
            ++i;
            continue;
        }
        qsizetype j = i + 1;
        int got = 0;
        while (got < need && j < n) {
            const unsigned char c = p[j];
            const unsigned char l = got == 0 ? lo : 0x80, h = got == 0 ? hi : 0xBF;
            if (c < l || c > h)
                break;
            cp = (cp << 6) | (c & 0x3F);
            ++j;
            ++got;
        }
        if (got < need) {
            out.append(QChar(0xFFFD));
            i = j;
            continue;
        }
        if (QChar::requiresSurrogates(cp)) {
            out.append(QChar(QChar::highSurrogate(cp)));
            out.append(QChar(QChar::lowSurrogate(cp)));
        } else {
            out.append(QChar(char16_t(cp)));
        }
        i = j;
    }
    return out;
}

// Strict UTF-8 of s[0, n) into o, which has room for `room` units; the units written, or -1 at
// the first ill-formed sequence. Runs of ASCII go sixteen bytes a step.
qsizetype decodeStrict(const unsigned char* s, qsizetype n, char16_t* o, qsizetype room)
{
    const unsigned char* p = s;
    const unsigned char* const end = s + n;
    char16_t* const o0 = o;
    char16_t* const oEnd = o + room;
    while (p < end) {
#if defined(__SSE2__)
        while (end - p >= 16 && oEnd - o >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i zero = _mm_setzero_si128();
            // All sixteen are stored; only the ASCII ones count.
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_unpacklo_epi8(v, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 8), _mm_unpackhi_epi8(v, zero));
            const int mask = _mm_movemask_epi8(v);
            if (mask) {
                const int k = __builtin_ctz(unsigned(mask));
                p += k;
                o += k;
                break;
            }
            p += 16;
            o += 16;
        }
#endif
        // Characters one at a time until ASCII comes back where the wide loop can take it.
        while (p < end) {
            const unsigned b = *p;
            if (b < 0x80) {
#if defined(__SSE2__)
                if (end - p >= 16 && oEnd - o >= 16)
                    break;
#endif
                *o++ = char16_t(b);
                ++p;
                continue;
            }
            if (b < 0xE0) {
                if (b < 0xC2 || end - p < 2 || (p[1] & 0xC0) != 0x80)
                    return -1;
                *o++ = char16_t(((b & 0x1F) << 6) | (p[1] & 0x3F));
                p += 2;
            } else if (b < 0xF0) {
                if (end - p < 3 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80)
                    return -1;
                const unsigned c = ((b & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
                if (c < 0x800 || (c >= 0xD800 && c < 0xE000))
                    return -1;
                *o++ = char16_t(c);
                p += 3;
            } else {
                if (b > 0xF4 || end - p < 4 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80
                    || (p[3] & 0xC0) != 0x80)
                    return -1;
                const char32_t c = ((b & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) | (p[3] & 0x3F);
                if (c < 0x10000 || c > 0x10FFFF)
                    return -1;
                *o++ = QChar::highSurrogate(c);
                *o++ = QChar::lowSurrogate(c);
                p += 4;
            }
        }
    }
    return o - o0;
}

bool isCancelled(const std::atomic_bool* cancelled)
{
    return cancelled && cancelled->load(std::memory_order_relaxed);
}

// One part is all BulkCodec would make of an input this short; it is done here without the
// bookkeeping of parts, which short inputs (a CSV cell, a token's header) would pay for.
std::optional<QString> strictUtf8(QByteArrayView bytes, const std::atomic_bool* cancelled)
{
    const qsizetype n = bytes.size();
    if (n >= 2 * BulkCodec::partMinimum)
        return BulkCodec::textFromUtf8(bytes, cancelled);
    if (isCancelled(cancelled))
        return std::nullopt;
    QString text(n, Qt::Uninitialized);
    const qsizetype units = decodeStrict(reinterpret_cast<const unsigned char*>(bytes.data()), n,
                                         reinterpret_cast<char16_t*>(text.data()), n);
    if (units < 0)
        return std::nullopt;
    text.truncate(units);
    return text;
}

} // namespace

std::optional<QString> Utf8Decoder::decode(QByteArrayView bytes, const Options& options)
{
    if (options.byteOrderMark == ByteOrderMark::drop && bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    if (std::optional<QString> text = strictUtf8(bytes, options.cancelled))
        return text;
    if (options.illFormed == IllFormed::fail || isCancelled(options.cancelled))
        return std::nullopt;
    return repairedUtf8(bytes);
}

QString Utf8Decoder::decodeReplacing(QByteArrayView bytes, ByteOrderMark mark)
{
    return *decode(bytes, {IllFormed::replace, mark, nullptr});
}
