#include "tools/csv/CSVParser.h"

#include "formats/CpuFeatures.h"
#include "formats/RunParts.h"
#include "formats/Utf8Decoder.h"
#include "formats/Utf8Encoder.h"
#include "tools/csv/CSVParallel.h"

#include <QStringView>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace CSVParser {

// The cells are read where they stand in the parsed text, which the table shares with its
// caller instead of copying: each cell keeps only where its stretch of the text ends, relative
// to its row. In most rows how a cell's text follows from its stretch shows in the stretch
// itself (an opening quote), and a byte a cell does; other rows spend two bytes a cell, with two
// bits saying how. Cells whose text is no stretch of the text (doubled quotes, CR inside quotes,
// text after a closing quote) are copied aside.

enum CellKind : quint8 {
    stretch = 0,   // the text between the separators
    unquoted = 1,  // the same without its first and last byte, the quotes
    rewritten = 2, // copied aside
    empty = 3,
};
constexpr int kKindBits = 2;

// How a row keeps its cells' records.
enum RowRecords : quint8 {
    byteEnds = 0,   // a byte per cell, its end; its text is its stretch, less the quotes if it opens with one
    shortKinded = 1, // two bytes per cell (low first): end << kKindBits | kind
    wideKinded = 2,  // none in `records`: 64-bit ones in the table's wide rows
};
constexpr quint64 kByteRowBytes = 256;
constexpr quint64 kShortRowBytes = quint64(1) << (16 - kKindBits);

// The text of a cell in a byteEnds row.
inline QByteArrayView byteEndsCell(QByteArrayView stretch)
{
    return stretch.size() >= 2 && stretch[0] == '"' ? stretch.sliced(1, stretch.size() - 2) : stretch;
}

// Per stored row: where it starts in the text, the offset of its first record and how it keeps
// its records. Rows come in groups of 64 with full values for the group's first row; the rest
// take 16-bit differences from those, unless the group's rows are too long for them: then the
// whole group takes full values.
class RowIndex {
public:
    void reserve(qsizetype rows)
    {
        m_rows.reserve(size_t(rows) + 1);
        m_groups.reserve(size_t(rows) / kGroup + 2);
    }
    void push(quint64 start, quint64 record, RowRecords how)
    {
        m_pending[m_pendingCount++] = {start, record << 2 | how};
        if (m_pendingCount == kGroup)
            flush();
    }
    // After the last push.
    void finish()
    {
        if (m_pendingCount > 0)
            flush();
    }
    qsizetype size() const { return qsizetype(m_rows.size()) + m_pendingCount; }
    quint64 start(qsizetype i) const
    {
        const Group& g = m_groups[size_t(i) / kGroup];
        return g.wide < 0 ? g.start + m_rows[size_t(i)].start : m_wide[size_t(g.wide) + size_t(i) % kGroup].start;
    }
    // record(i) << 2 | how(i)
    quint64 recordAndHow(qsizetype i) const
    {
        const Group& g = m_groups[size_t(i) / kGroup];
        if (g.wide >= 0)
            return m_wide[size_t(g.wide) + size_t(i) % kGroup].recordAndHow;
        const quint16 delta = m_rows[size_t(i)].record;
        return (g.record + (delta >> 2)) << 2 | (delta & 3);
    }
    void squeeze()
    {
        m_rows.shrink_to_fit();
        m_groups.shrink_to_fit();
    }

private:
    static constexpr size_t kGroup = 64;
    struct Full {
        quint64 start;
        quint64 recordAndHow; // record << 2 | how
    };
    struct Group {
        quint64 start;
        quint64 record;
        qint64 wide; // index of the group's first row in m_wide, or -1
    };

    void flush()
    {
        const Full& first = m_pending[0];
        Group g{first.start, first.recordAndHow >> 2, -1};
        bool fits = true;
        for (int k = 0; k < m_pendingCount; ++k)
            fits = fits && m_pending[k].start - g.start <= 0xFFFF && (m_pending[k].recordAndHow >> 2) - g.record <= 0x3FFF;
        if (!fits)
            g.wide = qint64(m_wide.size());
        for (int k = 0; k < m_pendingCount; ++k) {
            const Full& f = m_pending[k];
            if (fits)
                m_rows.push_back({quint16(f.start - g.start), quint16(((f.recordAndHow >> 2) - g.record) << 2 | (f.recordAndHow & 3))});
            else
                m_rows.push_back({0, 0});
            if (!fits)
                m_wide.push_back(f);
        }
        m_groups.push_back(g);
        m_pendingCount = 0;
    }

    struct Short {
        quint16 start;
        quint16 record; // record << 2 | how
    };
    std::vector<Short> m_rows;
    std::vector<Group> m_groups;
    std::vector<Full> m_wide;
    Full m_pending[kGroup];
    int m_pendingCount = 0;
};

// Cells whose text is no stretch of the parsed text, by the offset of their record.
struct RewrittenCells {
    struct Entry {
        quint64 record;
        quint64 end; // in `text`; the cell begins where the one before ends
    };
    std::vector<Entry> entries;
    std::vector<char> text;

    void add(quint64 record, QByteArrayView cell)
    {
        text.insert(text.end(), cell.begin(), cell.end());
        entries.push_back({record, quint64(text.size())});
    }
    QByteArrayView find(quint64 record) const
    {
        const auto it = std::lower_bound(entries.begin(), entries.end(), record,
                                         [](const Entry& e, quint64 r) { return e.record < r; });
        if (it == entries.end() || it->record != record)
            return {};
        const quint64 begin = it == entries.begin() ? 0 : (it - 1)->end;
        return QByteArrayView(text.data() + begin, qsizetype(it->end - begin));
    }
};

