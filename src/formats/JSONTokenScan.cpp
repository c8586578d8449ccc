#include "formats/JSONTokenScan.h"

namespace JSONTokenScan {

#if defined(QUORRIX_AVX2_LOOPS)
QUORRIX_AVX2 const char* plainRunEndAvx2(const char* p, const char* end)
{
    while (end - p >= 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        // Bytes of 0x20 and above are the ones where max(v, 0x20) is v.
        const unsigned printable = unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_max_epu8(v, _mm256_set1_epi8(0x20)), v)));
        const unsigned stop = unsigned(_mm256_movemask_epi8(_mm256_or_si256(
                                  _mm256_cmpeq_epi8(v, _mm256_set1_epi8('"')), _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\\')))))
                              | ~printable;
        if (stop)
            return p + __builtin_ctz(stop);
        p += 32;
    }
    while (p < end && !endsPlainRun(*p))
        ++p;
    return p;
}
#endif

// The rest of a string literal from p, where its first plain run ends.
[[gnu::noinline]] StringScan scanStringRest(const char* open, const char* p, const char* end)
{
    quint8 flags = 0;
    while (true) {
        if (p >= end)
            return StringScan{open, StringFault::unterminated, flags};
        const char c = *p;
        if (c == '"')
            break;
        if (byteAt(p) < 0x20)
            return StringScan{p, StringFault::control, flags};
        if (c != '\\') {
            p = plainRunEnd(p + 1, end);
            continue;
        }
        flags = JSONDocument::Node::escaped;
        if (p + 1 >= end)
            return StringScan{open, StringFault::unterminated, flags};
        const char e = p[1];
        switch (e) {
        case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't': p += 2; continue;
        case 'u': {
            // Any four digits: an escaped lone surrogate is printed as an escape again.
            if (end - p < 6 || !isHex(p[2]) || !isHex(p[3]) || !isHex(p[4]) || !isHex(p[5]))
                return StringScan{p, StringFault::unicodeEscape, flags};
            p += 6;
            continue;
        }
        default:
            return StringScan{p, StringFault::escape, flags};
        }
    }
    return StringScan{p, StringFault::none, flags};
}

// The same a byte at a time.
[[gnu::noinline]] NumberScan scanNumberPlain(const char* p, const char* end)
{
    auto digit = [&](const char* q) { return q < end && *q >= '0' && *q <= '9'; };
    NumberScan r{p, NumberFault::none, true, nullptr, nullptr};
    if (*p == '-')
        ++p;
    if (!digit(p)) {
        r.fault = NumberFault::minus;
        return r;
    }
    if (*p == '0') {
        ++p;
        if (digit(p)) {
            r.fault = NumberFault::leadingZero;
            return r;
        }
    } else {
        while (digit(p))
            ++p;
    }
    r.point = p;
    if (p < end && *p == '.') {
        r.integer = false;
        ++p;
        if (!digit(p)) {
            r.fault = NumberFault::point;
            return r;
        }
        while (digit(p))
            ++p;
    }
    r.mark = p;
    if (p < end && (*p == 'e' || *p == 'E')) {
        r.integer = false;
        ++p;
        if (p < end && (*p == '+' || *p == '-'))
            ++p;
        if (!digit(p)) {
            r.fault = NumberFault::exponent;
            return r;
        }
        while (digit(p))
            ++p;
    }
    r.stop = p;
    return r;
}

#if defined(QUORRIX_AVX2_LOOPS)
QUORRIX_AVX2 const char* blankRunEndAvx2(const char* p, const char* end)
{
    while (end - p >= 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i blank = _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(' ')), _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n'))),
            _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r')), _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\t'))));
        const unsigned other = ~unsigned(_mm256_movemask_epi8(blank));
        if (other)
            return p + __builtin_ctz(other);
        p += 32;
    }
    while (p < end && isBlankByte(*p))
        ++p;
    return p;
}
#endif

// Where a run of blanks ends. Indentation makes long runs: they go sixteen or thirty-two bytes a step.
[[gnu::noinline]] const char* blankRunEnd(const char* p, const char* end)
{
#if defined(QUORRIX_AVX2_LOOPS)
    if (CpuFeatures::hasAvx2())
        return blankRunEndAvx2(p, end);
#endif
#if defined(__SSE2__)
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i blank = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))),
            _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\t'))));
        const unsigned other = ~unsigned(_mm_movemask_epi8(blank)) & 0xFFFF;
        if (other)
            return p + __builtin_ctz(other);
        p += 16;
    }
#endif
    while (p < end && isBlankByte(*p))
        ++p;
    return p;
}

} // namespace JSONTokenScan
