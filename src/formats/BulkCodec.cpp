#include "formats/BulkCodec.h"

#include "formats/Encodings.h"

#include "formats/CpuFeatures.h"
#include "formats/RunParts.h"

#include <QChar>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr qsizetype kPollEvery = 1 << 16;

bool isCancelled(const std::atomic_bool* flag)
{
    return flag && flag->load(std::memory_order_relaxed);
}

#if defined(QUORRIX_AVX2_LOOPS)
using CpuFeatures::hasAvx2;
#endif

// ---- Parts side by side ----

// first(i) for every part, then `between` once, then second(i) for every part. `between` runs on
// the calling thread, so that what it allocates belongs to the caller's heap.
template <typename First, typename Between, typename Second>
void runInTwoSteps(int parts, const First& first, const Between& between, const Second& second)
{
    runParts(parts, [&first](qsizetype k) { first(int(k)); });
    between();
    runParts(parts, [&second](qsizetype k) { second(int(k)); });
}

inline bool isHighSurrogate(char16_t u)
{
    return (u & 0xFC00) == 0xD800;
}

inline bool isLowSurrogate(char16_t u)
{
    return (u & 0xFC00) == 0xDC00;
}

// Cut points of a UTF-16 text into equal parts, never between the halves of a surrogate pair.
std::vector<qsizetype> cutText(const char16_t* s, qsizetype n, int parts)
{
    std::vector<qsizetype> cuts(size_t(parts) + 1, n);
    cuts[0] = 0;
    for (int k = 1; k < parts; ++k) {
        qsizetype at = n / parts * k;
        if (at > 0 && at < n && isLowSurrogate(s[at]) && isHighSurrogate(s[at - 1]))
            ++at;
        cuts[size_t(k)] = std::max(at, cuts[size_t(k) - 1]);
    }
    return cuts;
}

// Cut points of UTF-8 text into equal parts, never inside a sequence.
std::vector<qsizetype> cutText(const unsigned char* s, qsizetype n, int parts)
{
    std::vector<qsizetype> cuts(size_t(parts) + 1, n);
    cuts[0] = 0;
    for (int k = 1; k < parts; ++k) {
        qsizetype at = n / parts * k;
        for (int i = 0; i < 3 && at < n && (s[at] & 0xC0) == 0x80; ++i)
            ++at;
        cuts[size_t(k)] = std::max(at, cuts[size_t(k) - 1]);
    }
    return cuts;
}

#if defined(__SSE2__)
// The sum of the eight 16-bit lanes.
inline qint64 laneSum(__m128i lanes)
{
    alignas(16) qint32 sums[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(sums), _mm_madd_epi16(lanes, _mm_set1_epi16(1)));
    return qint64(sums[0]) + sums[1] + sums[2] + sums[3];
}
#endif

// ---- Base64 encoding ----

constexpr char kStandardAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kUrlAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Two characters at once: entry v holds the characters of the two sextets of v, in memory order.
constexpr std::array<quint16, 4096> makePairTable(const char* alphabet)
{
    std::array<quint16, 4096> table{};
    for (quint32 v = 0; v < 4096; ++v) {
        const quint32 first = quint32(static_cast<unsigned char>(alphabet[v >> 6]));
        const quint32 second = quint32(static_cast<unsigned char>(alphabet[v & 63]));
        table[v] = quint16(std::endian::native == std::endian::little ? first | second << 8 : first << 8 | second);
    }
    return table;
}

constexpr std::array<quint16, 4096> kStandardPairs = makePairTable(kStandardAlphabet);
constexpr std::array<quint16, 4096> kUrlPairs = makePairTable(kUrlAlphabet);

inline quint32 group(const unsigned char* in)
{
    return quint32(in[0]) << 16 | quint32(in[1]) << 8 | in[2];
}