struct Table {
    QUuid id = QUuid::createUuid();
    QList<Column> columns;
    char32_t delimiter = U',';
    bool hadHeader = false;
    QByteArray source;          // holds `text`
    const char* text = nullptr; // the parsed text, its byte-order mark dropped
    qsizetype delimiterLength = 1;
    // Per stored row (the header row included) and one past the last.
    RowIndex rows;
    std::vector<uchar> records;
    struct WideRow {
        qsizetype row;
        qsizetype first; // in wideEnds
    };
    std::vector<WideRow> wideRows;
    std::vector<quint64> wideEnds;
    RewrittenCells shortRewritten, wideRewritten;
    qsizetype firstDataRow = 0; // 1 when the first stored row was the header

    qsizetype storedRows() const { return rows.size() - 1; }
    QByteArrayView storedCell(qsizetype row, qsizetype column) const
    {
        const quint64 here = rows.recordAndHow(row);
        const quint64 first = here >> 2;
        const qsizetype bytes = qsizetype((rows.recordAndHow(row + 1) >> 2) - first);
        const uchar* at = records.data() + first;
        switch (RowRecords(here & 3)) {
        case byteEnds: {
            if (column < 0 || column >= bytes)
                return {};
            const quint64 rowStart = rows.start(row);
            const quint64 begin = rowStart + (column ? at[column - 1] + quint64(delimiterLength) : 0);
            return byteEndsCell(QByteArrayView(text + begin, qsizetype(rowStart + at[column] - begin)));
        }
        case shortKinded: {
            if (column < 0 || column >= bytes / 2)
                return {};
            const auto recordAt = [at](qsizetype c) { return quint64(at[2 * c] | at[2 * c + 1] << 8); };
            return cellText(row, column, recordAt(column), column ? recordAt(column - 1) >> kKindBits : 0, shortRewritten,
                            first + 2 * quint64(column));
        }
        default:
            return wideCell(row, column);
        }
    }

private:
    QByteArrayView cellText(qsizetype row, qsizetype column, quint64 record, quint64 previousEnd,
                            const RewrittenCells& rewrittenCells, quint64 index) const
    {
        const quint64 rowStart = rows.start(row);
        const quint64 begin = rowStart + (column ? previousEnd + quint64(delimiterLength) : 0);
        const quint64 end = rowStart + (record >> kKindBits);
        switch (record & ((1u << kKindBits) - 1)) {
        case stretch:
            return QByteArrayView(text + begin, qsizetype(end - begin));
        case unquoted:
            return QByteArrayView(text + begin + 1, qsizetype(end - begin) - 2);
        case rewritten:
            return rewrittenCells.find(index);
        default:
            return {};
        }
    }
    QByteArrayView wideCell(qsizetype row, qsizetype column) const
    {
        const auto it = std::lower_bound(wideRows.begin(), wideRows.end(), row,
                                         [](const WideRow& w, qsizetype r) { return w.row < r; });
        if (it == wideRows.end() || it->row != row)
            return {};
        const qsizetype end = it + 1 == wideRows.end() ? qsizetype(wideEnds.size()) : (it + 1)->first;
        if (column < 0 || column >= end - it->first)
            return {};
        const quint64* ends = wideEnds.data() + it->first;
        return cellText(row, column, ends[column], column ? ends[column - 1] >> kKindBits : 0, wideRewritten,
                        quint64(it->first + column));
    }
};

