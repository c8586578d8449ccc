#include "tools/csv/CSVRefinement.h"

#include "formats/Utf8Encoder.h"
#include "tools/csv/CSVParallel.h"

#include <QLocale>

#include <unicode/ucol.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace CSVRefinement {
namespace {

bool isAscii(QByteArrayView text)
{
    const char* s = text.data();
    qsizetype i = 0;
    const qsizetype n = text.size();
    quint64 bits = 0;
    for (; i + 8 <= n; i += 8) {
        quint64 word;
        std::memcpy(&word, s + i, 8);
        bits |= word;
    }
    for (; i < n; ++i)
        bits |= uchar(s[i]);
    return !(bits & 0x8080808080808080ull);
}

uchar asciiLower(uchar c) { return c >= 'A' && c <= 'Z' ? uchar(c | 0x20) : c; }

// Whether ASCII `haystack` holds `needle` (ASCII, already lower-cased), ignoring ASCII case.
bool asciiContainsLowered(QByteArrayView haystack, QByteArrayView needle)
{
    const qsizetype m = needle.size();
    if (m == 0)
        return true;
    const qsizetype n = haystack.size();
    if (n < m)
        return false;
    const uchar* h = reinterpret_cast<const uchar*>(haystack.data());
    const uchar* p = reinterpret_cast<const uchar*>(needle.data());
    const uchar first = p[0];
    const uchar firstUpper = first >= 'a' && first <= 'z' ? uchar(first & ~0x20) : first;
    for (qsizetype i = 0; i + m <= n; ++i) {
        if (first == firstUpper) {
            const void* hit = std::memchr(h + i, first, size_t(n - m + 1 - i));
            if (!hit)
                return false;
            i = static_cast<const uchar*>(hit) - h;
        } else if (h[i] != first && h[i] != firstUpper) {
            continue;
        }
        qsizetype k = 1;
        while (k < m && asciiLower(h[i + k]) == p[k])
            ++k;
        if (k == m)
            return true;
    }
    return false;
}

// A search needle: the lower-cased query, as UTF-8 for ASCII cells and as text for the rest.
struct Needle {
    QString text;
    QByteArray utf8;
    bool ascii = true;
    explicit Needle(const QString& lowered)
        : text(lowered.normalized(QString::NormalizationForm_C)), utf8(Utf8Encoder::toUtf8(lowered)), ascii(isAscii(utf8))
    {
    }
};

// Non-ASCII characters whose lower case or case folding is ASCII: KELVIN SIGN, LATIN CAPITAL
// LETTER I WITH DOT ABOVE, LATIN SMALL LETTER LONG S. Without them, an ASCII needle can be
// matched on the UTF-8 bytes directly: every other non-ASCII byte stays what it is.
bool mayFoldIntoAscii(QByteArrayView cell)
{
    if (isAscii(cell))
        return false;
    const char* s = cell.data();
    const qsizetype n = cell.size();
    for (qsizetype i = 0; i + 1 < n; ++i) {
        const uchar b = uchar(s[i]);
        if (b == 0xC4 && uchar(s[i + 1]) == 0xB0)
            return true;
        if (b == 0xC5 && uchar(s[i + 1]) == 0xBF)
            return true;
        if (b == 0xE2 && i + 2 < n && uchar(s[i + 1]) == 0x84 && uchar(s[i + 2]) == 0xAA)
            return true;
    }
    return false;
}

bool searchMatches(QByteArrayView cell, const Needle& needle)
{
    if (needle.ascii) {
        // A match on the bytes is a match in the lower-cased text; without one, only a
        // character that lower-cases into ASCII could make one.
        if (asciiContainsLowered(cell, needle.utf8))
            return true;
        if (!mayFoldIntoAscii(cell))
            return false;
    } else if (isAscii(cell)) {
        return false; // the lower case of ASCII text is ASCII
    }
    // Canonically equivalent spellings (a precomposed or a combining accent) match each other.
    return CSVParser::textFromUtf8(cell).toLower().normalized(QString::NormalizationForm_C).contains(needle.text);
}

struct Filter {
    qint64 column;
    QString text;
    QByteArray loweredUtf8;
    bool ascii;
};

bool filterMatches(QByteArrayView cell, const Filter& filter)
{
    if (filter.ascii) {
        if (asciiContainsLowered(cell, filter.loweredUtf8))
            return true;
        if (!mayFoldIntoAscii(cell))
            return false;
    }
    return CSVParser::textFromUtf8(cell).normalized(QString::NormalizationForm_C).contains(filter.text, Qt::CaseInsensitive);
}

// --- sorting

struct CollatorDeleter {
    void operator()(UCollator* c) const { ucol_close(c); }
};
using Collator = std::unique_ptr<UCollator, CollatorDeleter>;

Collator openCollator()
{
    UErrorCode status = U_ZERO_ERROR;
    const QByteArray locale = QLocale().name().toLatin1();
    UCollator* collator = ucol_open(locale.constData(), &status);
    if (U_FAILURE(status) || !collator) {
        status = U_ZERO_ERROR;
        collator = ucol_open("", &status);
    }
    if (!collator)
        return nullptr;
    status = U_ZERO_ERROR;
    // Case counts only between texts that are otherwise equal; digit runs compare by value.
    ucol_setAttribute(collator, UCOL_NUMERIC_COLLATION, UCOL_ON, &status);
    ucol_setStrength(collator, UCOL_TERTIARY);
    return Collator(collator);
}

struct KeyBuilder {
    UCollator* collator;
    std::u16string utf16;
    std::string key;