#if defined(QUORRIX_AVX2_LOOPS)
// What to add to a sextet, by class: 0-25 letters, 26-51 small letters, then the ten digits one
// by one, then the two signs.
QUORRIX_AVX2 inline __m256i sextetShifts(bool urlSafe)
{
    return urlSafe ? _mm256_setr_epi8(65, 71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -17, 32, 0, 0,
                                      65, 71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -17, 32, 0, 0)
                   : _mm256_setr_epi8(65, 71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0,
                                      65, 71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0);
}

// The 32 characters of the eight groups at `in`, read from the four bytes before them to the
// four after them.
QUORRIX_AVX2 inline __m256i charsOfBlock(const unsigned char* in, __m256i shifts)
{
    // Each group's bytes b0 b1 b2 go to b1 b0 b2 b1 in a 32-bit lane, so that the four sextets
    // can be lifted out by multiplications of the 16-bit halves.
    const __m256i order = _mm256_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1,
                                          14, 15, 13, 14, 11, 12, 10, 11, 8, 9, 7, 8, 5, 6, 4, 5);
    const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in - 4));
    const __m256i lanes = _mm256_shuffle_epi8(raw, order);
    const __m256i first = _mm256_mulhi_epu16(_mm256_and_si256(lanes, _mm256_set1_epi32(0x0FC0FC00)),
                                             _mm256_set1_epi32(0x04000040));
    const __m256i second = _mm256_mullo_epi16(_mm256_and_si256(lanes, _mm256_set1_epi32(0x003F03F0)),
                                              _mm256_set1_epi32(0x01000010));
    const __m256i sextets = _mm256_or_si256(first, second);
    __m256i classes = _mm256_subs_epu8(sextets, _mm256_set1_epi8(51));
    classes = _mm256_sub_epi8(classes, _mm256_cmpgt_epi8(sextets, _mm256_set1_epi8(25)));
    return _mm256_add_epi8(sextets, _mm256_shuffle_epi8(shifts, classes));
}

// Eight groups at a time, from 24 bytes to 32 characters, while the four bytes after a block of
// 24 are still among the `groups`. It reads the four bytes before `in`, which the caller's
// buffer must hold. Answers the groups done.
QUORRIX_AVX2 qsizetype encodeGroupsAvx2(const unsigned char* in, qsizetype groups, char* o, bool urlSafe)
{
    const __m256i shifts = sextetShifts(urlSafe);
    qsizetype done = 0;
    for (; groups - done >= 10; done += 8, in += 24, o += 32)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), charsOfBlock(in, shifts));
    return done;
}

// Blocks of eight groups back from group `g` while they begin at or after `lowest` (at least 2),
// written over the bytes: a block's 32 characters go where its 24 bytes and the next block's
// first 8 were, which were read already. Answers the first group done.
QUORRIX_AVX2 qsizetype encodeBlocksBackwardAvx2(unsigned char* base, qsizetype g, qsizetype lowest, bool urlSafe)
{
    const __m256i shifts = sextetShifts(urlSafe);
    while (g - 8 >= lowest) {
        g -= 8;
        const __m256i chars = charsOfBlock(base + g * 3, shifts);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(base + g * 4), chars);
    }
    return g;
}
#endif

// Whole groups of three bytes as four characters each: the plain loop, and the rest of the wide one.
inline char* encodeGroups(const unsigned char* in, qsizetype groups, char* o, const quint16* pairs)
{
    for (; groups >= 2; groups -= 2, in += 6, o += 8) {
        const quint32 a = group(in);
        const quint32 b = group(in + 3);
        const quint16 chars[4] = {pairs[a >> 12], pairs[a & 0xFFF], pairs[b >> 12], pairs[b & 0xFFF]};
        memcpy(o, chars, 8);
    }
    if (groups) {
        const quint32 a = group(in);
        const quint16 chars[2] = {pairs[a >> 12], pairs[a & 0xFFF]};
        memcpy(o, chars, 4);
        o += 4;
    }
    return o;
}