namespace {

constexpr qsizetype kSqueezeBelow = qsizetype(1) << 18;

const std::shared_ptr<const Table>& emptyTable()
{
    static const std::shared_ptr<const Table> table = [] {
        auto t = std::make_shared<Table>();
        t->id = QUuid();
        t->rows.push(0, 0, byteEnds);
        t->rows.finish();
        return t;
    }();
    return table;
}

int utf8Encode(char32_t c, char* out)
{
    if (c < 0x80) {
        out[0] = char(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = char(0xC0 | (c >> 6));
        out[1] = char(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = char(0xE0 | (c >> 12));
        out[1] = char(0x80 | ((c >> 6) & 0x3F));
        out[2] = char(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | (c >> 18));
    out[1] = char(0x80 | ((c >> 12) & 0x3F));
    out[2] = char(0x80 | ((c >> 6) & 0x3F));
    out[3] = char(0x80 | (c & 0x3F));
    return 4;
}

// Decodes the scalar at i of valid UTF-8; `length` gets its byte count.
char32_t decodeAt(const uchar* s, qsizetype n, qsizetype i, int& length)
{
    const uchar b = s[i];
    if (b < 0x80 || i + 1 >= n) {
        length = 1;
        return b;
    }
    if (b < 0xE0) {
        length = 2;
        return char32_t(b & 0x1F) << 6 | (s[i + 1] & 0x3F);
    }
    if (b < 0xF0 || i + 3 >= n) {
        length = std::min<qsizetype>(3, n - i);
        return length < 3 ? b : char32_t(b & 0x0F) << 12 | char32_t(s[i + 1] & 0x3F) << 6 | (s[i + 2] & 0x3F);
    }
    length = 4;
    return char32_t(b & 0x07) << 18 | char32_t(s[i + 1] & 0x3F) << 12 | char32_t(s[i + 2] & 0x3F) << 6 | (s[i + 3] & 0x3F);
}

// Byte length of the blank that starts at i, 0 when none does.
int blankLengthAt(const uchar* s, qsizetype n, qsizetype i)
{
    const uchar b = s[i];
    if (b == ' ' || b == '\t')
        return 1;
    if (b < 0x80)
        return 0;
    int length = 1;
    const char32_t c = decodeAt(s, n, i, length);
    return isBlank(c) ? length : 0;
}

// Byte length of the blank that ends at `end`, 0 when none does.
int blankLengthBefore(const uchar* s, qsizetype end)
{
    if (end <= 0)
        return 0;
    const uchar b = s[end - 1];
    if (b == ' ' || b == '\t')
        return 1;
    if (b < 0x80)
        return 0;
    qsizetype start = end - 1;
    while (start > 0 && end - start < 4 && (s[start] & 0xC0) == 0x80)
        --start;
    int length = 1;
    const char32_t c = decodeAt(s, end, start, length);
    return start + length == end && isBlank(c) ? length : 0;
}

// Ill-formed sequences replaced, a U+FEFF at the start kept.
QByteArray repairedText(QByteArrayView text)
{
    return Utf8Encoder::toUtf8(Utf8Decoder::decodeReplacing(text, Utf8Decoder::ByteOrderMark::keep));
}

QByteArrayView withoutBom(QByteArrayView text)
{
    return text.startsWith("\xEF\xBB\xBF") ? text.sliced(3) : text;
}

// --- numbers

bool asciiEqualsNoCase(const uchar* s, qsizetype n, const char* word)
{
    const qsizetype len = qsizetype(std::strlen(word));
    if (n != len)
        return false;
    for (qsizetype i = 0; i < n; ++i) {
        if ((s[i] | 0x20) != uchar(word[i]))
            return false;
    }
    return true;
}

bool isDigit(uchar c) { return c >= '0' && c <= '9'; }
bool isHexDigit(uchar c) { return isDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); }

enum class NumberShape { none, plain, needsCheck };

// The strtod grammar, whole text. `plain`: decimal well inside the double range.
NumberShape numberShape(QByteArrayView text)
{
    const uchar* s = reinterpret_cast<const uchar*>(text.data());
    const qsizetype n = text.size();
    qsizetype i = 0;
    if (i < n && (s[i] == '+' || s[i] == '-'))
        ++i;
    if (i >= n)
        return NumberShape::none;
    const uchar* rest = s + i;
    const qsizetype restLength = n - i;
    if ((rest[0] | 0x20) == 'i')
        return asciiEqualsNoCase(rest, restLength, "inf") || asciiEqualsNoCase(rest, restLength, "infinity")
            ? NumberShape::plain
            : NumberShape::none;
    if ((rest[0] | 0x20) == 'n') {
        if (asciiEqualsNoCase(rest, restLength, "nan"))
            return NumberShape::plain;
        if (restLength >= 5 && asciiEqualsNoCase(rest, 3, "nan") && rest[3] == '(' && rest[restLength - 1] == ')') {
            for (qsizetype k = 4; k < restLength - 1; ++k) {
                const uchar c = rest[k];
                if (!(isDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '_'))
                    return NumberShape::none;
            }
            return NumberShape::plain;
        }
        return NumberShape::none;
    }
    if (restLength >= 2 && rest[0] == '0' && (rest[1] | 0x20) == 'x') {
        qsizetype k = 2;
        int digits = 0;
        while (k < restLength && isHexDigit(rest[k]))
            ++k, ++digits;
        if (k < restLength && rest[k] == '.') {
            ++k;
            while (k < restLength && isHexDigit(rest[k]))
                ++k, ++digits;
        }
        if (digits == 0)
            return NumberShape::none;
        if (k < restLength && (rest[k] | 0x20) == 'p') {
            ++k;
            if (k < restLength && (rest[k] == '+' || rest[k] == '-'))
                ++k;
            if (k >= restLength || !isDigit(rest[k]))
                return NumberShape::none;
            while (k < restLength && isDigit(rest[k]))
                ++k;
        }
        return k == restLength ? NumberShape::needsCheck : NumberShape::none;
    }
    // Decimal: where the first significant digit sits tells whether the value can leave the range.
    qsizetype k = 0;
    int digits = 0;
    qint64 magnitude = 0; // decimal exponent of the first non-zero digit, roughly
    bool seenNonZero = false;
    while (k < restLength && isDigit(rest[k])) {
        if (rest[k] != '0' && !seenNonZero)
            seenNonZero = true;
        if (seenNonZero)
            ++magnitude;
        ++k, ++digits;
    }
    if (k < restLength && rest[k] == '.') {
        ++k;
        while (k < restLength && isDigit(rest[k])) {
            if (!seenNonZero) {
                if (rest[k] != '0')
                    seenNonZero = true;
                else
                    --magnitude;
            }
            ++k, ++digits;
        }
    }
    if (digits == 0)
        return NumberShape::none;
    qint64 exponent = 0;
    if (k < restLength && (rest[k] | 0x20) == 'e') {
        ++k;
        bool negative = false;
        if (k < restLength && (rest[k] == '+' || rest[k] == '-'))
            negative = rest[k++] == '-';
        if (k >= restLength || !isDigit(rest[k]))
            return NumberShape::none;
        while (k < restLength && isDigit(rest[k])) {
            if (exponent < 100000)
                exponent = exponent * 10 + (rest[k] - '0');
            ++k;
        }
        if (negative)
            exponent = -exponent;
    }
    if (k != restLength)
        return NumberShape::none;
    if (!seenNonZero)
        return NumberShape::plain; // zero is never out of range
    const qint64 at = magnitude + exponent;
    return at > -300 && at < 300 ? NumberShape::plain : NumberShape::needsCheck;
}

locale_t cLocale()
{
    static locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return locale;
}

std::optional<double> strtodWhole(QByteArrayView text)
{
    char small[64];
    std::string large;
    const char* z;
    if (text.size() < qsizetype(sizeof small)) {
        std::memcpy(small, text.data(), text.size());
        small[text.size()] = 0;
        z = small;
    } else {
        large.assign(text.data(), text.size());
        z = large.c_str();
    }
    char* end = nullptr;
    errno = 0;
    const double value = strtod_l(z, &end, cLocale());
    if (end != z + text.size())
        return std::nullopt;
    if (errno == ERANGE && (std::isinf(value) || value == 0))
        return std::nullopt;
    return value;
}

// --- tokenising

// Finds the next byte the tokenizer stops at: outside quotes a quote, a line break or the
// delimiter's first byte; inside them a quote or a CR. A byte at a time.
struct NarrowScan {
    const uchar* s;
    qsizetype n;
    uchar delimiter;

    qsizetype plain(qsizetype i) const
    {
        while (i < n && s[i] != '"' && s[i] != '\n' && s[i] != '\r' && s[i] != delimiter)
            ++i;
        return i;
    }
    qsizetype quoted(qsizetype i) const
    {
        while (i < n && s[i] != '"' && s[i] != '\r')
            ++i;
        return i;
    }
};

#ifdef QUORRIX_AVX2_LOOPS
// The same, 64 bytes at a time: both kinds of stop of a block are found at once and kept as bit
// masks, so the many short fields of a block cost a shift and a count each.
struct WideScan {
    const uchar* s;
    qsizetype n;
    uchar delimiter;
    qsizetype base = -128; // start of the block the masks describe; none yet
    quint64 plainStops = 0;
    quint64 quotedStops = 0;

    QUORRIX_AVX2 void load(qsizetype at)
    {
        base = at;
        const __m256i quote = _mm256_set1_epi8('"'), cr = _mm256_set1_epi8('\r');
        const __m256i lf = _mm256_set1_epi8('\n'), delim = _mm256_set1_epi8(char(delimiter));
        quint64 plainMask = 0, quotedMask = 0;
        for (int half = 0; half < 2; ++half) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + at + 32 * half));
            const __m256i q = _mm256_or_si256(_mm256_cmpeq_epi8(v, quote), _mm256_cmpeq_epi8(v, cr));
            const __m256i p = _mm256_or_si256(q, _mm256_or_si256(_mm256_cmpeq_epi8(v, lf), _mm256_cmpeq_epi8(v, delim)));
            quotedMask |= quint64(quint32(_mm256_movemask_epi8(q))) << (32 * half);
            plainMask |= quint64(quint32(_mm256_movemask_epi8(p))) << (32 * half);
        }
        quotedStops = quotedMask;
        plainStops = plainMask;
    }
    template <bool Quoted>
    QUORRIX_AVX2 qsizetype next(qsizetype i)
    {
        for (;;) {
            if (i < base || i >= base + 64) {
                if (i + 64 > n)
                    return Quoted ? NarrowScan{s, n, delimiter}.quoted(i) : NarrowScan{s, n, delimiter}.plain(i);
                load(i);
            }
            const quint64 stops = (Quoted ? quotedStops : plainStops) >> (i - base);
            if (stops)
                return i + __builtin_ctzll(stops);
            i = base + 64;
        }
    }
    QUORRIX_AVX2 qsizetype plain(qsizetype i) { return next<false>(i); }
    QUORRIX_AVX2 qsizetype quoted(qsizetype i) { return next<true>(i); }
};
#endif

