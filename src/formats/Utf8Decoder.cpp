#include "formats/Utf8Decoder.h"

#include "formats/BulkCodec.h"
#include "formats/LargeBuffer.h"
#include "formats/RunParts.h"

#include <QThread>

#include <algorithm>
#include <vector>

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

// UTF-16 units of the well-formed UTF-8 s[0, n): one per lead byte, two for a four-byte one.
qsizetype unitCount(const unsigned char* s, qsizetype n)
{
    qsizetype units = n, i = 0;
#if defined(__SSE2__)
    // Per byte lane, how many continuation bytes (each one unit less) and four-byte leads (each
    // one unit more) were seen, summed across lanes every 255 steps.
    const __m128i leadLimit = _mm_set1_epi8(char(0xC0)); // signed, 0x80..0xBF lie below it
    const __m128i fourByte = _mm_set1_epi8(char(0xF0));
    const __m128i zero = _mm_setzero_si128();
    while (n - i >= 16) {
        __m128i continuations = zero, fours = zero;
        for (int step = 0; step < 255 && n - i >= 16; ++step, i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            continuations = _mm_sub_epi8(continuations, _mm_cmpgt_epi8(leadLimit, v));
            fours = _mm_sub_epi8(fours, _mm_cmpeq_epi8(_mm_max_epu8(v, fourByte), v));
        }
        const __m128i c = _mm_sad_epu8(continuations, zero), f = _mm_sad_epu8(fours, zero);
        units -= _mm_cvtsi128_si32(c) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(c, c));
        units += _mm_cvtsi128_si32(f) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(f, f));
    }
#endif
    for (; i < n; ++i)
        units += (s[i] & 0xC0) == 0x80 ? -1 : (s[i] >= 0xF0 ? 1 : 0);
    return units;
}

// The text of well-formed UTF-8, or nothing at the first ill-formed sequence. A large input is
// decoded in parts side by side, each written straight to its place, cut before lead bytes.
std::optional<QString> strictUtf8Uncancellable(QByteArrayView bytes)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    constexpr qsizetype partMinimum = qsizetype(1) << 18;
    // Below a couple of megabytes threads cost more than they save, most of all in a fresh
    // process or on a busy machine.
    constexpr qsizetype textMinimum = qsizetype(1) << 21;
    const int parts = n < textMinimum ? 1 : int(std::min<qsizetype>(4 * partWorkers(), n / partMinimum));
    if (parts <= 1) {
        QString text = LargeBuffer::uninitializedString(n);
        LargeBuffer::populate(text.data(), size_t(n) * sizeof(char16_t));
        const qsizetype units = decodeStrict(s, n, reinterpret_cast<char16_t*>(text.data()), n);
        if (units < 0)
            return std::nullopt;
        text.resize(units);
        return text;
    }
    std::vector<qsizetype> cuts(size_t(parts) + 1, n);
    cuts[0] = 0;
    for (int k = 1; k < parts; ++k) {
        qsizetype at = std::max(n / parts * k, cuts[size_t(k) - 1]);
        // More than three continuation bytes in a row are ill-formed; the next part says so.
        for (int step = 0; step < 3 && at < n && (s[at] & 0xC0) == 0x80; ++step)
            ++at;
        cuts[size_t(k)] = at;
    }
    std::vector<qsizetype> starts(size_t(parts) + 1, 0);
    runParts(parts, [&](int k) { starts[size_t(k) + 1] = unitCount(s + cuts[size_t(k)], cuts[size_t(k) + 1] - cuts[size_t(k)]); });
    for (int k = 0; k < parts; ++k)
        starts[size_t(k) + 1] += starts[size_t(k)];
    QString text = LargeBuffer::uninitializedString(starts.back());
    char16_t* const o = reinterpret_cast<char16_t*>(text.data());
    std::atomic_bool failed{false};
    runParts(parts, [&](int k) {
        if (failed.load(std::memory_order_relaxed))
            return;
        const qsizetype room = starts[size_t(k) + 1] - starts[size_t(k)];
        LargeBuffer::populate(o + starts[size_t(k)], size_t(room) * sizeof(char16_t));
        // Well-formed parts fill their room exactly.
        if (decodeStrict(s + cuts[size_t(k)], cuts[size_t(k) + 1] - cuts[size_t(k)], o + starts[size_t(k)], room) != room)
            failed = true;
    });
    if (failed)
        return std::nullopt;
    return text;
}

bool isCancelled(const std::atomic_bool* cancelled)
{
    return cancelled && cancelled->load(std::memory_order_relaxed);
}

// A text kept for long goes to the engine above, which writes straight into huge pages; other
// long ones to BulkCodec's, which polls the flag as it goes and uses ordinary memory (huge pages
// cost more than they save for a short-lived text). Short inputs (a CSV cell, a token's header)
// skip the bookkeeping of parts.
std::optional<QString> strictUtf8(QByteArrayView bytes, const std::atomic_bool* cancelled, bool longLived)
{
    const qsizetype n = bytes.size();
    if (isCancelled(cancelled))
        return std::nullopt;
    if (longLived) {
        std::optional<QString> text = strictUtf8Uncancellable(bytes);
        return isCancelled(cancelled) ? std::nullopt : std::move(text);
    }
    if (n >= 2 * BulkCodec::partMinimum)
        return BulkCodec::textFromUtf8(bytes, cancelled);
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
    if (std::optional<QString> text = strictUtf8(bytes, options.cancelled, options.longLived))
        return text;
    if (options.illFormed == IllFormed::fail || isCancelled(options.cancelled))
        return std::nullopt;
    return repairedUtf8(bytes);
}

QString Utf8Decoder::decodeReplacing(QByteArrayView bytes, ByteOrderMark mark, bool longLived)
{
    return *decode(bytes, {IllFormed::replace, mark, nullptr, longLived});
}
