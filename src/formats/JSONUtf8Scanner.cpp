#include "formats/JSONUtf8Scanner.h"

#include "formats/CpuFeatures.h"
#include "formats/JSONFormatter.h"
#include "formats/JSONNumberText.h"

#include <algorithm>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline bool isBlank(uchar c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }
inline bool isDigit(uchar c) { return c >= '0' && c <= '9'; }
inline bool isHex(uchar c) { return isDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); }
inline int hexValue(uchar c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

// Past the blanks from p on. Indented documents have long runs of them: sixteen bytes a step.
inline const uchar* skipBlanks(const uchar* p, const uchar* end)
{
    if (p < end && !isBlank(*p))
        return p;
#if defined(__SSE2__)
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i blank = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))),
                                           _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\t'))));
        const unsigned other = ~unsigned(_mm_movemask_epi8(blank)) & 0xFFFFu;
        if (other)
            return p + __builtin_ctz(other);
        p += 16;
    }
#endif
    while (p < end && isBlank(*p))
        ++p;
    return p;
}

#if defined(QUORRIX_AVX2_LOOPS)
QUORRIX_AVX2 const uchar* stringStopAvx2(const uchar* p, const uchar* end)
{
    const __m256i quote = _mm256_set1_epi8('"');
    const __m256i backslash = _mm256_set1_epi8('\\');
    const __m256i high = _mm256_set1_epi8(char(0xE0));
    const __m256i zero = _mm256_setzero_si256();
    while (end - p >= 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i stop = _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v, quote), _mm256_cmpeq_epi8(v, backslash)),
                                             _mm256_cmpeq_epi8(_mm256_and_si256(v, high), zero));
        const unsigned mask = unsigned(_mm256_movemask_epi8(stop) | _mm256_movemask_epi8(v));
        if (mask)
            return p + __builtin_ctz(mask);
        p += 32;
    }
    while (p < end && *p != '"' && *p != '\\' && *p >= 0x20 && *p < 0x80)
        ++p;
    return p;
}
#endif

// The first quotation mark, backslash, control byte or byte from 0x80 on, from p on, or end.
inline const uchar* stringStop(const uchar* p, const uchar* end)
{
#if defined(QUORRIX_AVX2_LOOPS)
    if (end - p >= 64 && CpuFeatures::hasAvx2())
        return stringStopAvx2(p, end);
#endif
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i high = _mm_set1_epi8(char(0xE0));
    const __m128i zero = _mm_setzero_si128();
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i stop = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                                          _mm_cmpeq_epi8(_mm_and_si128(v, high), zero));
        const int mask = _mm_movemask_epi8(stop) | _mm_movemask_epi8(v);
        if (mask)
            return p + __builtin_ctz(unsigned(mask));
        p += 16;
    }
#endif
    while (p < end && *p != '"' && *p != '\\' && *p >= 0x20 && *p < 0x80)
        ++p;
    return p;
}

// The length of the well-formed UTF-8 sequence at p (whose lead byte is from 0x80 on), or 0 for
// an ill-formed one: a stray continuation byte, an overlong form, a surrogate, beyond U+10FFFF or
// cut short.
int sequenceLength(const uchar* p, const uchar* end)
{
    const uchar c = p[0];
    if (c < 0xC2)
        return 0;
    if (c < 0xE0)
        return end - p >= 2 && (p[1] & 0xC0) == 0x80 ? 2 : 0;
    if (c < 0xF0) {
        const uchar low = c == 0xE0 ? 0xA0 : 0x80, high = c == 0xED ? 0x9F : 0xBF;
        return end - p >= 3 && p[1] >= low && p[1] <= high && (p[2] & 0xC0) == 0x80 ? 3 : 0;
    }
    if (c < 0xF5) {
        const uchar low = c == 0xF0 ? 0x90 : 0x80, high = c == 0xF4 ? 0x8F : 0xBF;
        return end - p >= 4 && p[1] >= low && p[1] <= high && (p[2] & 0xC0) == 0x80 && (p[3] & 0xC0) == 0x80 ? 4 : 0;
    }
    return 0;
}