// Receives fields and row ends.
template <class Sink, class Scan>
void tokenizeWith(QByteArrayView text, char32_t delimiter, Sink& sink, const std::atomic_bool* cancelled)
{
    const uchar* s = reinterpret_cast<const uchar*>(text.data());
    const qsizetype n = text.size();
    char delimiterBytes[4];
    const int delimiterLength = utf8Encode(delimiter, delimiterBytes);
    Scan scan{s, n, uchar(delimiterBytes[0])};

    qsizetype fieldStart = 0, fieldEnd = 0;
    bool copying = false;
    std::string scratch;
    qsizetype blankCheckedUpTo = 0;
    bool hasNonBlank = false;
    qsizetype fieldsInRow = 0;

    auto fieldView = [&]() -> QByteArrayView {
        return copying ? QByteArrayView(scratch.data(), qsizetype(scratch.size()))
                       : QByteArrayView(s + fieldStart, fieldEnd - fieldStart);
    };
    auto beginField = [&](qsizetype at) {
        fieldStart = fieldEnd = at;
        copying = false;
        scratch.clear();
        blankCheckedUpTo = 0;
        hasNonBlank = false;
    };
    auto appendRange = [&](qsizetype a, qsizetype b) {
        if (a == b)
            return;
        if (!copying) {
            if (fieldEnd == a) {
                fieldEnd = b;
                return;
            }
            if (fieldStart == fieldEnd) {
                fieldStart = a, fieldEnd = b;
                return;
            }
            copying = true;
            scratch.assign(reinterpret_cast<const char*>(s + fieldStart), fieldEnd - fieldStart);
        }
        scratch.append(reinterpret_cast<const char*>(s + a), b - a);
    };
    auto appendLineFeed = [&] {
        if (!copying) {
            copying = true;
            scratch.assign(reinterpret_cast<const char*>(s + fieldStart), fieldEnd - fieldStart);
        }
        scratch.push_back('\n');
    };
    // Looked at lazily and from where it stopped, so a long field with many quotes stays linear.
    auto fieldIsBlank = [&] {
        if (hasNonBlank)
            return false;
        const QByteArrayView field = fieldView();
        const uchar* f = reinterpret_cast<const uchar*>(field.data());
        while (blankCheckedUpTo < field.size()) {
            const int length = blankLengthAt(f, field.size(), blankCheckedUpTo);
            if (!length) {
                hasNonBlank = true;
                return false;
            }
            blankCheckedUpTo += length;
        }
        return true;
    };
    // Where the field's text begins, before any blanks or opening quote: the separator's end.
    qsizetype rawStart = 0;
    auto endField = [&](qsizetype rawEnd) {
        sink.field(fieldView(), rawStart, rawEnd);
        ++fieldsInRow;
    };
    auto endRow = [&] {
        sink.endRow();
        fieldsInRow = 0;
    };

    bool inQuotes = false;
    qsizetype i = 0;
    qsizetype nextCancelCheck = 1 << 22;
    while (i < n) {
        if (i >= nextCancelCheck) {
            if (cancelled && cancelled->load(std::memory_order_relaxed))
                return;
            nextCancelCheck = i + (1 << 22);
        }
        if (!inQuotes) {
            const qsizetype j = scan.plain(i);
            appendRange(i, j);
            i = j;
            if (i >= n)
                break;
            const uchar c = s[i];
            if (c == '"' && !(delimiterLength == 1 && delimiterBytes[0] == '"')) {
                if (fieldIsBlank()) {
                    ++i;
                    beginField(i);
                    inQuotes = true;
                } else {
                    appendRange(i, i + 1);
                    ++i;
                }
            } else if (c == '\n' || c == '\r') {
                endField(i);
                endRow();
                i += (c == '\r' && i + 1 < n && s[i + 1] == '\n') ? 2 : 1;
                beginField(i);
                rawStart = i;
            } else if (delimiterLength == 1
                       || (i + delimiterLength <= n && std::memcmp(s + i, delimiterBytes, delimiterLength) == 0)) {
                endField(i);
                i += delimiterLength;
                beginField(i);
                rawStart = i;
            } else {
                appendRange(i, i + 1);
                ++i;
            }
        } else {
            const qsizetype j = scan.quoted(i);
            appendRange(i, j);
            i = j;
            if (i >= n)
                break;
            if (s[i] == '\r') {
                appendLineFeed();
                i += (i + 1 < n && s[i + 1] == '\n') ? 2 : 1;
            } else if (i + 1 < n && s[i + 1] == '"') {
                appendRange(i, i + 1);
                i += 2;
            } else {
                inQuotes = false;
                ++i;
            }
        }
    }
    if (!fieldView().isEmpty() || fieldsInRow > 0) {
        endField(n);
        endRow();
    }
}

