#pragma once

#include <QString>

#include <vector>

// A parsed JSON text as a flat tape in document order: every value is one node, a container is
// followed by its children (for objects, key node then value node) and knows where its subtree
// ends. Strings and numbers refer back into the source text, so the tree costs 16 bytes a value.
struct JSONDocument {
    struct Node {
        enum Kind : quint8 { null, falseValue, trueValue, number, string, array, object };
        enum Flag : quint8 { escaped = 1, inArena = 2 };
        quint8 kind = null;
        quint8 flags = 0;
        quint16 spare = 0;
        // string: source offset of the opening quote; number: offset of its printed text (in the
        // source, or in `arena` when flagged inArena); containers: unused
        quint32 offset = 0;
        // string: source length with quotes; number: printed length; containers: child count
        quint32 length = 0;
        // string: printed length with quotes; containers: index just past the subtree
        quint32 extra = 0;
    };

    QString source;
    std::vector<Node> nodes;
    std::vector<char16_t> arena; // number texts that differ from their source spelling

    qsizetype subtreeEnd(qsizetype index) const
    {
        const Node& n = nodes[size_t(index)];
        return (n.kind == Node::array || n.kind == Node::object) ? qsizetype(n.extra) : index + 1;
    }
    const char16_t* sourceUnits() const { return reinterpret_cast<const char16_t*>(source.constData()); }
};
