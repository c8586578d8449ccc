#pragma once

#include "formats/JSONDocument.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

// One value of a JSON text read by the JSON tool's parser, for looking at a token's header,
// payload and key members. The parsed document is shared, so values are cheap to copy and may
// outlive the call that parsed them. Objects answer a name with its last member, as the
// platform readers do; whether a name occurs twice can be asked.
class JWTJSONValue {
public:
    enum class Kind { null, boolean, number, string, array, object };

    // The top-level value of `text`, or nothing when the text is not JSON (nesting capped).
    static std::optional<JWTJSONValue> parse(const QString& text);
    // The same for bytes, which must be UTF-8 (nothing replaced).
    static std::optional<JWTJSONValue> parseUTF8(const QByteArray& bytes);

    Kind kind() const;
    bool isObject() const { return kind() == Kind::object; }
    bool isArray() const { return kind() == Kind::array; }
    bool isString() const { return kind() == Kind::string; }
    bool isNumber() const { return kind() == Kind::number; }

    // Object: the value of the last member named `name`.
    std::optional<JWTJSONValue> member(QStringView name) const;
    bool hasMember(QStringView name) const { return member(name).has_value(); }
    // Object: the member's value when it is a string.
    std::optional<QString> stringMember(QStringView name) const;
    // Object: whether two members share a name (compared after unescaping).
    bool hasDuplicateMember() const;
    // Object: how many names its members have, a repeated name counted once.
    qsizetype distinctMemberCount() const;
    // Object: members; array: elements.
    qsizetype childCount() const;
    // Array: the elements in order.
    std::vector<JWTJSONValue> elements() const;

    // String: the unescaped text.
    QString string() const;
    // Number: the value as a double (may be infinite when the literal is out of range).
    double number() const;

    // Pretty text with two blanks per level and keys in ascending order.
    QString formatted() const;

    const JSONDocument& document() const { return *m_document; }

private:
    JWTJSONValue(std::shared_ptr<const JSONDocument> document, qsizetype index)
        : m_document(std::move(document)), m_index(index)
    {
    }
    QString keyAt(qsizetype index) const;

    std::shared_ptr<const JSONDocument> m_document;
    qsizetype m_index = 0;
};
