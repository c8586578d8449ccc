#include "tools/jwt/JWTJSONValue.h"

#include "formats/JSONFormatter.h"
#include "formats/JSONParser.h"
#include "formats/JSONPrinter.h"
#include "formats/Utf8Decoder.h"

#include <QSet>

#include <charconv>
#include <limits>

namespace {

using Node = JSONDocument::Node;

} // namespace

std::optional<JWTJSONValue> JWTJSONValue::parse(const QString& text)
{
    auto document = std::make_shared<JSONDocument>();
    const JSONParser::Result result = JSONParser::parse(text, document.get());
    if (result.error || document->nodes.empty())
        return std::nullopt;
    return JWTJSONValue(std::move(document), 0);
}

std::optional<JWTJSONValue> JWTJSONValue::parseUTF8(const QByteArray& bytes)
{
    if (!Utf8Decoder::isWellFormed(bytes))
        return std::nullopt;
    auto document = std::make_shared<JSONDocument>();
    const JSONParser::Result result = JSONParser::parse(bytes, document.get());
    if (result.error || document->nodes.empty())
        return std::nullopt;
    return JWTJSONValue(std::move(document), 0);
}

JWTJSONValue::Kind JWTJSONValue::kind() const
{
    switch (m_document->nodes[size_t(m_index)].kind) {
    case Node::falseValue:
    case Node::trueValue: return Kind::boolean;
    case Node::number: return Kind::number;
    case Node::string: return Kind::string;
    case Node::array: return Kind::array;
    case Node::object: return Kind::object;
    default: return Kind::null;
    }
}

QString JWTJSONValue::keyAt(qsizetype index) const
{
    return m_document->stringValue(m_document->nodes[size_t(index)]);
}

std::optional<JWTJSONValue> JWTJSONValue::member(QStringView name) const
{
    if (!isObject())
        return std::nullopt;
    std::optional<JWTJSONValue> found;
    const qsizetype end = m_document->subtreeEnd(m_index);
    qsizetype i = m_index + 1;
    while (i < end) {
        const qsizetype valueIndex = i + 1;
        const Node& key = m_document->nodes[size_t(i)];
        // Unescaped keys compare in place; only escaped ones are decoded.
        const bool equal = !(key.flags & Node::escaped)
                               ? QAnyStringView::equal(
                                     QUtf8StringView(m_document->sourceBytes() + key.offset + 1, qsizetype(key.length) - 2), name)
                               : keyAt(i) == name;
        if (equal)
            found = JWTJSONValue(m_document, valueIndex);
        i = m_document->subtreeEnd(valueIndex);
    }
    return found;
}

std::optional<QString> JWTJSONValue::stringMember(QStringView name) const
{
    const std::optional<JWTJSONValue> value = member(name);
    if (!value || !value->isString())
        return std::nullopt;
    return value->string();
}

bool JWTJSONValue::hasDuplicateMember() const
{
    return isObject() && distinctMemberCount() != childCount();
}

qsizetype JWTJSONValue::distinctMemberCount() const
{
    if (!isObject())
        return 0;
    QSet<QString> seen;
    const qsizetype end = m_document->subtreeEnd(m_index);
    for (qsizetype i = m_index + 1; i < end; i = m_document->subtreeEnd(i + 1))
        seen.insert(keyAt(i));
    return seen.size();
}

qsizetype JWTJSONValue::childCount() const
{
    const Node& n = m_document->nodes[size_t(m_index)];
    return (n.kind == Node::array || n.kind == Node::object) ? qsizetype(n.length) : 0;
}

std::vector<JWTJSONValue> JWTJSONValue::elements() const
{
    std::vector<JWTJSONValue> out;
    if (!isArray())
        return out;
    out.reserve(size_t(childCount()));
    const qsizetype end = m_document->subtreeEnd(m_index);
    for (qsizetype i = m_index + 1; i < end; i = m_document->subtreeEnd(i))
        out.push_back(JWTJSONValue(m_document, i));
    return out;
}

QString JWTJSONValue::string() const
{
    if (!isString())
        return QString();
    return keyAt(m_index);
}

double JWTJSONValue::number() const
{
    const Node& n = m_document->nodes[size_t(m_index)];
    if (n.kind != Node::number)
        return 0;
    const char* text = m_document->sourceBytes() + n.offset;
    // from_chars reads a number whatever the process locale is.
    const QByteArray ascii = QByteArray::fromRawData(text, qsizetype(n.length));
    double value = 0;
    const auto [end, error] = std::from_chars(ascii.constData(), ascii.constData() + ascii.size(), value);
    Q_UNUSED(end);
    if (error == std::errc::result_out_of_range) {
        const bool negative = ascii.startsWith('-');
        const qsizetype e = std::max(ascii.indexOf('e'), ascii.indexOf('E'));
        const bool tiny = e >= 0 ? ascii.mid(e + 1).startsWith('-') : ascii.mid(negative ? 1 : 0).startsWith("0.");
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
        if (negative)
            value = -value;
    }
    return value;
}

QString JWTJSONValue::formatted() const
{
    if (m_index == 0)
        return QString::fromUtf8(JSONPrinter::print(*m_document, JSONFormatter::Indent::spaces(2).unit(),
                                                    JSONFormatter::SortMode::ascending)
                                     .value_or(QByteArray()));
    return QString();
}
