#include "formats/JSONFormatter.h"

#include "formats/JSONParser.h"
#include "formats/JSONPrinter.h"
#include "formats/JSONTextMetrics.h"
#include "formats/Utf8Encoder.h"

#include "formats/RunParts.h"

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

bool isBlank(const QString& text)
{
    for (QChar c : text)
        if (!c.isSpace())
            return false;
    return true;
}

FormatResult printed(const QString& text, const std::optional<QString>& unit, SortMode sortMode)
{
    JSONDocument document;
    const JSONParser::Result parsed = JSONParser::parse(text, &document);
    if (parsed.error)
        return FormatResult{QString(), parsed.error};
    return FormatResult{JSONPrinter::print(document, unit, sortMode).value_or(QString()), std::nullopt};
}

Validation verdict(const QString& text, const JSONParser::Result& parsed)
{
    Validation v;
    v.byteSize = Utf8Encoder::encodedLength(text);
    if (parsed.error) {
        v.error = parsed.error->message;
        v.failure = parsed.error;
        return v;
    }
    v.isValid = true;
    if (parsed.topLevelCount >= 0)
        v.topLevelKeyCount = parsed.topLevelCount;
    return v;
}

} // namespace

FormatResult format(const QString& text, Indent indent, SortMode sortMode)
{
    return printed(text, indent.unit(), sortMode);
}

FormatResult minify(const QString& text, SortMode sortMode)
{
    return printed(text, std::nullopt, sortMode);
}

namespace {

// The verdict on `text`, with its document read into `document` when it is valid JSON; nothing
// when cancelled.
std::optional<Validation> readDocument(const QString& text, JSONDocument& document, const std::atomic_bool* cancelled)
{
    if (isBlank(text)) {
        Validation blank;
        blank.byteSize = Utf8Encoder::encodedLength(text);
        return blank;
    }
    const JSONParser::Result parsed = JSONParser::parse(text, &document, true, cancelled);
    if (cancelled && cancelled->load())
        return std::nullopt;
    return verdict(text, parsed);
}

} // namespace

Outputs outputs(const QString& text, Indent indent, SortMode sortMode, const std::atomic_bool* cancelled)
{
    return outputs(text, indent, sortMode, cancelled, true, nullptr);
}

Outputs outputs(const QString& text, Indent indent, SortMode sortMode, const std::atomic_bool* cancelled,
                bool prettyFirst, const std::function<void(const Validation&, const QString&)>& firstReady)
{
    Outputs out;
    JSONDocument document;
    std::optional<Validation> validation = readDocument(text, document, cancelled);
    if (!validation)
        return {};
    out.validation = std::move(*validation);
    if (!out.validation.isValid)
        return out;
    const std::optional<QString> unit = indent.unit();
    std::optional<QString> first, second;
    if (firstReady) {
        first = JSONPrinter::print(document, prettyFirst ? unit : std::nullopt, sortMode, cancelled);
        if (!first)
            return {};
        firstReady(out.validation, *first);
        second = JSONPrinter::print(document, prettyFirst ? std::nullopt : unit, sortMode, cancelled);
    } else {
        // Nobody waits for one of them: the two are printed side by side from the one document.
        runParts(2, [&](qsizetype k) {
            const bool pretty = prettyFirst == (k == 0);
            (k == 0 ? first : second) = JSONPrinter::print(document, pretty ? unit : std::nullopt, sortMode, cancelled);
        });
    }
    if (!first || !second)
        return {};
    out.formatted = std::move(prettyFirst ? *first : *second);
    out.minified = std::move(prettyFirst ? *second : *first);
    return out;
}

} // namespace JSONFormatter