#ifdef QUORRIX_AVX2_LOOPS
// The whole tokenizer compiled for AVX2, so that the scans are inlined into it.
template <class Sink>
QUORRIX_AVX2 __attribute__((flatten)) void tokenizeWide(QByteArrayView text, char32_t delimiter, Sink& sink,
                                                        const std::atomic_bool* cancelled)
{
    tokenizeWith<Sink, WideScan>(text, delimiter, sink, cancelled);
}
#endif

template <class Sink>
void tokenize(QByteArrayView text, char32_t delimiter, Sink& sink, const std::atomic_bool* cancelled)
{
#ifdef QUORRIX_AVX2_LOOPS
    if (CpuFeatures::hasAvx2())
        return tokenizeWide(text, delimiter, sink, cancelled);
#endif
    tokenizeWith<Sink, NarrowScan>(text, delimiter, sink, cancelled);
}

struct ListSink {
    QList<QStringList> rows;
    QStringList row;
    void field(QByteArrayView v, qsizetype, qsizetype) { row.append(textFromUtf8(v)); }
    void endRow() { rows.append(std::exchange(row, {})); }
};

// A short plain decimal ([+-]digits[.digits], or [+-].digits): a number well inside the double
// range, which is what most cells of a numeric column are. False says nothing.
inline bool isShortPlainDecimal(const char* p, qsizetype n)
{
    if (n > 64)
        return false;
    qsizetype i = (p[0] == '-' || p[0] == '+') ? 1 : 0;
    int digits = 0;
    while (i < n && uchar(p[i] - '0') < 10)
        ++i, ++digits;
    if (i < n && p[i] == '.') {
        ++i;
        while (i < n && uchar(p[i] - '0') < 10)
            ++i, ++digits;
    }
    return i == n && digits > 0;
}

#if defined(__SSE2__)
// The same test on the n (1 to 16) bytes at p, 16 of which may be read: the byte loop's exits
// are mispredicted on nearly every cell of a numeric table, whose lengths vary.
inline bool isShortPlainDecimal16(const char* p, qsizetype n)
{
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i d = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    const unsigned digits = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d)));
    const unsigned points = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('.'))));
    const unsigned sign = unsigned(_mm_movemask_epi8(
                              _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('-')), _mm_cmpeq_epi8(v, _mm_set1_epi8('+')))))
        & 1u;
    const unsigned inCell = (1u << n) - 1;
    const unsigned point = points & inCell;
    return ((digits | point | sign) & inCell) == inCell && (point & (point - 1)) == 0 && (digits & inCell) != 0;
}
#endif

// Whether a non-empty cell leaves its column numeric: blank, or a number once trimmed. A cell
// that starts and ends with neither a blank nor a non-ASCII byte is its own trimmed text.
// `readable` is where the memory the cell lies in ends, or null when it is not known.
enum class NumericCell { blank, number, text };
inline NumericCell numericCell(QByteArrayView cell, const char* readable)
{
    const auto bare = [](uchar b) { return b != ' ' && b != '\t' && b < 0x80; };
    if (!bare(uchar(cell.front())) || !bare(uchar(cell.back()))) {
        cell = trimmedBlanks(cell);
        if (cell.isEmpty())
            return NumericCell::blank;
    }
#if defined(__SSE2__)
    const bool plain = cell.size() <= 16 && readable && readable - cell.data() >= 16
        ? isShortPlainDecimal16(cell.data(), cell.size())
        : isShortPlainDecimal(cell.data(), cell.size());
#else
    Q_UNUSED(readable);
    const bool plain = isShortPlainDecimal(cell.data(), cell.size());
#endif
    return plain || isNumberText(cell) ? NumericCell::number : NumericCell::text;
}

// Records where each cell ends in the text and how its text follows from that. Columns are told
// numeric or not on the way, while each cell's bytes are at hand, rather than in a second pass
// over the store.
struct TableSink {
    enum : uchar { noNumberYet, numbers, notNumeric };

    Table& table;
    const char* text;
    bool headerPending = false; // the first stored row is the header: its cells say nothing
    const char* textEnd = nullptr;
    qsizetype fieldsInRow = 0;
    bool lastFieldEmpty = false;
    qsizetype width = 0;
    quint64 rowStart = 0;
    quint64 rowEnd = 0;
    size_t rowFirstRecord = 0; // in records, or in wideEnds for a wide row
    bool wideRow = false;
    bool byteEndsFit = true; // every cell so far reads right from its stretch alone
    std::vector<uchar> numeric{}; // per column met in a data row

