#include "formats/Utf8Decoder.h"

#include "formats/CpuFeatures.h"
#include "formats/RunParts.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr qsizetype kPollEvery = qsizetype(1) << 16;
constexpr qsizetype kPartMinimum = qsizetype(1) << 18;

bool isSet(const std::atomic_bool* flag)
{
    return flag && flag->load(std::memory_order_relaxed);
}

// The sequence whose lead byte (not ASCII) is at p: its length with its code point in cp when
// well-formed, else minus the length of its maximal ill-formed subpart, which replacement turns
// into one U+FFFD as Unicode recommends.
inline int sequenceAt(const unsigned char* p, const unsigned char* end, char32_t& cp)
{
    const unsigned b = p[0];
    int need;
    unsigned lo = 0x80, hi = 0xBF;
    if (b < 0xC2) {
        return -1; // a continuation byte, or the lead of an overlong form
    } else if (b < 0xE0) {
        need = 1;
        cp = b & 0x1F;
    } else if (b < 0xF0) {
        need = 2;
        cp = b & 0x0F;
        lo = b == 0xE0 ? 0xA0 : 0x80; // no overlong forms
        hi = b == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (b < 0xF5) {
        need = 3;
        cp = b & 0x07;
        lo = b == 0xF0 ? 0x90 : 0x80;
        hi = b == 0xF4 ? 0x8F : 0xBF; // nothing past U+10FFFF
    } else {
        return -1;
    }
    for (int k = 1; k <= need; ++k) {
        if (end - p <= k || p[k] < lo || p[k] > hi)
            return -k;
        cp = cp << 6 | (p[k] & 0x3F);
        lo = 0x80;
        hi = 0xBF;
    }
    return need + 1;
}

// UTF-8 of s[0, n) as UTF-16 at o, which has room for `room` units (n always suffices); the
// units written, or -1 at the first ill-formed sequence unless `replace`, or once `cancelled` or
// `failed` (another part's) turns true. Runs of ASCII go sixteen bytes a step.
qsizetype decodeRun(const unsigned char* s, qsizetype n, char16_t* o, qsizetype room, bool replace,
                    const std::atomic_bool* cancelled, const std::atomic_bool* failed)
{
    const unsigned char* p = s;
    const unsigned char* const end = s + n;
    char16_t* const o0 = o;
    char16_t* const oEnd = o + room;
    while (p < end) {
        if (isSet(cancelled) || isSet(failed))
            return -1;
        // Sequences that begin before `stop`; they may read on past it.
        const unsigned char* const stop = end - p > kPollEvery ? p + kPollEvery : end;
        while (p < stop) {
#if defined(__SSE2__)
            while (p < stop && end - p >= 16 && oEnd - o >= 16) {
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
            while (p < stop) {
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
                char32_t cp;
                const int length = sequenceAt(p, end, cp);
                if (length < 0) {
                    if (!replace)
                        return -1;
                    *o++ = u'\uFFFD';
                    p -= length;
                } else if (length == 4) {
                    *o++ = QChar::highSurrogate(cp);
                    *o++ = QChar::lowSurrogate(cp);
                    p += 4;
                } else {
                    *o++ = char16_t(cp);
                    p += length;
                }
            }
        }
    }
    return o - o0;
}

// UTF-16 units of the well-formed UTF-8 s[0, n): one per lead byte, two for a four-byte one.
// Never less than what decodeRun writes of a prefix of it, well-formed or not.
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

// A large input is decoded in parts side by side, cut before lead bytes, each written straight to
// its place in a text sized exactly; the result is that of one sequential pass. A text kept long
// waits for a couple of megabytes before using threads: below that they cost more than they save
// in a fresh process or on a busy machine.
std::optional<QString> strictText(QByteArrayView bytes, const std::atomic_bool* cancelled, bool longLived)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    const qsizetype partsFrom = longLived ? qsizetype(1) << 21 : 2 * kPartMinimum;
    const int parts = n < partsFrom ? 1 : int(WorkPool::parts(n, kPartMinimum));
    if (parts <= 1) {
        QString text = QString(n, Qt::Uninitialized);
        const qsizetype units = decodeRun(s, n, reinterpret_cast<char16_t*>(text.data()), n, false, cancelled, nullptr);
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
    runParts(parts, [&](qsizetype k) { starts[size_t(k) + 1] = unitCount(s + cuts[size_t(k)], cuts[size_t(k) + 1] - cuts[size_t(k)]); });
    for (int k = 0; k < parts; ++k)
        starts[size_t(k) + 1] += starts[size_t(k)];
    QString text(starts.back(), Qt::Uninitialized);
    char16_t* const o = reinterpret_cast<char16_t*>(text.data());
    std::atomic_bool failed{false};
    runParts(parts, [&](qsizetype k) {
        const qsizetype room = starts[size_t(k) + 1] - starts[size_t(k)];
        // Well-formed parts fill their room exactly.
        if (decodeRun(s + cuts[size_t(k)], cuts[size_t(k) + 1] - cuts[size_t(k)], o + starts[size_t(k)], room, false,
                      cancelled, &failed) != room)
            failed = true;
    });
    if (failed || isSet(cancelled))
        return std::nullopt;
    return text;
}

// Ill-formed input is rare: it is decoded again in one pass, replacing as it goes.
std::optional<QString> repairedText(QByteArrayView bytes, const std::atomic_bool* cancelled, bool longLived)
{
    const qsizetype n = bytes.size();
    QString text = QString(n, Qt::Uninitialized);
    const qsizetype units = decodeRun(reinterpret_cast<const unsigned char*>(bytes.data()), n,
                                      reinterpret_cast<char16_t*>(text.data()), n, true, cancelled, nullptr);
    if (units < 0)
        return std::nullopt;
    text.resize(units);
    return text;
}

} // namespace

std::optional<QString> Utf8Decoder::decode(QByteArrayView bytes, const Options& options)
{
    if (options.byteOrderMark == ByteOrderMark::drop && bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    if (isSet(options.cancelled))
        return std::nullopt;
    if (std::optional<QString> text = strictText(bytes, options.cancelled, options.longLived))
        return text;
    if (options.illFormed == IllFormed::fail || isSet(options.cancelled))
        return std::nullopt;
    return repairedText(bytes, options.cancelled, options.longLived);
}

QString Utf8Decoder::decodeReplacing(QByteArrayView bytes, ByteOrderMark mark, bool longLived)
{
    return *decode(bytes, {IllFormed::replace, mark, nullptr, longLived});
}

namespace {

// The length of the well-formed sequence whose lead byte (not ASCII) is at p, 0 when it is
// ill-formed: an overlong form, a surrogate, past U+10FFFF, or cut short.
inline int wellFormedSequenceLength(const uchar* p, const uchar* end)
{
    const uchar b = p[0];
    int need;
    uchar lo = 0x80, hi = 0xBF;
    if (b < 0xC2) {
        return 0;
    } else if (b < 0xE0) {
        need = 1;
    } else if (b < 0xF0) {
        need = 2;
        lo = b == 0xE0 ? 0xA0 : 0x80;
        hi = b == 0xED ? 0x9F : 0xBF;
    } else if (b < 0xF5) {
        need = 3;
        lo = b == 0xF0 ? 0x90 : 0x80;
        hi = b == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (end - p <= need || p[1] < lo || p[1] > hi)
        return 0;
    for (int k = 2; k <= need; ++k) {
        if ((p[k] & 0xC0) != 0x80)
            return 0;
    }
    return need + 1;
}

// Whether s[0, n) is well-formed UTF-8. Runs of ASCII go eight bytes a step.
bool isWellFormedNarrow(const uchar* s, qsizetype n)
{
    const uchar* p = s;
    const uchar* const end = s + n;
    while (p < end) {
        while (end - p >= 8) {
            quint64 word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ull)
                break;
            p += 8;
        }
        while (p < end && *p < 0x80)
            ++p;
        if (p == end)
            break;
        const int length = wellFormedSequenceLength(p, end);
        if (!length)
            return false;
        p += length;
    }
    return true;
}

#ifdef QUORRIX_AVX2_LOOPS
// The same, 32 bytes a step whatever they hold: each byte is classed by its high and low half
// and the high half of the byte after it, three table look-ups whose common bits name a fault
// of that pair of bytes; the bytes two and three after a lead of three and four bytes must be
// continuations, and no other pair of continuations may be.
namespace lookup {
constexpr char tooShort = 1 << 0;   // a lead or ASCII where a continuation must be, or the reverse
constexpr char tooLong = 1 << 1;    // a continuation after ASCII
constexpr char overlong3 = 1 << 2;  // E0 80..9F
constexpr char tooLarge = 1 << 3;   // F4 90.. and beyond
constexpr char surrogate = 1 << 4;  // ED A0..BF
constexpr char overlong2 = 1 << 5;  // C0, C1
constexpr char tooLarge1000 = 1 << 6; // F5.. 80..8F
constexpr char overlong4 = 1 << 6;  // F0 80..8F
constexpr char twoConts = char(1 << 7);
constexpr char carry = tooShort | tooLong | twoConts;
} // namespace lookup

QUORRIX_AVX2 inline __m256i table16(char a0, char a1, char a2, char a3, char a4, char a5, char a6, char a7, char a8,
                                    char a9, char a10, char a11, char a12, char a13, char a14, char a15)
{
    return _mm256_setr_epi8(a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15,
                            a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15);
}

// The faults of the 32 bytes of `input` after `previous`, the block before them.
QUORRIX_AVX2 inline __m256i blockFaults(__m256i input, __m256i previous)
{
    using namespace lookup;
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    // The bytes one, two and three before each byte.
    const __m256i carried = _mm256_permute2x128_si256(previous, input, 0x21);
    const __m256i prev1 = _mm256_alignr_epi8(input, carried, 15);
    const __m256i prev2 = _mm256_alignr_epi8(input, carried, 14);
    const __m256i prev3 = _mm256_alignr_epi8(input, carried, 13);
    const __m256i byte1High = _mm256_shuffle_epi8(
        table16(tooLong, tooLong, tooLong, tooLong, tooLong, tooLong, tooLong, tooLong, twoConts, twoConts, twoConts,
                twoConts, tooShort | overlong2, tooShort, tooShort | overlong3 | surrogate,
                tooShort | tooLarge | tooLarge1000 | overlong4),
        _mm256_and_si256(_mm256_srli_epi16(prev1, 4), nibble));
    const __m256i byte1Low = _mm256_shuffle_epi8(
        table16(carry | overlong3 | overlong2 | overlong4, carry | overlong2, carry, carry, carry | tooLarge,
                carry | tooLarge | tooLarge1000, carry | tooLarge | tooLarge1000, carry | tooLarge | tooLarge1000,
                carry | tooLarge | tooLarge1000, carry | tooLarge | tooLarge1000, carry | tooLarge | tooLarge1000,
                carry | tooLarge | tooLarge1000, carry | tooLarge | tooLarge1000,
                carry | tooLarge | tooLarge1000 | surrogate, carry | tooLarge | tooLarge1000,
                carry | tooLarge | tooLarge1000),
        _mm256_and_si256(prev1, nibble));
    const __m256i byte2High = _mm256_shuffle_epi8(
        table16(tooShort, tooShort, tooShort, tooShort, tooShort, tooShort, tooShort, tooShort,
                tooLong | overlong2 | twoConts | overlong3 | tooLarge1000 | overlong4,
                tooLong | overlong2 | twoConts | overlong3 | tooLarge,
                tooLong | overlong2 | twoConts | surrogate | tooLarge,
                tooLong | overlong2 | twoConts | surrogate | tooLarge, tooShort, tooShort, tooShort, tooShort),
        _mm256_and_si256(_mm256_srli_epi16(input, 4), nibble));
    const __m256i special = _mm256_and_si256(_mm256_and_si256(byte1High, byte1Low), byte2High);
    // Bit 7 where the byte must be the second or third continuation of a sequence.
    const __m256i must23 = _mm256_or_si256(_mm256_subs_epu8(prev2, _mm256_set1_epi8(char(0xE0 - 0x80))),
                                           _mm256_subs_epu8(prev3, _mm256_set1_epi8(char(0xF0 - 0x80))));
    return _mm256_xor_si256(_mm256_and_si256(must23, _mm256_set1_epi8(char(0x80))), special);
}

QUORRIX_AVX2 bool isWellFormedWide(const uchar* s, qsizetype n)
{
    __m256i previous = _mm256_setzero_si256();
    __m256i faults = _mm256_setzero_si256();
    qsizetype i = 0;
    for (; n - i >= 32; i += 32) {
        const __m256i input = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        // Two blocks of ASCII in a row hold no fault.
        if (_mm256_movemask_epi8(_mm256_or_si256(input, previous)))
            faults = _mm256_or_si256(faults, blockFaults(input, previous));
        previous = input;
    }
    // The rest, then ASCII after it: a sequence cut short by the end is one cut short by ASCII.
    alignas(32) uchar tail[64] = {};
    if (n > i)
        std::memcpy(tail, s + i, size_t(n - i));
    for (int k = 0; k < 64; k += 32) {
        const __m256i input = _mm256_load_si256(reinterpret_cast<const __m256i*>(tail + k));
        faults = _mm256_or_si256(faults, blockFaults(input, previous));
        previous = input;
    }
    return _mm256_testz_si256(faults, faults);
}
#endif

bool isWellFormedRun(QByteArrayView text)
{
    const uchar* s = reinterpret_cast<const uchar*>(text.data());
#ifdef QUORRIX_AVX2_LOOPS
    if (CpuFeatures::hasAvx2())
        return isWellFormedWide(s, text.size());
#endif
    return isWellFormedNarrow(s, text.size());
}

} // namespace

// In slices side by side, leaving a core to the GUI thread. A slice begins at a lead
// byte: a cut moves past up to three continuation bytes, and more than three in a row are
// ill-formed, which the next slice then says.
bool Utf8Decoder::isWellFormed(QByteArrayView text)
{
    constexpr qsizetype slice = 1 << 15;
    const qsizetype n = text.size();
    if (n <= slice)
        return isWellFormedRun(text);
    const qsizetype slices = (n + slice - 1) / slice;
    const auto cut = [&](qsizetype k) {
        qsizetype at = std::min(n, k * slice);
        for (int step = 0; step < 3 && at < n && (uchar(text[at]) & 0xC0) == 0x80; ++step)
            ++at;
        return at;
    };
    std::atomic_bool illFormed{false};
    // Slices are taken one at a time: a helper that the busy machine holds back delays one slice.
    runParts(slices, [&](qsizetype k) {
        if (illFormed.load(std::memory_order_relaxed))
            return;
        const qsizetype from = cut(k);
        if (!isWellFormedRun(text.sliced(from, cut(k + 1) - from)))
            illFormed = true;
    }, WorkPool::workersFor(n, qsizetype(1) << 21));
    return !illFormed;
}