// The last one or two bytes, padded unless URL-safe.
inline char* encodeTail(const unsigned char* in, qsizetype count, char* o, bool urlSafe)
{
    const char* alphabet = urlSafe ? kUrlAlphabet : kStandardAlphabet;
    const quint32 v = quint32(in[0]) << 16 | (count == 2 ? quint32(in[1]) << 8 : 0);
    *o++ = alphabet[v >> 18];
    *o++ = alphabet[(v >> 12) & 63];
    if (count == 2)
        *o++ = alphabet[(v >> 6) & 63];
    if (!urlSafe) {
        if (count == 1)
            *o++ = '=';
        *o++ = '=';
    }
    return o;
}

qsizetype encodedLength(qint64 bytes, bool urlSafe)
{
    const qint64 rest = bytes % 3;
    return qsizetype(bytes / 3 * 4 + (rest ? (urlSafe ? rest + 1 : 4) : 0));
}

// The groups [0, groups) of `base`, written over it from the last one back to the first: each
// group's four characters land at or after where its three bytes were, so nothing is written
// over bytes still to be read. The wide loop reads a block and the four bytes around it before
// it writes.
void encodeGroupsBackward(unsigned char* base, qsizetype groups, bool urlSafe, const std::atomic_bool* cancelled)
{
    const quint16* pairs = urlSafe ? kUrlPairs.data() : kStandardPairs.data();
    constexpr qsizetype kGroupsPerPoll = kPollEvery / 3;
    char* const out = reinterpret_cast<char*>(base);
    qsizetype g = groups;
    while (g > 0) {
        if (isCancelled(cancelled))
            return;
        const qsizetype stop = std::max<qsizetype>(0, g - kGroupsPerPoll);
#if defined(QUORRIX_AVX2_LOOPS)
        // Blocks of eight whose four bytes before them are still input (from the third group on).
        if (hasAvx2())
            g = encodeBlocksBackwardAvx2(base, g, std::max<qsizetype>(stop, 2), urlSafe);
#endif
        while (g > stop) {
            --g;
            const quint32 a = group(base + g * 3);
            const quint16 chars[2] = {pairs[a >> 12], pairs[a & 0xFFF]};
            memcpy(out + g * 4, chars, 4);
        }
    }
}

// Base64 in the storage of the bytes themselves, grown to fit: one buffer, whose new pages
// are only the third more that the characters take.
QByteArray encodeInPlace(QByteArray bytes, bool urlSafe, const std::atomic_bool* cancelled)
{
    const qsizetype n = bytes.size();
    const qsizetype groups = n / 3;
    const qsizetype rest = n % 3;
    unsigned char tail[2] = {};
    if (rest)
        memcpy(tail, bytes.constData() + groups * 3, size_t(rest));
    const qsizetype length = encodedLength(n, urlSafe);
    bytes.reserve(length);
    bytes.resize(length);
    auto* const base = reinterpret_cast<unsigned char*>(bytes.data());
    if (rest)
        encodeTail(tail, rest, reinterpret_cast<char*>(base) + groups * 4, urlSafe);
    encodeGroupsBackward(base, groups, urlSafe, cancelled);
    return bytes;
}

// The groups [first, first + groups) of the whole input `base` at their place in `out`, a stretch
// at a time between looks at `cancelled`.
void encodeGroupRun(const unsigned char* base, qsizetype first, qsizetype groups, char* out, bool urlSafe,
                    const std::atomic_bool* cancelled)
{
    const quint16* pairs = urlSafe ? kUrlPairs.data() : kStandardPairs.data();
    constexpr qsizetype kGroupsPerPoll = kPollEvery / 3;
    qsizetype g = first;
    const qsizetype stop = first + groups;
    // The wide loop reads four bytes before its groups: the first two groups of the input go the
    // plain way.
    if (g < 2 && g < stop) {
        const qsizetype n = std::min<qsizetype>(2, stop) - g;
        encodeGroups(base + g * 3, n, out + g * 4, pairs);
        g += n;
    }
    while (g < stop) {
        if (isCancelled(cancelled))
            return;
        const qsizetype n = std::min(kGroupsPerPoll, stop - g);
        qsizetype wide = 0;
#if defined(QUORRIX_AVX2_LOOPS)
        if (hasAvx2())
            wide = encodeGroupsAvx2(base + g * 3, n, out + g * 4, urlSafe);
#endif
        encodeGroups(base + (g + wide) * 3, n - wide, out + (g + wide) * 4, pairs);
        g += n;
    }
}