// Whether a literal with a fraction and no exponent prints as typed, known from its spelling
// alone: the printer then either finds its digits to be the double's shortest ones and writes
// the same positional text again, or keeps the literal. Not so for a fraction that ends in zero,
// nor below 1e-4 or from 1e16 on, where the double's text takes an exponent.
bool printsAsTyped(const uchar* s, const uchar* point, const uchar* stop)
{
    if (stop[-1] == '0')
        return false;
    const uchar* whole = s + (*s == '-');
    if (point - whole == 1 && *whole == '0') {
        int zeros = 0;
        for (const uchar* q = point + 1; q < stop && *q == '0'; ++q)
            ++zeros;
        return zeros <= 3;
    }
    return point - whole <= 16;
}

template <bool write>
class Scanner {
public:
    Scanner(const uchar* begin, const uchar* end) : m_p(begin), m_end(end)
    {
        if constexpr (write) {
            // Minified text is never longer than its source but where a number is written again
            // (room is made there), so the room left stays at least the source left.
            m_out = QByteArray(end - begin, Qt::Uninitialized);
            m_w = m_out.data();
        }
    }

    // Whether the text is one valid JSON value with blanks around it.
    bool run()
    {
        quint8 objects[JSONFormatter::maxDepth]; // per open container: whether it is an object
        int depth = 0;
        m_p = skipBlanks(m_p, m_end);
        for (;;) {
            // A value, its blanks before skipped.
            if (m_p >= m_end)
                return false;
            switch (*m_p) {
            case '{':
            case '[': {
                if (depth == JSONFormatter::maxDepth)
                    return false;
                const bool object = *m_p == '{';
                put(char(*m_p++));
                if (depth == 0)
                    topLevelCount = 0;
                objects[depth++] = object;
                m_p = skipBlanks(m_p, m_end);
                if (m_p < m_end && *m_p == (object ? '}' : ']')) {
                    put(char(*m_p++));
                    --depth;
                    break;
                }
                if (object && !key())
                    return false;
                continue;
            }
            case '"':
                if (!string())
                    return false;
                break;
            case 't':
                if (!word("true", 4))
                    return false;
                break;
            case 'f':
                if (!word("false", 5))
                    return false;
                break;
            case 'n':
                if (!word("null", 4))
                    return false;
                break;
            default:
                if (!number())
                    return false;
                break;
            }
            // After a value: the next one, or closing brackets.
            for (;;) {
                if (depth == 0) {
                    m_p = skipBlanks(m_p, m_end);
                    return m_p == m_end;
                }
                if (depth == 1)
                    ++topLevelCount;
                m_p = skipBlanks(m_p, m_end);
                if (m_p >= m_end)
                    return false;
                const bool object = objects[depth - 1];
                if (*m_p == ',') {
                    put(',');
                    m_p = skipBlanks(m_p + 1, m_end);
                    if (object && !key())
                        return false;
                    break;
                }
                if (*m_p != (object ? '}' : ']'))
                    return false;
                put(char(*m_p++));
                --depth;
            }
        }
    }

    QByteArray take()
    {
        m_out.truncate(m_w - m_out.constData());
        return std::move(m_out);
    }

    qsizetype topLevelCount = -1;

private:
    const uchar* m_p;
    const uchar* const m_end;
    QByteArray m_out;
    char* m_w = nullptr;
    void put(char c)
    {
        if constexpr (write) {
            *m_w++ = c;
        }
    }
    void put(const uchar* s, qsizetype n)
    {
        if constexpr (write) {
            std::memcpy(m_w, s, size_t(n));
            m_w += n;
        }
    }

    bool word(const char* text, qsizetype n)
    {
        if (m_end - m_p < n || std::memcmp(m_p, text, size_t(n)) != 0)
            return false;
        put(m_p, n);
        m_p += n;
        return true;
    }