    // The collation key of a cell, appended to `arena`.
    void append(QByteArrayView cell, std::string& arena)
    {
        utf16.clear();
        if (isAscii(cell)) {
            utf16.resize(size_t(cell.size()));
            for (qsizetype i = 0; i < cell.size(); ++i)
                utf16[size_t(i)] = char16_t(uchar(cell[i]));
        } else {
            const QString text = CSVParser::textFromUtf8(cell);
            utf16.assign(reinterpret_cast<const char16_t*>(text.utf16()), size_t(text.size()));
        }
        if (key.size() < 64)
            key.resize(64);
        int32_t length = ucol_getSortKey(collator, reinterpret_cast<const UChar*>(utf16.data()), int32_t(utf16.size()),
                                         reinterpret_cast<uint8_t*>(key.data()), int32_t(key.size()));
        if (length > int32_t(key.size())) {
            key.resize(size_t(length));
            length = ucol_getSortKey(collator, reinterpret_cast<const UChar*>(utf16.data()), int32_t(utf16.size()),
                                     reinterpret_cast<uint8_t*>(key.data()), int32_t(key.size()));
        }
        arena.append(key.data(), size_t(std::max(0, length)));
    }
};

quint64 bigEndianPrefix(const char* p, size_t length)
{
    quint64 v = 0;
    for (size_t i = 0; i < 8; ++i)
        v = v << 8 | (i < length ? uchar(p[i]) : 0);
    return v;
}

// Order-keeping bits of a number, never 0 (0 marks a cell that is no number).
quint64 numberBits(double v)
{
    if (v == 0)
        v = 0; // -0 and 0 are one number
    quint64 bits;
    std::memcpy(&bits, &v, 8);
    return (bits & 0x8000000000000000ull) ? ~bits : bits | 0x8000000000000000ull;
}

// What one sort key knows of each row being sorted (by position in the input list).
struct KeyColumn {
    bool ascending = true;
    bool numeric = false;
    std::vector<quint64> number;  // numeric columns: numberBits, or 0 for a cell that is no number
    std::vector<quint64> prefix;  // first eight bytes of the collation key
    std::vector<quint64> prefix2; // the next eight
    std::vector<quint64> keyStart; // where each position's collation key starts in the arena
    std::vector<quint32> keyLength;
    std::string arena;