// ---- Base64 decoding ----

constexpr quint8 kInvalid = 0xFF;
constexpr quint8 kBlank = 0xFE;
constexpr quint8 kPad = 0xFD;

// One table for both alphabets, so "-" and "_" decode as "+" and "/" without a rewrite pass.
constexpr std::array<quint8, 128> makeSextetTable()
{
    std::array<quint8, 128> table{};
    for (auto& entry : table)
        entry = kInvalid;
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kStandardAlphabet[i])] = static_cast<quint8>(i);
    table['-'] = 62;
    table['_'] = 63;
    table['='] = kPad;
    for (char c : {'\t', '\n', '\v', '\f', '\r', ' '})
        table[static_cast<unsigned char>(c)] = kBlank;
    return table;
}

constexpr std::array<quint8, 128> kSextets = makeSextetTable();

// The sextet of a character already shifted to its place in a group of four; anything that is
// not an alphabet character sets bit 24.
constexpr std::array<quint32, 128> makeShiftedTable(int shift)
{
    std::array<quint32, 128> table{};
    for (int c = 0; c < 128; ++c)
        table[size_t(c)] = kSextets[size_t(c)] < 64 ? quint32(kSextets[size_t(c)]) << shift : 1u << 24;
    return table;
}

constexpr std::array<quint32, 128> kShifted0 = makeShiftedTable(18);
constexpr std::array<quint32, 128> kShifted1 = makeShiftedTable(12);
constexpr std::array<quint32, 128> kShifted2 = makeShiftedTable(6);
constexpr std::array<quint32, 128> kShifted3 = makeShiftedTable(0);

#if defined(QUORRIX_AVX2_LOOPS)
// 32 units as bytes: units past 0xFF saturate to 0x00 or 0xFF, neither of which is in the alphabet.
QUORRIX_AVX2 inline __m256i loadBlock(const char16_t* p)
{
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16));
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(x, y), 0xD8);
}