    // A key and its colon, blanks after both skipped.
    bool key()
    {
        if (m_p >= m_end || *m_p != '"' || !string())
            return false;
        m_p = skipBlanks(m_p, m_end);
        if (m_p >= m_end || *m_p != ':')
            return false;
        put(':');
        m_p = skipBlanks(m_p + 1, m_end);
        return true;
    }

    bool number()
    {
        const uchar* const start = m_p;
        const uchar* p = start;
        if (*p == '-')
            ++p;
        if (p >= m_end || !isDigit(*p))
            return false;
        if (*p == '0')
            ++p;
        else
            while (p < m_end && isDigit(*p))
                ++p;
        const uchar* point = nullptr;
        bool exponent = false;
        if (p < m_end && *p == '.') {
            point = p++;
            if (p >= m_end || !isDigit(*p))
                return false;
            while (p < m_end && isDigit(*p))
                ++p;
        }
        if (p < m_end && (*p | 0x20) == 'e') {
            exponent = true;
            ++p;
            if (p < m_end && (*p == '+' || *p == '-'))
                ++p;
            if (p >= m_end || !isDigit(*p))
                return false;
            while (p < m_end && isDigit(*p))
                ++p;
        }
        m_p = p;
        if constexpr (write) {
            const qsizetype n = p - start;
            // Integers print as typed, whatever their size; so does a fraction the printer would
            // not change. The rest go the printer's way.
            if ((point || exponent) && !(point && !exponent && printsAsTyped(start, point, p)) && n <= 4096) {
                char16_t literal[4096];
                for (qsizetype i = 0; i < n; ++i)
                    literal[i] = start[i];
                const QStringView typed(literal, n);
                if (exponent || !JSONNumberText::isCanonicalDecimal(typed)) {
                    char16_t text[40];
                    const int length = JSONNumberText::printedDecimal(typed, text);
                    if (length >= 0 && QStringView(text, length) != typed) {
                        room(length);
                        for (int i = 0; i < length; ++i)
                            m_w[i] = char(text[i]);
                        m_w += length;
                        return true;
                    }
                }
            }
            put(start, n);
        }
        return true;
    }

    // Room for `n` bytes written in place of a number, keeping the room for the rest.
    void room(qsizetype n)
    {
        const qsizetype need = (m_w - m_out.constData()) + n + (m_end - m_p);
        if (need <= m_out.size())
            return;
        const qsizetype written = m_w - m_out.constData();
        QByteArray grown(std::max(need, m_out.size() + m_out.size() / 2), Qt::Uninitialized);
        std::memcpy(grown.data(), m_out.constData(), size_t(written));
        m_out = std::move(grown);
        m_w = m_out.data() + written;
    }

    // A string from its opening quotation mark, checking its UTF-8 on the way. Minified, escapes
    // are written as the printer writes the units they stand for.
    bool string()
    {
        const uchar* const open = m_p;
        const uchar* q = stringStop(open + 1, m_end);
        if (q < m_end && *q == '"') [[likely]] {
            put(open, q + 1 - open);
            m_p = q + 1;
            return true;
        }
        const uchar* from = open; // start of the bytes that pass through as they are
        char16_t high = 0;        // a high surrogate from an escape, waiting for its low one
        for (;;) {
            if (q >= m_end)
                return false;
            const uchar c = *q;
            if (c >= 0x80) {
                do {
                    const int n = sequenceLength(q, m_end);
                    if (!n)
                        return false;
                    q += n;
                } while (q < m_end && *q >= 0x80);
            } else if (c == '"') {
                break;
            } else if (c < 0x20 || m_end - q < 2) {
                return false;
            } else {
                // A backslash.
                if (q > from) {
                    flush(high);
                    put(from, q - from);
                }
                const uchar e = q[1];
                switch (e) {
                case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't':
                    if constexpr (write) {
                        static constexpr char16_t decoded[] = {u'"', u'\\', u'/', u'\b', u'\f', u'\n', u'\r', u'\t'};
                        static constexpr char names[] = "\"\\/bfnrt";
                        unit(decoded[std::strchr(names, e) - names], high);
                    }
                    q += 2;
                    break;
                case 'u':
                    if (m_end - q < 6 || !isHex(q[2]) || !isHex(q[3]) || !isHex(q[4]) || !isHex(q[5]))
                        return false;
                    unit(char16_t((hexValue(q[2]) << 12) | (hexValue(q[3]) << 8) | (hexValue(q[4]) << 4) | hexValue(q[5])),
                         high);
                    q += 6;
                    break;
                default:
                    return false;
                }
                from = q;
            }
            q = stringStop(q, m_end);
        }
        if (q > from) {
            flush(high);
            put(from, q - from);
        }
        flush(high);
        put('"');
        m_p = q + 1;
        return true;
    }

