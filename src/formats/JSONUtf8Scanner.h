#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// Valid JSON read straight from UTF-8 bytes, without decoding it or building a document: checking
// writes no memory at all, minifying writes only the output. It decides only about valid JSON in
// well-formed UTF-8 without a byte-order mark; for anything else (a fault, ill-formed bytes, a
// blank text, nesting too deep) it answers nothing, and the caller reads the decoded text with
// JSONParser, which finds and words the fault. What it answers is what JSONParser and
// JSONPrinter make of the decoded text, byte for byte.
class JSONUtf8Scanner {
public:
    JSONUtf8Scanner() = delete;

    // Members or elements of a top-level container, -1 for a scalar; nothing when not valid.
    static std::optional<qsizetype> validate(QByteArrayView json);

    // The minified text (keys in source order) as UTF-8; nothing when not valid.
    static std::optional<QByteArray> minify(QByteArrayView json);
};
