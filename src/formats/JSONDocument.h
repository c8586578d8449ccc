#pragma once


#include <QByteArray>
#include <QString>

#include <vector>

// A parsed JSON text as a flat tape in document order: every value is one node, a container is
// followed by its children (for objects, key node then value node) and knows where its subtree
// ends. Strings and numbers refer back into the source text (UTF-8), so the tree costs 16 bytes a
// value.
struct JSONDocument {
    // Plain data; every field is set where a node is made.
    struct Node {
        // jump: no value; the tape goes on at `extra` (ends every tape)
        enum Kind : quint8 { null, falseValue, trueValue, number, string, array, object, jump };
        // escaped: a string with a backslash; fractional: a number with a fraction or an exponent
        enum Flag : quint8 { escaped = 1, fractional = 2 };
        quint8 kind;
        quint8 flags;
        quint16 spare;
        // string: source offset of the opening quote; number: source offset; containers: unused
        quint32 offset;
        // string: source length with quotes; number: source length; containers: child count
        quint32 length;
        // containers: index just past the subtree; jump: where the tape goes on; a fractional
        // number: where its point (or its exponent, or end) stands, and its exponent (or end) << 16
        quint32 extra;
    };
    using Nodes = std::vector<Node>;

    JSONDocument() = default;
    // The tape points into the document's own storage.
    JSONDocument(const JSONDocument&) = delete;
    JSONDocument& operator=(const JSONDocument&) = delete;

    QByteArray source; // UTF-8
    // The tape, read whole (a text checked in parts gets none).
    Nodes nodes;
    const Node* tape = nullptr;
    qsizetype tapeEnd = 0; // index of the final jump node; 0 for no tape

    const Node& node(qsizetype index) const { return tape[index]; }
    qsizetype subtreeEnd(qsizetype index) const
    {
        const Node& n = tape[index];
        return (n.kind == Node::array || n.kind == Node::object) ? settled(n.extra) : settled(index + 1);
    }
    // An index that stands on a jump goes on to where the jump leads.
    qsizetype settled(qsizetype index) const
    {
        const Node& n = tape[index];
        return n.kind == Node::jump && qsizetype(n.extra) != index ? qsizetype(n.extra) : index;
    }
    const char* sourceBytes() const { return source.constData(); }
    // The value of a string node (a key's text), its escapes decoded.
    QString stringValue(const Node& n) const;
};