    int compareText(qint32 a, qint32 b) const
    {
        if (prefix[size_t(a)] != prefix[size_t(b)])
            return prefix[size_t(a)] < prefix[size_t(b)] ? -1 : 1;
        const quint64 a0 = keyStart[size_t(a)], b0 = keyStart[size_t(b)];
        if (a0 == b0)
            return 0; // one key for equal cells
        const size_t la = keyLength[size_t(a)], lb = keyLength[size_t(b)];
        const int r = std::memcmp(arena.data() + a0, arena.data() + b0, std::min(la, lb));
        if (r)
            return r;
        return la < lb ? -1 : la > lb ? 1 : 0;
    }
    int compare(qint32 a, qint32 b) const
    {
        if (numeric) {
            const quint64 na = number[size_t(a)], nb = number[size_t(b)];
            if (na && nb)
                return na < nb ? -1 : na > nb ? 1 : 0;
            if (na || nb)
                return na ? 1 : -1;
        }
        return compareText(a, b);
    }
};

bool isCancelled(const std::atomic_bool* cancelled) { return cancelled && cancelled->load(std::memory_order_relaxed); }

bool buildKey(const CSVParser::Document& document, const std::vector<qint32>& rows, const CSVSortDescriptor& d,
              KeyColumn& key, UCollator* collator, const std::atomic_bool* cancelled)
{
    const qsizetype count = qsizetype(rows.size());
    key.ascending = d.ascending;
    key.numeric = document.columns().at(d.columnID).isNumeric;
    if (key.numeric)
        key.number.assign(size_t(count), 0);
    key.prefix.assign(size_t(count), 0);
    key.prefix2.assign(size_t(count), 0);
    key.keyStart.assign(size_t(count), 0);
    key.keyLength.assign(size_t(count), 0);
    const int slices = CSVParallel::sliceCount(count, 1 << 14);
    std::vector<std::string> arenas(static_cast<size_t>(slices));
    std::vector<qsizetype> sliceBegin(size_t(slices), 0), sliceEnd(size_t(slices), 0);
    std::atomic_bool failed{false};
    CSVParallel::forSlices(count, slices, [&](qsizetype begin, qsizetype end, int slice) {
        sliceBegin[size_t(slice)] = begin;
        sliceEnd[size_t(slice)] = end;
        UErrorCode status = U_ZERO_ERROR;
        Collator own(ucol_clone(collator, &status));
        if (!own) {
            failed = true;
            return;
        }
        KeyBuilder builder{own.get(), {}, {}};
        std::string& arena = arenas[size_t(slice)];
        // Equal cells share one key: columns repeat their values a lot, and a shared key is
        // both made once and compared at once.
        std::unordered_map<std::string_view, std::pair<quint64, quint32>> seen;
        constexpr size_t seenLimit = 1 << 16;
        for (qsizetype i = begin; i < end; ++i) {
            if (((i - begin) & 4095) == 0 && isCancelled(cancelled))
                return;
            const QByteArrayView cell = document.cellUtf8(rows[size_t(i)], d.columnID);
            if (key.numeric) {
                const QByteArrayView trimmed = CSVParser::trimmedBlanks(cell);
                if (!trimmed.isEmpty()) {
                    const std::optional<double> value = CSVParser::doubleFromString(trimmed);
                    if (value && !std::isnan(*value)) {
                        key.number[size_t(i)] = numberBits(*value);
                        continue;
                    }
                }
            }
            const std::string_view text(cell.data(), size_t(cell.size()));
            quint64 start;
            quint32 length;
            const auto it = seen.find(text);
            if (it != seen.end()) {
                start = it->second.first;
                length = it->second.second;
            } else {
                start = arena.size();
                builder.append(cell, arena);
                length = quint32(arena.size() - start);
                if (seen.size() < seenLimit)
                    seen.emplace(text, std::make_pair(start, length));
            }
            key.keyStart[size_t(i)] = start;
            key.keyLength[size_t(i)] = length;
            key.prefix[size_t(i)] = bigEndianPrefix(arena.data() + start, length);
            if (length > 8)
                key.prefix2[size_t(i)] = bigEndianPrefix(arena.data() + start + 8, length - 8);
        }
    });
    if (failed || isCancelled(cancelled))
        return false;
    size_t total = 0;
    for (const std::string& a : arenas)
        total += a.size();
    key.arena.reserve(total);
    for (int s = 0; s < slices; ++s) {
        const quint64 base = key.arena.size();
        if (base) {
            for (qsizetype i = sliceBegin[size_t(s)]; i < sliceEnd[size_t(s)]; ++i)
                key.keyStart[size_t(i)] += base;
        }
        key.arena += arenas[size_t(s)];
        std::string().swap(arenas[size_t(s)]);
    }
    return true;
}

} // namespace

