#include "formats/JSONFormatter.h"

#include "formats/Utf8Decoder.h"
#include "formats/JSONParser.h"
#include "formats/JSONPrinter.h"
#include "formats/JSONTextMetrics.h"
#include "formats/Utf8Encoder.h"

#include <QHash>

namespace JSONFormatter {

QString Indent::unit() const
{
    return kind == Kind::tabs ? QStringLiteral("\t") : QString(qMax(0, count), u' ');
}

size_t qHash(const Indent& indent, size_t seed)
{
    return ::qHashMulti(seed, int(indent.kind), indent.kind == Indent::Kind::tabs ? 0 : indent.count);
}

namespace {

// Blank when it holds nothing but white space, Unicode's included.
bool isBlank(const QByteArray& utf8)
{
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x80)
            return Utf8Decoder::decodeReplacing(QByteArrayView(utf8).sliced(i), Utf8Decoder::ByteOrderMark::keep).trimmed().isEmpty();
        if (!QChar::isSpace(c))
            return false;
    }
    return true;
}

// What a text reads to before it is parsed: its UTF-8, or the fault of a lone surrogate.
struct Encoded {
    QByteArray utf8;
    std::optional<FormatError> fault;
};
Encoded encoded(const QString& text)
{
    std::optional<FormatError> fault = JSONParser::encodingFault(text);
    return fault ? Encoded{QByteArray(), std::move(fault)} : Encoded{Utf8Encoder::toUtf8(text), std::nullopt};
}

FormatResult printed(const QByteArray& utf8, const std::optional<QString>& unit, SortMode sortMode)
{
    JSONDocument document;
    // The printer reads the checked bytes: no tape.
    const JSONParser::Result parsed = JSONParser::parse(utf8, &document, false);
    if (parsed.error)
        return FormatResult{QByteArray(), parsed.error};
    return FormatResult{JSONPrinter::print(document, unit, sortMode).value_or(QByteArray()), std::nullopt};
}

FormatResult printed(const QString& text, const std::optional<QString>& unit, SortMode sortMode)
{
    const Encoded e = encoded(text);
    return e.fault ? FormatResult{QByteArray(), e.fault} : printed(e.utf8, unit, sortMode);
}

Validation verdict(qint64 byteSize, const std::optional<FormatError>& error, qsizetype topLevelCount)
{
    Validation v;
    v.byteSize = byteSize;
    if (error) {
        v.error = error->message;
        v.failure = error;
        return v;
    }
    v.isValid = true;
    if (topLevelCount >= 0)
        v.topLevelKeyCount = topLevelCount;
    return v;
}

} // namespace

FormatResult format(const QString& text, Indent indent, SortMode sortMode)
{
    return printed(text, indent.unit(), sortMode);
}

FormatResult format(const QByteArray& utf8, Indent indent, SortMode sortMode)
{
    return printed(utf8, indent.unit(), sortMode);
}

FormatResult minify(const QString& text, SortMode sortMode)
{
    return printed(text, std::nullopt, sortMode);
}

FormatResult minify(const QByteArray& utf8, SortMode sortMode)
{
    return printed(utf8, std::nullopt, sortMode);
}

namespace {

// The verdict on `utf8`, with `document` holding it (without a tape: the printer reads the
// checked bytes) when it is valid JSON; nothing when cancelled.
std::optional<Validation> readDocument(const QByteArray& utf8, JSONDocument& document, const std::atomic_bool* cancelled)
{
    if (isBlank(utf8)) {
        Validation blank;
        blank.byteSize = utf8.size();
        return blank;
    }
    const JSONParser::Result parsed = JSONParser::parse(utf8, &document, false, cancelled);
    if (cancelled && cancelled->load())
        return std::nullopt;
    return verdict(utf8.size(), parsed.error, parsed.topLevelCount);
}

} // namespace

Outputs outputs(const QString& text, Indent indent, SortMode sortMode, const std::atomic_bool* cancelled,
                bool prettyFirst, const FirstReady& firstReady)
{
    Encoded e = encoded(text);
    if (!e.fault)
        return outputs(std::exchange(e.utf8, QByteArray()), indent, sortMode, cancelled, prettyFirst, firstReady);
    Outputs out;
    out.validation = verdict(Utf8Encoder::encodedLength(text), e.fault, -1);
    return out;
}

Outputs outputs(const QByteArray& utf8, Indent indent, SortMode sortMode, const std::atomic_bool* cancelled,
                bool prettyFirst, const FirstReady& firstReady)
{
    Outputs out;
    JSONDocument document;
    std::optional<Validation> validation = readDocument(utf8, document, cancelled);
    if (!validation)
        return {};
    out.validation = std::move(*validation);
    if (!out.validation.isValid)
        return out;
    const std::optional<QString> unit = indent.unit();
    std::optional<QByteArray> first, second;
    first = JSONPrinter::print(document, prettyFirst ? unit : std::nullopt, sortMode, cancelled);
    if (!first)
        return {};
    if (firstReady)
        firstReady(out.validation, *first);
    second = JSONPrinter::print(document, prettyFirst ? std::nullopt : unit, sortMode, cancelled);
    if (!first || !second)
        return {};
    out.formatted = std::move(prettyFirst ? *first : *second);
    out.minified = std::move(prettyFirst ? *second : *first);
    return out;
}

} // namespace JSONFormatter
