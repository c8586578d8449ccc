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

int hexValue(char16_t c) { return c <= u'9' ? c - u'0' : (c | 0x20) - u'a' + 10; }

// The parser has checked every escape already.
QString unescaped(const char16_t* p, const char16_t* end)
{
    QString out;
    out.reserve(end - p);
    while (p < end) {
        if (*p != u'\\') {
            out.append(QChar(*p++));
            continue;
        }
        const char16_t e = p[1];
        p += 2;
        switch (e) {
        case u'b': out.append(QChar(u'\b')); break;
        case u'f': out.append(QChar(u'\f')); break;
        case u'n': out.append(QChar(u'\n')); break;
        case u'r': out.append(QChar(u'\r')); break;
        case u't': out.append(QChar(u'\t')); break;
        case u'u':
            out.append(QChar(char16_t((hexValue(p[0]) << 12) | (hexValue(p[1]) << 8) | (hexValue(p[2]) << 4)
                                      | hexValue(p[3]))));
            p += 4;
            break;
        default: out.append(QChar(e)); break; // " \ /
        }
    }
    return out;
}

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
    const std::optional<QString> text = Utf8Decoder::decode(bytes);
    if (!text)
        return std::nullopt;
    return parse(*text);
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
    const Node& n = m_document->nodes[size_t(index)];
    const char16_t* body = m_document->sourceUnits() + n.offset + 1;
    const char16_t* end = body + (qsizetype(n.length) - 2);
    if (!(n.flags & Node::escaped))
        return QString(reinterpret_cast<const QChar*>(body), end - body);
    return unescaped(body, end);
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
        bool equal;
        if (!(key.flags & Node::escaped))
            equal = QStringView(m_document->sourceUnits() + key.offset + 1, qsizetype(key.length) - 2) == name;
        else
            equal = keyAt(i) == name;
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
    const char16_t* text = (n.flags & Node::inArena) ? m_document->arena.data() + n.offset
                                                      : m_document->sourceUnits() + n.offset;
    // A number literal is ASCII; from_chars reads it whatever the process locale is.
    const QByteArray ascii = QStringView(text, qsizetype(n.length)).toLatin1();
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
        return JSONPrinter::print(*m_document, JSONFormatter::Indent::spaces(2).unit(),
                                  JSONFormatter::SortMode::ascending)
            .value_or(QString());
    return QString();
}