QString normalizedQuery(const QString& query)
{
    return CSVParser::trimmedBlanks(query).toLower();
}

std::optional<std::vector<qint32>> matchingRows(const CSVParser::Document& document, const QString& searchQuery,
                                                const QMap<qint64, QString>& columnFilters,
                                                const std::atomic_bool* cancelled)
{
    const qsizetype rowCount = document.rowCount();
    const qsizetype columnCount = document.columnCount();
    const QString query = normalizedQuery(searchQuery);
    const Needle needle(query);
    std::vector<Filter> filters;
    for (auto it = columnFilters.constBegin(); it != columnFilters.constEnd(); ++it) {
        if (it.value().isEmpty())
            continue;
        const QByteArray lowered = Utf8Encoder::toUtf8(it.value().toLower());
        filters.push_back({it.key(), it.value().normalized(QString::NormalizationForm_C), lowered,
                           isAscii(Utf8Encoder::toUtf8(it.value()))});
    }
    std::vector<qint32> all;
    if (query.isEmpty() && filters.empty()) {
        all.resize(size_t(rowCount));
        for (qsizetype r = 0; r < rowCount; ++r)
            all[size_t(r)] = qint32(r);
        return all;
    }
    // A filter on a column no row has removes every row.
    for (const Filter& f : filters) {
        if (f.column < 0 || f.column >= columnCount)
            return all;
    }
    const int slices = CSVParallel::sliceCount(rowCount, 1 << 13);
    std::vector<std::vector<qint32>> kept(static_cast<size_t>(slices));
    CSVParallel::forSlices(rowCount, slices, [&](qsizetype begin, qsizetype end, int slice) {
        std::vector<qint32>& out = kept[size_t(slice)];
        for (qsizetype r = begin; r < end; ++r) {
            if (((r - begin) & 1023) == 0 && isCancelled(cancelled))
                return;
            bool pass = true;
            for (const Filter& f : filters) {
                if (!filterMatches(document.cellUtf8(r, f.column), f)) {
                    pass = false;
                    break;
                }
            }
            if (pass && !query.isEmpty()) {
                pass = false;
                for (qsizetype c = 0; c < columnCount && !pass; ++c)
                    pass = searchMatches(document.cellUtf8(r, c), needle);
            }
            if (pass)
                out.push_back(qint32(r));
        }
    });
    if (isCancelled(cancelled))
        return std::nullopt;
    size_t total = 0;
    for (const auto& k : kept)
        total += k.size();
    all.reserve(total);
    for (const auto& k : kept)
        all.insert(all.end(), k.begin(), k.end());
    return all;
}