QUORRIX_AVX2 inline __m256i loadBlock(const unsigned char* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Blocks of 32 alphabet characters, 24 bytes each, up to the first block that holds anything else.
template <typename Unit>
QUORRIX_AVX2 const Unit* decodeBlocksAvx2(const Unit* p, const Unit* stop, unsigned char*& out)
{
    unsigned char* o = out;
// Bytes from `first` to `last`; bytes equal to x.
#define QUORRIX_WITHIN(c, first, last)                                                              \
    _mm256_and_si256(_mm256_cmpgt_epi8(c, _mm256_set1_epi8(char((first) - 1))),                   \
                     _mm256_cmpgt_epi8(_mm256_set1_epi8(char((last) + 1)), c))
#define QUORRIX_EQUAL(c, x) _mm256_cmpeq_epi8(c, _mm256_set1_epi8(x))
    // The three bytes of each 32-bit lane, first byte first, packed to the front of each half.
    const __m256i order = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1,
                                           2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    while (stop - p >= 32) {
        // Bytes from 0x80 on are below every range as signed numbers.
        const __m256i c = loadBlock(p);
        const __m256i upper = QUORRIX_WITHIN(c, 'A', 'Z');
        const __m256i lower = QUORRIX_WITHIN(c, 'a', 'z');
        const __m256i digit = QUORRIX_WITHIN(c, '0', '9');
        const __m256i plus = _mm256_or_si256(QUORRIX_EQUAL(c, '+'), QUORRIX_EQUAL(c, '-'));
        const __m256i slash = _mm256_or_si256(QUORRIX_EQUAL(c, '/'), QUORRIX_EQUAL(c, '_'));
        const __m256i valid = _mm256_or_si256(_mm256_or_si256(upper, lower), _mm256_or_si256(digit, _mm256_or_si256(plus, slash)));
        if (_mm256_movemask_epi8(valid) != -1)
            break;
        __m256i sextets = _mm256_add_epi8(c, _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(upper, _mm256_set1_epi8(-65)),
                                                                             _mm256_and_si256(lower, _mm256_set1_epi8(-71))),
                                                             _mm256_and_si256(digit, _mm256_set1_epi8(4))));
        sextets = _mm256_blendv_epi8(sextets, _mm256_set1_epi8(62), plus);
        sextets = _mm256_blendv_epi8(sextets, _mm256_set1_epi8(63), slash);
        // Two sextets to twelve bits, two of those to 24 bits, then the bytes in order.
        const __m256i pairs = _mm256_maddubs_epi16(sextets, _mm256_set1_epi32(0x01400140));
        const __m256i groups = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
        const __m256i bytes = _mm256_shuffle_epi8(groups, order);
        const __m128i low = _mm256_castsi256_si128(bytes);
        const __m128i high = _mm256_extracti128_si256(bytes, 1);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o), low);
        const quint32 lowTail = quint32(_mm_cvtsi128_si32(_mm_srli_si128(low, 8)));
        memcpy(o + 8, &lowTail, 4);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 12), high);
        const quint32 highTail = quint32(_mm_cvtsi128_si32(_mm_srli_si128(high, 8)));
        memcpy(o + 20, &highTail, 4);
        o += 24;
        p += 32;
    }
#undef QUORRIX_WITHIN
#undef QUORRIX_EQUAL
    out = o;
    return p;
}
#endif

// Groups of four alphabet characters from p on, three bytes each, up to the first group that
// holds anything else; returns where it stopped.
template <typename Unit>
inline const Unit* decodeGroups(const Unit* p, const Unit* stop, unsigned char*& out)
{
#if defined(QUORRIX_AVX2_LOOPS)
    if (hasAvx2())
        p = decodeBlocksAvx2(p, stop, out);
#endif
    unsigned char* o = out;
    while (stop - p >= 4) {
        const unsigned a = p[0], b = p[1], c = p[2], d = p[3];
        if ((a | b | c | d) >= 128)
            break;
        const quint32 v = kShifted0[a] | kShifted1[b] | kShifted2[c] | kShifted3[d];
        if (v >> 24)
            break;
        o[0] = static_cast<unsigned char>(v >> 16);
        o[1] = static_cast<unsigned char>(v >> 8);
        o[2] = static_cast<unsigned char>(v);
        o += 3;
        p += 4;
    }
    out = o;
    return p;
}

bool isGraphemeExtender(char32_t c)
{
    const auto category = QChar::category(c);
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
        || category == QChar::Mark_Enclosing || c == 0x200D;
}

// Where a sequential reading of the text stands.
struct DecodeState {
    quint32 acc = 0;
    int pending = 0; // sextets in acc
    qsizetype dataChars = 0;
    qsizetype padChars = 0;
    bool afterBlank = false;
};

// The code point that begins at p, past ASCII, and p moved past it. A lone surrogate stands for
// itself.
inline bool nonAsciiAt(const char16_t*& p, const char16_t* end, char32_t& cp)
{
    const char16_t u = *p++;
    cp = u;
    if (QChar::isHighSurrogate(u) && p < end && QChar::isLowSurrogate(*p))
        cp = QChar::surrogateToUcs4(u, *p++);
    return true;
}

// The same for UTF-8: false for a sequence that is not well-formed.
inline bool nonAsciiAt(const unsigned char*& p, const unsigned char* end, char32_t& cp)
{
    const unsigned lead = *p;
    const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || end - p < length || lead > 0xF4)
        return false;
    char32_t c = lead & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return false;
        c = c << 6 | (p[i] & 0x3F);
    }
    constexpr char32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return false;
    p += length;
    cp = c;
    return true;
}