    void flush(char16_t& high)
    {
        if (write && high) {
            escaped(high);
            high = 0;
        }
    }

    // A unit decoded from an escape: pairs become the character, a lone surrogate stays escaped.
    void unit(char16_t c, char16_t& high)
    {
        if constexpr (write) {
            if (high) {
                if (QChar::isLowSurrogate(c)) {
                    const char32_t v = QChar::surrogateToUcs4(high, c);
                    high = 0;
                    m_w[0] = char(0xF0 | (v >> 18));
                    m_w[1] = char(0x80 | ((v >> 12) & 0x3F));
                    m_w[2] = char(0x80 | ((v >> 6) & 0x3F));
                    m_w[3] = char(0x80 | (v & 0x3F));
                    m_w += 4;
                    return;
                }
                flush(high);
            }
            if (QChar::isHighSurrogate(c)) {
                high = c;
                return;
            }
            switch (c) {
            case u'\b': put('\\'); put('b'); return;
            case u'\t': put('\\'); put('t'); return;
            case u'\n': put('\\'); put('n'); return;
            case u'\f': put('\\'); put('f'); return;
            case u'\r': put('\\'); put('r'); return;
            case u'"': put('\\'); put('"'); return;
            case u'\\': put('\\'); put('\\'); return;
            default: break;
            }
            if (c < 0x20 || QChar::isSurrogate(c)) {
                escaped(c);
            } else if (c < 0x80) {
                put(char(c));
            } else if (c < 0x800) {
                put(char(0xC0 | (c >> 6)));
                put(char(0x80 | (c & 0x3F)));
            } else {
                put(char(0xE0 | (c >> 12)));
                put(char(0x80 | ((c >> 6) & 0x3F)));
                put(char(0x80 | (c & 0x3F)));
            }
        } else {
            (void)c;
            (void)high;
        }
    }

    void escaped(char16_t c)
    {
        static constexpr char digits[] = "0123456789abcdef";
        put('\\');
        put('u');
        put(digits[(c >> 12) & 15]);
        put(digits[(c >> 8) & 15]);
        put(digits[(c >> 4) & 15]);
        put(digits[c & 15]);
    }
};

// Whether the scanner may decide: no leading byte-order mark (which the decoder drops or keeps
// depending on the rest), within the parser's size limit.
bool scannable(QByteArrayView json)
{
    return !json.isEmpty() && json.size() < qsizetype(std::numeric_limits<quint32>::max() / 2)
           && !json.startsWith("\xEF\xBB\xBF");
}

} // namespace

std::optional<qsizetype> JSONUtf8Scanner::validate(QByteArrayView json)
{
    if (!scannable(json))
        return std::nullopt;
    const uchar* const begin = reinterpret_cast<const uchar*>(json.data());
    Scanner<false> scanner(begin, begin + json.size());
    if (!scanner.run())
        return std::nullopt;
    return scanner.topLevelCount;
}

std::optional<QByteArray> JSONUtf8Scanner::minify(QByteArrayView json)
{
    if (!scannable(json))
        return std::nullopt;
    const uchar* const begin = reinterpret_cast<const uchar*>(json.data());
    Scanner<true> scanner(begin, begin + json.size());
    if (!scanner.run())
        return std::nullopt;
    return scanner.take();
}
