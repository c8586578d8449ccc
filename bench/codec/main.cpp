// Encode / Decode from a file's bytes to a file's bytes, as a user's file goes through the tool
// and its result is saved,
// on 1, 10 and (Base64) 50 MB, beside the usual command-line tools on
// the same files: coreutils base64 / basenc, xxd, Python's html.unescape and unquote_to_bytes,
// gzip and pigz. Ours runs pinned to one CPU and on all of them; every run is a child process
// of its own.

#include "kit/TextFileLoader.h"
#include "formats/Utf8Decoder.h"
#include "tools/codec/Codec.h"
#include "tools/codec/Inflate.h"
#include "support/Corpus.h"
#include "support/Machine.h"
#include "support/Series.h"
#include "support/Targets.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include "support/Deflated.h"

#include <cstdio>
#include <map>
#include <vector>

namespace {

using namespace bench;

// Text as people paste it: words, punctuation, markup, a few accented letters and emoji.
QByteArray generateText(qint64 target, quint32 seed)
{
    QRandomGenerator rng(seed);
    const char* words[] = {"alpha", "beta", "<b>", "Tom & Jerry", "caf\xC3\xA9", "\xE2\x82\xAC" "12", "a+b=c",
                           "\"quoted\"", "it's", "path/to/file", "100%", "\xF0\x9F\x98\x80", "line\n", "tab\t"};
    QByteArray out;
    out.reserve(target + 64);
    while (out.size() < target) {
        out += words[rng.bounded(int(std::size(words)))];
        out += ' ';
    }
    out.truncate(target);
    // Never end inside a UTF-8 sequence.
    while (!out.isEmpty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80)
        out.chop(1);
    if (!out.isEmpty() && static_cast<unsigned char>(out.back()) >= 0xC0)
        out.chop(1);
    return out;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The start of `text` up to a line end at or before `size`: never inside a UTF-8 sequence.
QByteArray linesUpTo(const QByteArray& text, qint64 size)
{
    const qsizetype end = text.lastIndexOf('\n', size - 1);
    return end > 0 ? text.left(end + 1) : text.left(size);
}

// Written from a child: this process stays small, so that the programs it starts do not count
// its pages as theirs (a new program's peak starts from its parent's share at the fork).
void writeInputs(const QDir& dir, int mb)
{
    const qint64 target = qint64(mb) * 1000000;
    const QByteArray text = generateText(target, 7 + mb);
    writeFile(dir.filePath(QStringLiteral("text-%1").arg(mb)), text);
    // Decode inputs of about the size named: their decoded text is shorter.
    writeFile(dir.filePath(QStringLiteral("b64-%1").arg(mb)), linesUpTo(text, target * 3 / 4).toBase64());
    writeFile(dir.filePath(QStringLiteral("b64url-%1").arg(mb)), linesUpTo(text, target * 3 / 4).toBase64(QByteArray::Base64UrlEncoding));
    writeFile(dir.filePath(QStringLiteral("hex-%1").arg(mb)), linesUpTo(text, target / 2).toHex());
    writeFile(dir.filePath(QStringLiteral("html-%1").arg(mb)), QString::fromUtf8(linesUpTo(text, target * 2 / 3)).toHtmlEscaped().toUtf8()
                                                                 .replace("\xE2\x82\xAC", "&euro;").replace("\xC3\xA9", "&#233;"));
    writeFile(dir.filePath(QStringLiteral("url-%1").arg(mb)), linesUpTo(text, target / 2).toPercentEncoding(" "));
    const Input book = repeatedTo(QStringLiteral("markdown/rust-book.md"), target);
    if (!book.isEmpty()) {
        writeFile(dir.filePath(QStringLiteral("book-%1").arg(mb)), book.bytes);
        writeFile(dir.filePath(QStringLiteral("bookb64-%1").arg(mb)), linesUpTo(book.bytes, target * 3 / 4).toBase64());
        writeFile(dir.filePath(QStringLiteral("bookname-%1").arg(mb)), book.name.toUtf8());
    }
}

void writeUnpackInputs(const QDir& dir)
{
    const QByteArray packed = deflated(generateText(32000000, 99), 31);
    writeFile(dir.filePath(QStringLiteral("payload.gz")), packed);
    writeFile(dir.filePath(QStringLiteral("bomb.gz")), deflatedZeros(qint64(1) << 30, 31));
}

enum class Op { b64enc, b64urlenc, b64dec, b64urldec, hexenc, hexdec, htmldec, urldec, unpack, bomb };

// Ours, as the tool does it: the file read as the UTF-8 text the tool holds (its bytes when
// well-formed, else repaired as opening a file repairs it, a leading byte-order mark dropped as
// opening does), the tool's transform, and its result, UTF-8 already, written.
qint64 oursFileToFile(Op op, const QString& in, const QString& out)
{
    QByteArray bytes = readFile(in);
    if (op == Op::unpack || op == Op::bomb) {
        const auto r = Inflate::unpackGzip(bytes, Codec::unpackLimit);
        if (op == Op::bomb)
            return r.failure == Inflate::Failure::tooLarge ? 0 : -1;
        return r.ok() && writeFile(out, r.bytes) ? r.bytes.size() : -1;
    }
    using S = Codec::Scheme;
    using D = Codec::Direction;
    struct Case {
        S scheme;
        D direction;
        Codec::Options options;
    };
    static const Case cases[] = {
        {S::base64, D::encode, {}}, {S::base64, D::encode, {true, false, false, false}}, {S::base64, D::decode, {}},
        {S::base64, D::decode, {}}, {S::hex, D::encode, {}},  {S::hex, D::decode, {}},
        {S::html, D::decode, {}},   {S::url, D::decode, {}},
    };
    const Case& c = cases[int(op)];
    QByteArray text = Utf8Decoder::isWellFormed(bytes) ? std::move(bytes) : Codec::utf8Of(TextFileLoader::decodeUTF8Repairing(bytes));
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    // Handed over, as the tool hands over the UTF-8 it made of its editor's text.
    const auto r = Codec::transform(std::move(text), c.scheme, c.direction, c.options);
    if (!r.ok())
        return -1;
    const QByteArray& result = r.output->text;
    const bool written = writeFile(out, result);
    // The tool holds its result while it shows it: the child keeps it until it exits, and
    // letting go of it is no part of the run.
    static QByteArray kept;
    kept = result;
    return written ? result.size() : -1;
}

const char* const kPythonHtml =
    "import sys, html\n"
    "open(sys.argv[2], 'w', encoding='utf-8').write(html.unescape(open(sys.argv[1], encoding='utf-8').read()))\n";
const char* const kPythonUrl =
    "import sys, urllib.parse\n"
    "t = open(sys.argv[1], encoding='utf-8').read()\n"
    "open(sys.argv[2], 'wb').write(urllib.parse.unquote_to_bytes(t).decode('utf-8').encode('utf-8'))\n";

struct Row {
    Op op;
    QString label;
    QString stem;      // input file stem
    QStringList peer;  // command; {in} and {out} replaced; output to {out} when no {out} argument
    QString peerName;
};

QString times(double v) { return v < 0 ? QStringLiteral("n/a") : QStringLiteral("%1x").arg(v, 0, 'f', 2); }

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    printMachine("bench-codec");
    QTemporaryDir tmp;
    const QString keep = qEnvironmentVariable("QUORRIX_BENCH_DIR");
    const QDir dir(keep.isEmpty() ? tmp.path() : keep);
    const int rounds = roundsWanted();
    const Sample floor = runProcess(Cores::one, {"true"});
    std::printf("From a file's bytes to a file's bytes, wall time of the whole run including file I/O.\n"
                "ours = a child that reads the file and writes the result: the file's bytes as the UTF-8 text the tool\n"
                "  holds (checked, repaired as opening a file repairs it), Codec::transform (or Inflate::unpackGzip), the\n"
                "  result (UTF-8 already) written. Peak = what it held above its\n"
                "  size at the start. Command-line peers = the whole process (start-up included), output to a file;\n"
                "  peak = its max RSS, which here starts at %.1f MB (an empty program's, its share of this process at\n"
                "  the fork). Peers are single-threaded and run on one core; pigz on all.\n\n",
                floor.peakMB);

    std::vector<Row> rows = {
        {Op::b64enc, "Base64 encode", "text", {"base64", "-w0", "{in}"}, "base64 -w0"},
        {Op::b64dec, "Base64 decode", "b64", {"base64", "-d", "{in}"}, "base64 -d"},
        {Op::b64enc, "Base64 encode", "book", {"base64", "-w0", "{in}"}, "base64 -w0"},
        {Op::b64dec, "Base64 decode", "bookb64", {"base64", "-d", "{in}"}, "base64 -d"},
        {Op::b64urlenc, "Base64url encode", "text", {"basenc", "--base64url", "-w0", "{in}"}, "basenc --base64url"},
        {Op::b64urldec, "Base64url decode", "b64url", {"basenc", "--base64url", "-d", "{in}"}, "basenc --base64url -d"},
        {Op::hexenc, "hex encode", "text", {"xxd", "-p", "{in}"}, "xxd -p"},
        {Op::hexdec, "hex decode", "hex", {"xxd", "-r", "-p", "{in}"}, "xxd -r -p"},
        {Op::htmldec, "HTML entities decode", "html", {"python3", "-c", kPythonHtml, "{in}", "{out}"}, "python3 html.unescape"},
        {Op::urldec, "URL decode", "url", {"python3", "-c", kPythonUrl, "{in}", "{out}"}, "python3 unquote_to_bytes"},
    };
    // QUORRIX_BENCH_CASES=b64,hex runs only the rows whose input stems begin so.
    const QStringList only = qEnvironmentVariable("QUORRIX_BENCH_CASES").split(u',', Qt::SkipEmptyParts);
    auto wanted = [&](const QString& stem) {
        return only.isEmpty() || std::any_of(only.begin(), only.end(), [&](const QString& o) { return stem.startsWith(o); });
    };

    Targets targets;
    const QString out = dir.filePath(QStringLiteral("out"));
    // Ours on one core by row and size, for the growth from 1 to 50 MB.
    std::map<std::pair<int, int>, std::pair<Series, qint64>> oursByRow;
    auto compare = [&](const Row& row, const QString& in, const QString& name, qint64 inputBytes) {
        QStringList peer = row.peer;
        const bool namesOut = peer.contains(QStringLiteral("{out}"));
        peer.replaceInStrings(QStringLiteral("{in}"), in);
        peer.replaceInStrings(QStringLiteral("{out}"), out);
        const Op op = row.op;
        const Cores peerCores = row.peerName.startsWith(u"pigz") ? Cores::all : Cores::one;
        const std::vector<Side> sides{
            {"ours, 1 core", [&, op] { return runForked(Cores::one, [&] { return oursFileToFile(op, in, out); }); }},
            {"ours, all cores", [&, op] { return runForked(Cores::all, [&] { return oursFileToFile(op, in, out); }); }},
            {row.peerName, [&, peer, namesOut, peerCores] { return runProcess(peerCores, peer, namesOut ? QString() : out); }}};
        const std::vector<Series> s = interleave(sides, rounds);
        printCase(name, inputBytes, s);
        std::printf("  ours / %s: 1 core %s, all cores %s (above 1: ours faster)\n\n", qPrintable(row.peerName),
                    qPrintable(times(speedup(s[0], s[2]))), qPrintable(times(speedup(s[1], s[2]))));
        return s;
    };

    for (int mb : {1, 10, 50}) {
        runForked(Cores::all, [&] { return writeInputs(dir, mb), qint64(0); });
        // "rust-book.md x19", its size named with each row.
        const QString bookName =
            QString::fromUtf8(readFile(dir.filePath(QStringLiteral("bookname-%1").arg(mb)))).section(QStringLiteral(" ("), 0, 0);
        for (const Row& row : rows) {
            // Only Base64 has targets at 50 MB; the rest stop at 10 MB to keep the run short.
            if (!wanted(row.stem) || (mb == 50 && row.op != Op::b64enc && row.op != Op::b64dec))
                continue;
            const QString in = dir.filePath(QStringLiteral("%1-%2").arg(row.stem).arg(mb));
            if (!QFile::exists(in))
                continue;
            const qint64 size = QFileInfo(in).size();
            QString what = QStringLiteral("generated text");
            if (row.stem == u"book")
                what = bookName;
            else if (row.stem == u"bookb64")
                what = QStringLiteral("Base64 of the lines in the first %1 of %2").arg(megabytes(qint64(mb) * 750000), bookName);
            else if (row.stem != u"text")
                what = QStringLiteral("generated text as %1").arg(row.stem);
            const std::vector<Series> s = compare(row, in, QStringLiteral("%1, %2 (%3)").arg(row.label, what, megabytes(size)), size);
            oursByRow[{int(&row - rows.data()), mb}] = {s[0], size};
            if (mb == 50 && (row.op == Op::b64enc || row.op == Op::b64dec)) {
                const double limit = 1.5 * s[2].medianMs();
                const double inputMB = size / 1e6;
                for (int where : {0, 1}) {
                    targets.check(QStringLiteral("%1 of %2 within 1.5x coreutils' process time, %3").arg(row.label, megabytes(size),
                                                                                                          where ? "all cores" : "1 core"),
                                  s[size_t(where)].ok() && s[size_t(where)].medianMs() <= limit,
                                  QStringLiteral("%1 ms against %2 ms (%3, %4)").arg(s[size_t(where)].medianMs(), 0, 'f', 0)
                                      .arg(s[2].medianMs(), 0, 'f', 0).arg(row.stem, row.peerName));
                }
                targets.check(QStringLiteral("%1 of %2: peak memory at most 3x the input").arg(row.label, megabytes(size)),
                              s[0].ok() && s[0].peakMB() <= 3 * inputMB,
                              QStringLiteral("%1 MB on 1 core, %2 MB on all, input %3 MB (%4)").arg(s[0].peakMB(), 0, 'f', 0)
                                  .arg(s[1].peakMB(), 0, 'f', 0).arg(inputMB, 0, 'f', 0).arg(row.stem));
            }
        }
    }

    std::printf("Growth on 1 core, time per MB (1 = linear): 10 MB over 1 MB, 50 MB over 10 MB\n");
    for (size_t r = 0; r < rows.size(); ++r) {
        auto at = [&](int mb) { return oursByRow.find({int(r), mb}); };
        if (at(1) == oursByRow.end() || at(10) == oursByRow.end())
            continue;
        const QString large = at(50) == oursByRow.end()
            ? QStringLiteral("-")
            : QString::number(growth(at(10)->second.first, at(10)->second.second, at(50)->second.first, at(50)->second.second), 'f', 2);
        std::printf("  %-18s %-8s %6.2f %6s\n", qPrintable(rows[r].label), qPrintable(rows[r].stem),
                    growth(at(1)->second.first, at(1)->second.second, at(10)->second.first, at(10)->second.second),
                    qPrintable(large));
    }
    std::printf("\n");

    if (wanted(QStringLiteral("unpack"))) {
        runForked(Cores::all, [&] { return writeUnpackInputs(dir), qint64(0); });
        const QString gz = dir.filePath(QStringLiteral("payload.gz"));
        for (const Row& row : {Row{Op::unpack, "gzip unpack", "payload.gz", {"gzip", "-dc", "{in}"}, "gzip -dc"},
                               Row{Op::unpack, "gzip unpack", "payload.gz", {"pigz", "-dc", "{in}"}, "pigz -dc (all cores)"}})
            compare(row, gz, QStringLiteral("%1, 32,000,000 bytes of generated text packed in %2").arg(row.label, megabytes(QFileInfo(gz).size())),
                    QFileInfo(gz).size());
        const QString bomb = dir.filePath(QStringLiteral("bomb.gz"));
        const std::vector<Series> s = interleave(
            {{"ours, 1 core", [&] { return runForked(Cores::one, [&] { return oursFileToFile(Op::bomb, bomb, out); }); }}}, rounds);
        printCase(QStringLiteral("1 GB of zeros packed in %1, stopped at the %2 MB cap").arg(megabytes(QFileInfo(bomb).size())).arg(Codec::unpackLimit >> 20),
                  QFileInfo(bomb).size(), s);
    }
    printLoadAtEnd();
    return targets.finish();
}
