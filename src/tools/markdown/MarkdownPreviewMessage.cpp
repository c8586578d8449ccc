#include "tools/markdown/MarkdownPreviewMessage.h"

#include <algorithm>
#include <charconv>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QVariantList>
#include <QVariantMap>

#include <cmath>
#include <vector>

namespace {

// Values may reach us as JSON values wrapped in a QVariant, depending on the bridge.
QVariant unwrap(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QJsonValue:
        return value.toJsonValue().toVariant();
    case QMetaType::QJsonObject:
        return value.toJsonObject().toVariantMap();
    case QMetaType::QJsonArray:
        return value.toJsonArray().toVariantList();
    case QMetaType::QJsonDocument:
        return value.toJsonDocument().toVariant();
    default:
        return value;
    }
}

bool isNumberType(int typeId)
{
    switch (typeId) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}

std::optional<QVariantList> asList(const QVariant& raw)
{
    const QVariant value = unwrap(raw);
    if (value.typeId() == QMetaType::QVariantList)
        return value.toList();
    if (value.typeId() == QMetaType::QStringList)
        return value.toList();
    return std::nullopt;
}

std::optional<QVariantMap> asMap(const QVariant& raw)
{
    const QVariant value = unwrap(raw);
    if (value.typeId() == QMetaType::QVariantMap)
        return value.toMap();
    if (value.typeId() == QMetaType::QVariantHash) {
        QVariantMap map;
        const QVariantHash hash = value.toHash();
        for (auto it = hash.cbegin(); it != hash.cend(); ++it)
            map.insert(it.key(), it.value());
        return map;
    }
    return std::nullopt;
}

// A number object that is not a boolean; no range test (row items are checked by the line map).
std::optional<double> anyNumber(const QVariant& raw)
{
    const QVariant value = unwrap(raw);
    if (!value.isValid() || !isNumberType(value.typeId()))
        return std::nullopt;
    return value.toDouble();
}

// A text of finite numbers separated by commas; nothing when it is not one.
std::optional<std::vector<double>> numbersFromText(const QString& text)
{
    std::vector<double> numbers;
    if (text.isEmpty())
        return numbers;
    const QByteArray bytes = text.toLatin1();
    const char* p = bytes.constData();
    const char* const end = p + bytes.size();
    numbers.reserve(size_t(bytes.size() / 6));
    for (;;) {
        double number = 0;
        const std::from_chars_result read = std::from_chars(p, end, number);
        // A number that does not read (NaN, say) spoils only its own row.
        numbers.push_back(read.ec == std::errc() && std::isfinite(number) ? number : std::nan(""));
        p = read.ec == std::errc() ? read.ptr : std::find(p, end, ',');
        if (p == end)
            break;
        if (*p != ',')
            return std::nullopt;
        ++p;
    }
    return numbers;
}

// The rows as one text of numbers separated by commas, four to a row: a long document has tens
// of thousands of rows, and one string crosses the channel far faster than as many numbers.
// With `runs` (count, top, line shift for each run of rows), tops and bottoms are relative to
// their run's top and lines owe its shift: the page then rewrites only the runs that changed.
std::optional<QList<MarkdownLineMap::Block>> rowsFromText(const QString& text, const std::optional<QString>& runs)
{
    const std::optional<std::vector<double>> numbers = numbersFromText(text);
    if (!numbers || numbers->size() % 4 != 0)
        return std::nullopt;
    const qsizetype rowCount = qsizetype(numbers->size() / 4);
    std::vector<double> offsets; // top and line shift for each row
    if (runs) {
        const std::optional<std::vector<double>> r = numbersFromText(*runs);
        if (!r || r->size() % 3 != 0)
            return std::nullopt;
        offsets.reserve(size_t(rowCount) * 2);
        for (size_t k = 0; k < r->size(); k += 3) {
            const double count = (*r)[k];
            if (!(count >= 0) || std::trunc(count) != count || qsizetype(offsets.size() / 2) + count > rowCount)
                return std::nullopt;
            for (qint64 i = 0; i < qint64(count); ++i) {
                offsets.push_back((*r)[k + 1]);
                offsets.push_back((*r)[k + 2]);
            }
        }
        if (qsizetype(offsets.size() / 2) != rowCount)
            return std::nullopt;
    }
    QList<MarkdownLineMap::Block> blocks;
    blocks.reserve(rowCount);
    QList<double> row(4);
    for (qsizetype k = 0; k < rowCount; ++k) {
        const double top = runs ? offsets[size_t(2 * k)] : 0;
        const double shift = runs ? offsets[size_t(2 * k + 1)] : 0;
        row[0] = (*numbers)[size_t(4 * k)] + shift;
        row[1] = (*numbers)[size_t(4 * k + 1)] + top;
        row[2] = (*numbers)[size_t(4 * k + 2)] + shift;
        row[3] = (*numbers)[size_t(4 * k + 3)] + top;
        if (std::optional<MarkdownLineMap::Block> block = MarkdownLineMap::Block::fromRow(row))
            blocks.append(*block);
    }
    return blocks;
}

