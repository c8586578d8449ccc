#pragma once

#include "tools/codec/Inflate.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <atomic>
#include <optional>

// The pure-logic core of the Encode / Decode tool: stateless, thread-safe functions.
class Codec {
public:
    Codec() = delete;

    enum class Scheme { base64, url, html, hex };
    enum class Direction { encode, decode };
    static constexpr Scheme allSchemes[] = {Scheme::base64, Scheme::url, Scheme::html, Scheme::hex};
    static constexpr Direction allDirections[] = {Direction::encode, Direction::decode};

    // "base64", "url", "html", "hex"; "encode", "decode".
    static QString rawValue(Scheme scheme);
    static QString rawValue(Direction direction);
    // "Base64", "URL", "HTML", "Hex"; "Encode", "Decode".
    static QString title(Scheme scheme);
    static QString title(Direction direction);
    // The schemes whose decoded bytes may be packed data.
    static bool supportsUnpacking(Scheme scheme) { return scheme == Scheme::base64 || scheme == Scheme::hex; }

    struct Options {
        bool urlSafe = false;      // Base64 encode: "-" and "_", no padding
        bool plusForSpace = false; // URL both ways: "+" is a space
        bool inflate = false;      // Base64 and hex decode: unpack gzip or zlib
        bool formatJSON = false;   // every decode: pretty-print a JSON object or array
        friend bool operator==(const Options&, const Options&) = default;
    };

    enum class Content { text, json, binary };

    // The first bytes of a result, for a dump, and the full length.
    struct HexDump {
        QByteArray bytes;
        qint64 count = 0;
        HexDump() = default;
        HexDump(QByteArrayView source, qsizetype limit);
        friend bool operator==(const HexDump&, const HexDump&) = default;
    };

    struct Output {
        // The result's text as UTF-8: the encoded or decoded text, the dump of 16 bytes a row, or
        // the formatted JSON.
        QByteArray text;
        bool isEmpty() const { return text.isEmpty(); }
        Content content = Content::text;
        std::optional<Inflate::Format> compression;
        qint64 byteCount = 0;
        std::optional<HexDump> dump;
        friend bool operator==(const Output&, const Output&) = default;
    };

    struct Failure {
        enum class Kind { damaged, tooLarge, notBase64, notHex, oddHexLength, notPercentEncoded };
        Kind kind = Kind::notBase64;
        Inflate::Format format = Inflate::Format::gzip; // meaningful for damaged and tooLarge only

        static Failure damaged(Inflate::Format f) { return {Kind::damaged, f}; }
        static Failure tooLarge(Inflate::Format f) { return {Kind::tooLarge, f}; }
        static Failure of(Kind kind) { return {kind, Inflate::Format::gzip}; }

        // Whether the input itself broke the scheme's rules (rather than packed data inside it).
        bool isInputFault() const { return kind != Kind::damaged && kind != Kind::tooLarge; }
        QString message() const;
        friend bool operator==(const Failure& a, const Failure& b)
        {
            return a.kind == b.kind && (a.isInputFault() || a.format == b.format);
        }
    };

    // Exactly one of the two is present.
    struct Result {
        std::optional<Output> output;
        std::optional<Failure> failure;
        bool ok() const { return output.has_value(); }
        static Result success(Output o) { return Result{std::move(o), std::nullopt}; }
        static Result failed(Failure f) { return Result{std::nullopt, f}; }
    };

    static constexpr qsizetype unpackLimit = 33554432;
    static constexpr qsizetype dumpLimit = 65536;

    // One input, well-formed UTF-8 (the text the tool holds: see utf8Of), through one scheme and
    // direction; an input handed over may become the result's storage. Encodes never fail. A
    // `cancelled` flag that turns true stops the work early; the result is then meaningless.
    static Result transform(QByteArray input, Scheme scheme, Direction direction, Options options,
                            const std::atomic_bool* cancelled = nullptr);

    // Decoded bytes: optional unpacking, UTF-8 text, optional JSON formatting, else a hex dump.
    static Result decodedOutput(const QByteArray& bytes, bool unpack, bool formatJSON,
                                const std::atomic_bool* cancelled = nullptr);

    // The UTF-8 of a text as the tool reads it: a lone surrogate as U+FFFD.
    static QByteArray utf8Of(QStringView text);

    // The Base64 payload of a "data:...;base64," URL, or the whole text (UTF-8).
    static QByteArrayView stripDataURL(QByteArrayView text);
    // Whether the first non-blank character of the UTF-8 text is "{" or "[".
    static bool looksLikeJSONContainer(QByteArrayView text);

    // `hexdump -C` rows of n bytes, then a line counting the bytes left out.
    static QString hexDumpText(int bytesPerRow, const HexDump& dump);
    // 16 from 78 columns, 8 from 45, else 4.
    static int bytesPerRow(int columns);
};