// Decodes [p, end) at `out`, on from the state; false at a character no Base64 text may hold
// there, or when cancelled.
template <typename Unit>
bool decodeRun(const Unit* p, const Unit* const end, unsigned char*& out, DecodeState& state,
               const std::atomic_bool* cancelled)
{
    unsigned char* o = out;
    while (p < end) {
        if (isCancelled(cancelled))
            return false;
        const Unit* const stop = end - p > kPollEvery ? p + kPollEvery : end;
        while (p < stop) {
            if (state.pending == 0 && state.padChars == 0) {
                const Unit* const from = p;
                p = decodeGroups(p, stop, o);
                if (p != from) {
                    state.dataChars += p - from;
                    state.afterBlank = false;
                }
                if (p >= stop)
                    break;
            }
            const unsigned u = *p;
            quint8 v;
            if (u < 128) {
                v = kSextets[u];
                ++p;
            } else {
                char32_t cp;
                if (!nonAsciiAt(p, end, cp))
                    return false;
                // A blank character takes its combining marks with it (one user-perceived character).
                if (Encodings::isWhiteSpace(cp) || (state.afterBlank && isGraphemeExtender(cp))) {
                    state.afterBlank = true;
                    continue;
                }
                return false;
            }
            state.afterBlank = v == kBlank;
            if (v < 64) {
                if (state.padChars)
                    return false; // data after padding
                state.acc = (state.acc << 6) | v;
                ++state.dataChars;
                if (++state.pending == 4) {
                    o[0] = static_cast<unsigned char>(state.acc >> 16);
                    o[1] = static_cast<unsigned char>(state.acc >> 8);
                    o[2] = static_cast<unsigned char>(state.acc);
                    o += 3;
                    state.pending = 0;
                    state.acc = 0;
                }
            } else if (v == kPad) {
                ++state.padChars;
            } else if (v != kBlank) {
                return false;
            }
        }
        out = o;
    }
    out = o;
    return true;
}

// The end of the text: the length and padding rules, then the bytes still held.
bool finishDecode(const DecodeState& state, unsigned char*& o)
{
    const qsizetype n = state.dataChars + state.padChars;
    if (n % 4 == 1)
        return false;
    const qsizetype padded = (n + 3) / 4 * 4;
    const qsizetype padding = state.padChars + (padded - n);
    const int expectedLeft = padding == 0 ? 0 : padding == 1 ? 3 : padding == 2 ? 2 : -1;
    if (state.pending != expectedLeft)
        return false;
    if (state.pending == 2) {
        *o++ = static_cast<unsigned char>(state.acc >> 4);
    } else if (state.pending == 3) {
        *o++ = static_cast<unsigned char>(state.acc >> 10);
        *o++ = static_cast<unsigned char>(state.acc >> 2);
    }
    return true;
}

// Alphabet characters in a part, and whether it holds nothing but them and ASCII blanks.
struct PartScan {
    qsizetype dataChars = 0;
    bool clean = true;
};

#if defined(__SSE2__)
// The lane arithmetic of scanPart. The counters are lanes as wide as a unit, summed before they
// can overflow.
template <typename Unit>
struct ScanLanes;

template <>
struct ScanLanes<char16_t> {
    static constexpr qsizetype units = 8;
    static constexpr qsizetype rounds = 4096;
    static __m128i splat(char c) { return _mm_set1_epi16(c); }
    static __m128i equal(__m128i a, __m128i b) { return _mm_cmpeq_epi16(a, b); }
    static __m128i sub(__m128i a, __m128i b) { return _mm_sub_epi16(a, b); }
    static __m128i subsUnsigned(__m128i a, __m128i b) { return _mm_subs_epu16(a, b); }
    static qsizetype sum(__m128i lanes) { return qsizetype(laneSum(lanes)); }
};