    void field(QByteArrayView v, qsizetype rawStart, qsizetype rawEnd)
    {
        if (fieldsInRow == 0) {
            rowStart = quint64(rawStart);
            rowFirstRecord = table.records.size();
            wideRow = false;
            byteEndsFit = true;
        }
        const quint64 end = quint64(rawEnd) - rowStart;
        rowEnd = end;
        if (!wideRow && end >= kShortRowBytes)
            widenRow();
        CellKind kind;
        if (v.isEmpty()) {
            kind = empty;
        } else if (v.data() == text + rawStart && v.size() == rawEnd - rawStart) {
            kind = stretch;
        } else if (v.data() == text + rawStart + 1 && v.size() == rawEnd - rawStart - 2) {
            kind = unquoted;
        } else {
            kind = rewritten;
            if (wideRow)
                table.wideRewritten.add(table.wideEnds.size(), v);
            else
                table.shortRewritten.add(table.records.size(), v);
        }
        // Past kByteRowBytes the row keeps its two-byte records whatever its cells are.
        if (byteEndsFit && end >= kByteRowBytes) {
            byteEndsFit = false;
        } else if (byteEndsFit) {
            const QByteArrayView read = byteEndsCell(QByteArrayView(text + rawStart, rawEnd - rawStart));
            byteEndsFit = v.isEmpty() ? read.isEmpty() : read.data() == v.data() && read.size() == v.size();
        }
        const quint64 record = end << kKindBits | kind;
        if (wideRow) {
            table.wideEnds.push_back(record);
        } else {
            table.records.push_back(uchar(record));
            table.records.push_back(uchar(record >> 8));
        }
        if (!v.isEmpty() && !headerPending) {
            if (size_t(fieldsInRow) >= numeric.size())
                numeric.resize(size_t(fieldsInRow) + 1, noNumberYet);
            uchar& state = numeric[size_t(fieldsInRow)];
            if (state != notNumeric) {
                // A rewritten cell lies in a buffer of its own.
                const NumericCell cell = numericCell(v, kind == rewritten ? nullptr : textEnd);
                if (cell != NumericCell::blank)
                    state = cell == NumericCell::number ? numbers : notNumeric;
            }
        }
        ++fieldsInRow;
        lastFieldEmpty = v.isEmpty();
    }
    // The row's records so far move to the wide ones.
    void widenRow()
    {
        const size_t first = table.wideEnds.size();
        table.wideRows.push_back({table.rows.size(), qsizetype(first)});
        for (size_t i = rowFirstRecord; i < table.records.size(); i += 2)
            table.wideEnds.push_back(quint64(table.records[i] | table.records[i + 1] << 8));
        table.records.resize(rowFirstRecord);
        RewrittenCells& narrow = table.shortRewritten;
        size_t k = narrow.entries.size();
        while (k > 0 && narrow.entries[k - 1].record >= rowFirstRecord)
            --k;
        const quint64 kept = k ? narrow.entries[k - 1].end : 0;
        for (size_t j = k; j < narrow.entries.size(); ++j) {
            const quint64 begin = j ? narrow.entries[j - 1].end : 0;
            table.wideRewritten.add((narrow.entries[j].record - rowFirstRecord) / 2 + first,
                                    QByteArrayView(narrow.text.data() + begin, qsizetype(narrow.entries[j].end - begin)));
        }
        narrow.entries.resize(k);
        narrow.text.resize(size_t(kept));
        rowFirstRecord = first;
        wideRow = true;
    }
    void endRow()
    {
        if (fieldsInRow == 1 && lastFieldEmpty) {
            // An empty line, or one empty quoted field: not a row.
            if (wideRow) {
                table.wideEnds.resize(rowFirstRecord);
                table.wideRows.pop_back();
            } else {
                table.records.resize(rowFirstRecord);
            }
        } else {
            width = std::max(width, fieldsInRow);
            if (wideRow) {
                table.rows.push(rowStart, quint64(table.records.size()), wideKinded);
            } else if (byteEndsFit && rowEnd < kByteRowBytes) {
                // Each two-byte record becomes its end's byte, in place: no fresh memory.
                uchar* at = table.records.data() + rowFirstRecord;
                for (qsizetype c = 0; c < fieldsInRow; ++c)
                    at[c] = uchar((at[2 * c] | at[2 * c + 1] << 8) >> kKindBits);
                table.records.resize(rowFirstRecord + size_t(fieldsInRow));
                table.rows.push(rowStart, quint64(rowFirstRecord), byteEnds);
            } else {
                table.rows.push(rowStart, quint64(rowFirstRecord), shortKinded);
            }
            headerPending = false;
        }
        fieldsInRow = 0;
    }
    bool isNumeric(qsizetype column) const { return size_t(column) < numeric.size() && numeric[size_t(column)] == numbers; }
};

// What the store will hold, from the parse of a sample, so that its arrays rarely grow by
// copying (each copy writes fresh pages) and are not sized for the worst case either.
struct Estimate {
    qsizetype cells = 0;
    qsizetype rows = 0;
    qsizetype rewrittenCells = 0;
    qsizetype rewrittenBytes = 0;

    const char* text = nullptr;
    void field(QByteArrayView v, qsizetype rawStart, qsizetype rawEnd)
    {
        ++cells;
        if (v.isEmpty())
            return;
        const bool stretch = v.data() == text + rawStart && v.size() == rawEnd - rawStart;
        const bool unquoted = v.data() == text + rawStart + 1 && v.size() == rawEnd - rawStart - 2;
        if (!stretch && !unquoted) {
            ++rewrittenCells;
            rewrittenBytes += v.size();
        }
    }
    void endRow() { ++rows; }
};
Estimate estimatedSize(QByteArrayView text, char32_t delimiter)
{
    Estimate sample;
    sample.text = text.data();
    const qsizetype length = std::min<qsizetype>(text.size(), 1 << 16);
    if (length == 0)
        return sample;
    tokenize(text.first(length), delimiter, sample, nullptr);
    const double scale = double(text.size()) / double(length);
    const auto scaled = [scale](qsizetype count, double margin) { return qsizetype(double(count) * scale * margin) + 64; };
    return {scaled(sample.cells, 1.05), scaled(sample.rows, 1.05), scaled(sample.rewrittenCells, 1.5),
            scaled(sample.rewrittenBytes, 1.5) + 4096};
}

} // namespace