bool sortRows(const CSVParser::Document& document, std::vector<qint32>& rows, const QList<CSVSortDescriptor>& keys,
              const std::atomic_bool* cancelled)
{
    QList<CSVSortDescriptor> usable;
    for (const CSVSortDescriptor& d : keys) {
        if (d.columnID >= 0 && d.columnID < document.columnCount())
            usable.append(d);
    }
    if (usable.isEmpty() || rows.size() < 2)
        return !isCancelled(cancelled);
    Collator collator = openCollator();
    if (!collator)
        return false;
    std::vector<KeyColumn> columns(size_t(usable.size()));
    for (qsizetype k = 0; k < usable.size(); ++k) {
        if (!buildKey(document, rows, usable[k], columns[size_t(k)], collator.get(), cancelled))
            return false;
    }
    // Items carry the primary key's first eight bytes (or the number's bits), so most
    // comparisons touch nothing else; ties fall back to the whole keys, then to the position in
    // the input, which makes the order total and the sort stable in both directions.
    struct Item {
        quint64 prefix;
        quint64 prefix2;
        qint32 pos;
    };
    const KeyColumn& primary = columns.front();
    auto before = [&columns, &primary](const Item& a, const Item& b) {
        if (a.prefix != b.prefix)
            return primary.ascending ? a.prefix < b.prefix : a.prefix > b.prefix;
        if (a.prefix2 != b.prefix2)
            return primary.ascending ? a.prefix2 < b.prefix2 : a.prefix2 > b.prefix2;
        for (const KeyColumn& key : columns) {
            const int r = key.compare(a.pos, b.pos);
            if (r != 0)
                return key.ascending ? r < 0 : r > 0;
        }
        return a.pos < b.pos;
    };
    const qsizetype count = qsizetype(rows.size());
    std::vector<Item> order(static_cast<size_t>(count));
    for (qsizetype i = 0; i < count; ++i)
        order[size_t(i)] = primary.numeric ? Item{primary.number[size_t(i)], 0, qint32(i)}
                                           : Item{primary.prefix[size_t(i)], primary.prefix2[size_t(i)], qint32(i)};
    // (A numeric key's prefix 0 marks a cell that is no number; equal prefixes go on to the
    // whole comparison, which orders such cells as text.)
    // Slices sorted side by side, then merged pairwise.
    const int slices = CSVParallel::sliceCount(count, 1 << 15);
    const qsizetype step = (count + slices - 1) / slices;
    CSVParallel::forSlices(count, slices, [&](qsizetype begin, qsizetype end, int) {
        std::sort(order.begin() + begin, order.begin() + end, before);
    });
    if (isCancelled(cancelled))
        return false;
    std::vector<Item> buffer(static_cast<size_t>(count));
    for (qsizetype width = step; width < count; width *= 2) {
        const qsizetype pairs = (count + 2 * width - 1) / (2 * width);
        CSVParallel::forSlices(pairs, int(std::min<qsizetype>(pairs, 16)), [&](qsizetype p0, qsizetype p1, int) {
            for (qsizetype p = p0; p < p1; ++p) {
                const qsizetype lo = p * 2 * width;
                const qsizetype mid = std::min(count, lo + width);
                const qsizetype hi = std::min(count, lo + 2 * width);
                std::merge(order.begin() + lo, order.begin() + mid, order.begin() + mid, order.begin() + hi,
                           buffer.begin() + lo, before);
            }
        });
        order.swap(buffer);
        if (isCancelled(cancelled))
            return false;
    }
    std::vector<qint32> sorted(static_cast<size_t>(count));
    for (qsizetype i = 0; i < count; ++i)
        sorted[size_t(i)] = rows[size_t(order[size_t(i)].pos)];
    rows.swap(sorted);
    return true;
}

std::optional<std::vector<qint32>> visibleRows(const CSVParser::Document& document, const QString& searchQuery,
                                               const QMap<qint64, QString>& columnFilters,
                                               const QList<CSVSortDescriptor>& sortOrder,
                                               const std::atomic_bool* cancelled)
{
    std::optional<std::vector<qint32>> rows = matchingRows(document, searchQuery, columnFilters, cancelled);
    if (!rows)
        return std::nullopt;
    if (!sortRows(document, *rows, sortOrder, cancelled))
        return std::nullopt;
    return rows;
}

int compareText(const QString& left, const QString& right)
{
    Collator collator = openCollator();
    if (!collator)
        return QString::compare(left, right);
    const UCollationResult r = ucol_strcoll(collator.get(), reinterpret_cast<const UChar*>(left.utf16()),
                                            int32_t(left.size()), reinterpret_cast<const UChar*>(right.utf16()),
                                            int32_t(right.size()));
    return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
}

} // namespace CSVRefinement