template <>
struct ScanLanes<unsigned char> {
    static constexpr qsizetype units = 16;
    static constexpr qsizetype rounds = 255;
    static __m128i splat(char c) { return _mm_set1_epi8(c); }
    static __m128i equal(__m128i a, __m128i b) { return _mm_cmpeq_epi8(a, b); }
    static __m128i sub(__m128i a, __m128i b) { return _mm_sub_epi8(a, b); }
    static __m128i subsUnsigned(__m128i a, __m128i b) { return _mm_subs_epu8(a, b); }
    static qsizetype sum(__m128i lanes)
    {
        const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
        return qsizetype(_mm_cvtsi128_si64(sums)) + qsizetype(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    }
};

#endif

template <typename Unit>
PartScan scanPart(const Unit* p, qsizetype n)
{
    PartScan scan;
    qsizetype i = 0;
#if defined(__SSE2__)
    // A vector of units at a time.
    using L = ScanLanes<Unit>;
    const __m128i zero = _mm_setzero_si128();
    auto equal = [](__m128i u, char c) { return L::equal(u, L::splat(c)); };
    // Lanes where first <= u - from <= first + span, as unsigned numbers.
    auto within = [zero](__m128i u, char from, char span) {
        return L::equal(L::subsUnsigned(L::sub(u, L::splat(from)), L::splat(span)), zero);
    };
    while (n - i >= L::units) {
        const qsizetype stop = i + std::min<qsizetype>((n - i) / L::units, L::rounds) * L::units;
        __m128i count = zero;
        __m128i other = zero;
        for (; i < stop; i += L::units) {
            const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const __m128i letter = within(_mm_or_si128(u, L::splat(0x20)), 'a', 25);
            const __m128i alphabet = _mm_or_si128(_mm_or_si128(letter, within(u, '0', 9)),
                _mm_or_si128(_mm_or_si128(equal(u, '+'), equal(u, '/')), _mm_or_si128(equal(u, '-'), equal(u, '_'))));
            const __m128i blank = _mm_or_si128(within(u, '\t', 4), equal(u, ' '));
            count = L::sub(count, alphabet);
            other = _mm_or_si128(other, L::equal(_mm_or_si128(alphabet, blank), zero));
        }
        if (_mm_movemask_epi8(other)) {
            scan.clean = false;
            return scan;
        }
        scan.dataChars += L::sum(count);
    }
#endif
    for (; i < n; ++i) {
        const Unit u = p[i];
        const quint8 v = u < 128 ? kSextets[u] : kInvalid;
        if (v < 64) {
            ++scan.dataChars;
        } else if (v != kBlank) {
            scan.clean = false;
            return scan;
        }
    }
    return scan;
}

// Tolerant Base64 of the units [s, s + n), cut into `parts` at `cuts`.
template <typename Unit>
std::optional<QByteArray> decodeInParts(const Unit* s, qsizetype n, int parts, const std::vector<qsizetype>& cuts,
                                        const std::atomic_bool* cancelled)
{
    // Blanks only shorten the bytes, so this bound is the one allocation; the pages past the
    // bytes written are never touched.
    QByteArray out(n / 4 * 3 + 3, Qt::Uninitialized);
    auto* const base = reinterpret_cast<unsigned char*>(out.data());

    // Segments that begin after a multiple of four alphabet characters decode on their own. The
    // leading parts that hold only the alphabet and ASCII blanks are such segments, cut just
    // after their first characters that round the count up; all the rest is one last segment,
    // read the careful way, whose end state settles the padding and the length.
    std::vector<PartScan> scans(static_cast<size_t>(parts));
    std::vector<qsizetype> segmentStart{0};
    std::vector<qsizetype> segmentOut{0};
    // At most one segment per part.
    std::vector<DecodeState> states(static_cast<size_t>(parts));
    std::vector<unsigned char*> ends(size_t(parts), nullptr);
    std::vector<char> ok(size_t(parts), 1);
    size_t segments = 1;
    runInTwoSteps(
        parts,
        [&](int k) {
            // The last part always belongs to the last segment.
            if (k + 1 < parts)
                scans[size_t(k)] = scanPart(s + cuts[size_t(k)], cuts[size_t(k) + 1] - cuts[size_t(k)]);
        },
        [&] {
            qsizetype dataBefore = 0;
            for (int k = 1; k < parts; ++k) {
                if (!scans[size_t(k) - 1].clean)
                    break;
                dataBefore += scans[size_t(k) - 1].dataChars;
                const int owed = int((4 - dataBefore % 4) % 4);
                int need = owed;
                qsizetype at = cuts[size_t(k)];
                while (need > 0 && at < cuts[size_t(k) + 1]) {
                    const unsigned u = s[at];
                    if (u >= 128)
                        break;
                    const quint8 v = kSextets[u];
                    if (v < 64)
                        --need;
                    else if (v != kBlank)
                        break;
                    ++at;
                }
                if (need > 0)
                    break;
                segmentStart.push_back(at);
                segmentOut.push_back((dataBefore + owed) / 4 * 3);
            }
            segments = segmentStart.size();
            segmentStart.push_back(n);
        },
        [&](int j) {
            if (size_t(j) >= segments)
                return;
            // Every segment but the first begins after an ASCII character of the alphabet or a
            // blank, which decides whether a combining mark at its start goes with a blank.
            const qsizetype start = segmentStart[size_t(j)];
            states[size_t(j)].afterBlank = start > 0 && kSextets[s[start - 1] & 0x7F] == kBlank;
            unsigned char* o = base + segmentOut[size_t(j)];
            ok[size_t(j)] = decodeRun(s + start, s + segmentStart[size_t(j) + 1], o, states[size_t(j)], cancelled);
            ends[size_t(j)] = o;
        });
    if (std::find(ok.begin(), ok.end(), 0) != ok.end() || isCancelled(cancelled))
        return std::nullopt;
    unsigned char* o = ends[segments - 1];
    if (!finishDecode(states[segments - 1], o))
        return std::nullopt;
    out.truncate(o - base);
    return out;
}

} // namespace