// --- Document

Document::Document() : m_table(emptyTable()) {}
Document::Document(std::shared_ptr<const Table> table) : m_table(std::move(table)) {}

const QUuid& Document::id() const { return m_table->id; }
const QList<Column>& Document::columns() const { return m_table->columns; }
qsizetype Document::rowCount() const { return m_table->storedRows() - m_table->firstDataRow; }
char32_t Document::delimiter() const { return m_table->delimiter; }
bool Document::hadHeader() const { return m_table->hadHeader; }

QByteArrayView Document::cellUtf8(qsizetype row, qsizetype column) const
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return {};
    return m_table->storedCell(row + m_table->firstDataRow, column);
}

Row Document::row(qsizetype id) const
{
    Row row;
    row.id = id;
    const qsizetype count = columnCount();
    row.cells.reserve(count);
    for (qsizetype c = 0; c < count; ++c)
        row.cells.append(cell(id, c));
    return row;
}

QList<Row> Document::rows() const
{
    QList<Row> rows;
    rows.reserve(rowCount());
    for (qsizetype r = 0; r < rowCount(); ++r)
        rows.append(row(r));
    return rows;
}

bool Document::operator==(const Document& other) const
{
    if (m_table == other.m_table)
        return true;
    if (id() != other.id() || columns() != other.columns() || rowCount() != other.rowCount()
        || delimiter() != other.delimiter() || hadHeader() != other.hadHeader())
        return false;
    for (qsizetype r = 0; r < rowCount(); ++r) {
        for (qsizetype c = 0; c < columnCount(); ++c) {
            if (cellUtf8(r, c) != other.cellUtf8(r, c))
                return false;
        }
    }
    return true;
}

// --- parsing

bool isBlank(char32_t c)
{
    return c == U' ' || c == U'\t' || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F
        || c == 0x205F || c == 0x3000;
}

QByteArrayView trimmedBlanks(QByteArrayView text)
{
    const uchar* s = reinterpret_cast<const uchar*>(text.data());
    qsizetype begin = 0, end = text.size();
    while (begin < end) {
        const int length = blankLengthAt(s, end, begin);
        if (!length)
            break;
        begin += length;
    }
    while (end > begin) {
        const int length = blankLengthBefore(s, end);
        if (!length || end - length < begin)
            break;
        end -= length;
    }
    return text.sliced(begin, end - begin);
}

QString trimmedBlanks(const QString& text)
{
    qsizetype begin = 0, end = text.size();
    auto scalarAt = [&](qsizetype i) { return char32_t(text.at(i).unicode()); };
    while (begin < end && isBlank(scalarAt(begin)))
        ++begin;
    while (end > begin && isBlank(scalarAt(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

QString textFromUtf8(QByteArrayView utf8)
{
    // QString::fromUtf8 would take a leading EF BB BF for a byte-order mark and drop it.
    return Utf8Decoder::decodeReplacing(utf8, Utf8Decoder::ByteOrderMark::keep);
}

QByteArray repairedUtf8(QByteArray bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    if (Utf8Decoder::isWellFormed(bytes))
        return bytes;
    return repairedText(bytes);
}

QList<QByteArrayView> sampleLines(QByteArrayView text, int limit)
{
    QList<QByteArrayView> lines;
    if (limit <= 0)
        return lines;
    bool inQuotes = false;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            inQuotes = !inQuotes;
        } else if ((c == '\n' || c == '\r') && !inQuotes) {
            if (i > lineStart) {
                lines.append(text.sliced(lineStart, i - lineStart));
                if (lines.size() >= limit)
                    return lines;
            }
            lineStart = i + 1;
        }
    }
    if (text.size() > lineStart && lines.size() < limit)
        lines.append(text.sliced(lineStart));
    return lines;
}

int countDelimiter(QByteArrayView line, char32_t delimiter)
{
    char bytes[4];
    const int length = utf8Encode(delimiter, bytes);
    const QByteArrayView needle(bytes, length);
    bool inQuotes = false;
    int count = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"' && delimiter != U'"') {
            inQuotes = !inQuotes;
        } else if (!inQuotes && c == bytes[0] && line.sliced(i).startsWith(needle)) {
            ++count;
            i += length - 1;
        }
    }
    return count;
}

char32_t detectDelimiter(QByteArrayView text)
{
    text = withoutBom(text);
    const QList<QByteArrayView> sample = sampleLines(text, 5);
    char32_t best = U',';
    if (sample.isEmpty())
        return best;
    qint64 bestScore = -1;
    for (const char32_t candidate : {U',', U'\t', U';', U'|'}) {
        QList<int> counts;
        for (const QByteArrayView line : sample) {
            const int count = countDelimiter(line, candidate);
            if (count > 0)
                counts.append(count);
        }
        if (counts.isEmpty())
            continue;
        const int first = counts.first();
        const qint64 score = qint64(counts.count(first)) * 1000 + first;
        if (score > bestScore) {
            bestScore = score;
            best = candidate;
        }
    }
    return best;
}

QList<QStringList> tokenizeCSV(const QString& text, char32_t delimiter)
{
    const QByteArray utf8 = Utf8Encoder::toUtf8(text);
    ListSink sink;
    tokenize(utf8, delimiter, sink, nullptr);
    return sink.rows;
}

QStringList padCells(const QStringList& cells, qsizetype width)
{
    if (cells.size() == width)
        return cells;
    if (cells.size() > width)
        return cells.first(width);
    QStringList padded = cells;
    padded.reserve(width);
    while (padded.size() < width)
        padded.append(QString());
    return padded;
}

QString columnLetterName(qint64 index)
{
    if (index < 0)
        return QString();
    QString name;
    qint64 n = index;
    name.prepend(QChar(u'A' + char16_t(n % 26)));
    while (n > 25) {
        n = n / 26 - 1;
        name.prepend(QChar(u'A' + char16_t(n % 26)));
    }
    return name;
}