std::optional<MarkdownPreviewMessage> decodeLayout(const QVariantMap& body)
{
    const QVariant rawTops = unwrap(body.value(QStringLiteral("tops")));
    const QVariant rawRuns = unwrap(body.value(QStringLiteral("runs")));
    std::optional<QString> runs;
    if (rawRuns.isValid()) {
        if (rawRuns.typeId() != QMetaType::QString || rawTops.typeId() != QMetaType::QString)
            return std::nullopt;
        runs = rawRuns.toString();
    }
    std::optional<QList<MarkdownLineMap::Block>> textRows;
    if (rawTops.typeId() == QMetaType::QString) {
        textRows = rowsFromText(rawTops.toString(), runs);
        if (!textRows)
            return std::nullopt;
    }
    const std::optional<QVariantList> tops = textRows ? std::optional<QVariantList>(QVariantList()) : asList(rawTops);
    if (!tops)
        return std::nullopt;
    const std::optional<double> lineCount = previewNumber(body.value(QStringLiteral("lineCount")));
    if (!lineCount || std::trunc(*lineCount) != *lineCount || *lineCount < 1)
        return std::nullopt;
    const std::optional<double> height = previewNumber(body.value(QStringLiteral("height")));
    if (!height || *height < 0)
        return std::nullopt;
    const std::optional<double> viewport = previewNumber(body.value(QStringLiteral("viewport")));
    if (!viewport || *viewport < 0)
        return std::nullopt;
    const std::optional<double> scrollY = previewNumber(body.value(QStringLiteral("scrollY")));
    if (!scrollY)
        return std::nullopt;
    const std::optional<bool> userScroll = previewBool(body.value(QStringLiteral("userScroll")));
    if (!userScroll)
        return std::nullopt;

    QList<MarkdownLineMap::Block> blocks;
    // The page sends its rows as one text or one flat run of numbers, four to a row; rows given
    // as arrays of their own are taken too.
    const bool flat = !tops->isEmpty() && anyNumber(tops->first()).has_value();
    if (textRows) {
        blocks = std::move(*textRows);
    } else if (flat) {
        if (tops->size() % 4 != 0)
            return std::nullopt;
        blocks.reserve(tops->size() / 4);
        QList<double> row(4);
        for (qsizetype k = 0; k < tops->size(); k += 4) {
            bool valid = true;
            for (int i = 0; i < 4 && valid; ++i) {
                const std::optional<double> number = anyNumber(tops->at(k + i));
                valid = number.has_value();
                row[i] = number.value_or(0);
            }
            if (!valid)
                continue;
            if (std::optional<MarkdownLineMap::Block> block = MarkdownLineMap::Block::fromRow(row))
                blocks.append(*block);
        }
    } else {
        blocks.reserve(tops->size());
        for (const QVariant& element : *tops) {
            const std::optional<QVariantList> items = asList(element);
            if (!items)
                continue;
            QList<double> row;
            row.reserve(items->size());
            bool valid = true;
            for (const QVariant& item : *items) {
                const std::optional<double> number = anyNumber(item);
                if (!number) {
                    valid = false;
                    break;
                }
                row.append(*number);
            }
            if (!valid)
                continue;
            if (std::optional<MarkdownLineMap::Block> block = MarkdownLineMap::Block::fromRow(row))
                blocks.append(*block);
        }
    }

    MarkdownPreviewMessage::Layout layout{
        MarkdownLineMap(blocks, static_cast<qint64>(*lineCount), *height), *height, *viewport, *scrollY, *userScroll};
    return MarkdownPreviewMessage{layout};
}

} // namespace

std::optional<double> previewNumber(const QVariant& value)
{
    const std::optional<double> number = anyNumber(value);
    if (!number || !std::isfinite(*number) || std::fabs(*number) > 1e9)
        return std::nullopt;
    return number;
}

std::optional<bool> previewBool(const QVariant& raw)
{
    const QVariant value = unwrap(raw);
    if (value.typeId() != QMetaType::Bool)
        return std::nullopt;
    return value.toBool();
}

std::optional<std::pair<double, double>> previewNumberPair(const QVariant& value)
{
    const std::optional<QVariantList> list = asList(value);
    if (!list || list->size() != 2)
        return std::nullopt;
    const std::optional<double> first = previewNumber(list->at(0));
    const std::optional<double> second = previewNumber(list->at(1));
    if (!first || !second)
        return std::nullopt;
    return std::make_pair(*first, *second);
}

std::optional<MarkdownPreviewMessage> MarkdownPreviewMessage::decode(const QVariant& raw)
{
    const std::optional<QVariantMap> body = asMap(raw);
    if (!body || body->isEmpty())
        return std::nullopt;
    const QVariant kindValue = unwrap(body->value(QStringLiteral("kind")));
    if (kindValue.typeId() != QMetaType::QString)
        return std::nullopt;
    const QString kind = kindValue.toString();
    if (kind == QLatin1String("layout"))
        return decodeLayout(*body);
    if (kind == QLatin1String("scroll")) {
        const std::optional<double> y = previewNumber(body->value(QStringLiteral("y")));
        const std::optional<bool> user = previewBool(body->value(QStringLiteral("user")));
        if (!y || !user)
            return std::nullopt;
        return MarkdownPreviewMessage{Scroll{*y, *user}};
    }
    return std::nullopt;
}