int BulkCodec::partCount(qsizetype units)
{
    return int(WorkPool::parts(units, partMinimum));
}

QByteArray BulkCodec::base64Encode(QByteArray bytes, bool urlSafe, const std::atomic_bool* cancelled)
{
    if (partCount(bytes.size()) == 1 && bytes.isDetached())
        return encodeInPlace(std::move(bytes), urlSafe, cancelled);
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype groups = bytes.size() / 3;
    QByteArray out(encodedLength(bytes.size(), urlSafe), Qt::Uninitialized);
    char* const o = out.data();
    // Parts of whole groups: each knows where its characters go.
    const int parts = partCount(bytes.size());
    runParts(parts, [&](qsizetype k) {
        const qsizetype first = groups / parts * k;
        const qsizetype last = k + 1 == parts ? groups : groups / parts * (k + 1);
        encodeGroupRun(in, first, last - first, o, urlSafe, cancelled);
    });
    if (bytes.size() % 3)
        encodeTail(in + groups * 3, bytes.size() % 3, o + groups * 4, urlSafe);
    return out;
}

std::optional<QByteArray> BulkCodec::base64Decode(QStringView text, const std::atomic_bool* cancelled)
{
    const char16_t* s = text.utf16();
    const qsizetype n = text.size();
    const int parts = partCount(n);
    return decodeInParts(s, n, parts, cutText(s, n, parts), cancelled);
}

std::optional<QByteArray> BulkCodec::base64Decode(QByteArrayView utf8, const std::atomic_bool* cancelled)
{
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    const qsizetype n = utf8.size();
    const int parts = partCount(n);
    return decodeInParts(s, n, parts, cutText(s, n, parts), cancelled);
}