bool isNumberText(QByteArrayView text)
{
    switch (numberShape(text)) {
    case NumberShape::none:
        return false;
    case NumberShape::plain:
        return true;
    case NumberShape::needsCheck:
        return strtodWhole(text).has_value();
    }
    return false;
}

std::optional<double> doubleFromString(QByteArrayView text)
{
    const NumberShape shape = numberShape(text);
    if (shape == NumberShape::none)
        return std::nullopt;
    // Plain decimals well inside the range: the library's correctly rounded reader, which is
    // many times faster than strtod and gives the same double.
    if (shape == NumberShape::plain && !text.isEmpty() && text[0] != '+') {
        const char last = text.back();
        if (last >= '0' && last <= '9') {
            double value = 0;
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
            if (error == std::errc() && end == text.data() + text.size())
                return value;
        }
    }
    return strtodWhole(text);
}

std::optional<double> doubleFromString(const QString& text)
{
    return doubleFromString(QByteArrayView(Utf8Encoder::toUtf8(text)));
}

bool isNumericColumn(const QList<QStringList>& rows, qint64 column)
{
    bool any = false;
    for (const QStringList& row : rows) {
        if (column < 0 || column >= row.size())
            continue;
        const QByteArray cell = Utf8Encoder::toUtf8(row.at(column));
        const QByteArrayView trimmed = trimmedBlanks(QByteArrayView(cell));
        if (trimmed.isEmpty())
            continue;
        if (!isNumberText(trimmed))
            return false;
        any = true;
    }
    return any;
}

bool isNumericColumn(const Document& document, qint64 column)
{
    if (column < 0 || column >= document.columnCount())
        return false;
    bool any = false;
    for (qsizetype r = 0; r < document.rowCount(); ++r) {
        const QByteArrayView trimmed = trimmedBlanks(document.cellUtf8(r, column));
        if (trimmed.isEmpty())
            continue;
        if (!isNumberText(trimmed))
            return false;
        any = true;
    }
    return any;
}

namespace {

// `input` lies inside `source`, which the table keeps.
Document parseShared(QByteArray source, QByteArrayView input, std::optional<char32_t> delimiterChoice, bool hasHeader,
                     const std::atomic_bool* cancelled)
{
    const char32_t delimiter = delimiterChoice.value_or(detectDelimiter(input));

    auto table = std::make_shared<Table>();
    table->delimiter = delimiter;
    char delimiterBytes[4];
    table->delimiterLength = utf8Encode(delimiter, delimiterBytes);
    table->source = std::move(source);
    table->text = input.data();
    const Estimate guess = estimatedSize(input, delimiter);
    // Two bytes a cell at most, while a row is being read.
    table->records.reserve(size_t(guess.cells) * 2);
    table->rows.reserve(guess.rows);
    table->shortRewritten.entries.reserve(size_t(guess.rewrittenCells));
    table->shortRewritten.text.reserve(size_t(guess.rewrittenBytes));
    TableSink sink{*table, input.data(), hasHeader, input.data() + input.size()};
    tokenize(input, delimiter, sink, cancelled);
    if (cancelled && cancelled->load())
        return Document();
    table->rows.push(quint64(input.size()), quint64(table->records.size()), byteEnds);
    table->rows.finish();
    // Room past what was written was never touched and holds no memory; squeezing the store of
    // a large text would copy it into fresh pages, each a fault.
    if (input.size() < kSqueezeBelow
        && table->records.capacity() > table->records.size() + table->records.size() / 4 + 1024) {
        table->records.shrink_to_fit();
        table->rows.squeeze();
    }

    const qsizetype stored = table->storedRows();
    if (stored == 0) {
        table->hadHeader = false;
        return Document(table);
    }
    const qsizetype width = sink.width;
    table->hadHeader = hasHeader;
    table->firstDataRow = hasHeader ? 1 : 0;
    table->columns.resize(width);
    for (qsizetype i = 0; i < width; ++i) {
        Column& column = table->columns[i];
        column.id = i;
        QString name;
        if (hasHeader) {
            const QByteArrayView header = table->storedCell(0, i);
            if (!trimmedBlanks(header).isEmpty())
                name = textFromUtf8(header);
        }
        column.name = name.isEmpty() ? columnLetterName(i) : name;
    }
    for (qsizetype i = 0; i < width; ++i)
        table->columns[i].isNumeric = sink.isNumeric(i);
    return Document(table);
}

} // namespace

Document parseCSV(const QByteArray& text, std::optional<char32_t> delimiter, bool hasHeader,
                  const std::atomic_bool* cancelled, TextState state)
{
    QByteArrayView input(text);
    // Repaired text has lost its byte-order mark already; a U+FEFF left at its start is text.
    if (state == TextState::asRead) {
        input = withoutBom(input);
        if (!Utf8Decoder::isWellFormed(input)) {
            QByteArray repaired = repairedText(input);
            const QByteArrayView view(repaired);
            return parseShared(std::move(repaired), view, delimiter, hasHeader, cancelled);
        }
    }
    return parseShared(text, input, delimiter, hasHeader, cancelled);
}

Document parseCSV(QByteArrayView input, std::optional<char32_t> delimiter, bool hasHeader,
                  const std::atomic_bool* cancelled, TextState state)
{
    // A text nobody holds as an array is copied once, for the table to keep.
    QByteArray copy(input.size(), Qt::Uninitialized);
    if (!input.isEmpty())
        std::memcpy(copy.data(), input.data(), size_t(input.size()));
    return parseCSV(copy, delimiter, hasHeader, cancelled, state);
}

Document parseCSV(const QString& text, std::optional<char32_t> delimiter, bool hasHeader)
{
    return parseCSV(Utf8Encoder::toUtf8(text), delimiter, hasHeader, nullptr);
}

} // namespace CSVParser
