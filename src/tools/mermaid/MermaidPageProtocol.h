#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <optional>
#include <utility>
#include <variant>

// What the diagram page answers, read into the tool's terms, and what the page's web view may
// navigate to. No web engine here: the preview feeds these the page's raw answers.
namespace MermaidPageProtocol {

// The page's readiness or the result of one render.
struct EngineReady {
    bool ready = false;
    friend bool operator==(const EngineReady&, const EngineReady&) = default;
};
struct Rendered {
    Rendered() = default;
    Rendered(qint64 size, QStringList ignored = {}) : bytes(size), ignoredSettings(std::move(ignored)) {}
    qint64 bytes = 0;
    // Settings the source asked for that the page did not apply, by key.
    QStringList ignoredSettings;
    friend bool operator==(const Rendered&, const Rendered&) = default;
};
struct Failed {
    QString message;
    std::optional<qint64> line;
    friend bool operator==(const Failed&, const Failed&) = default;
};
using Outcome = std::variant<EngineReady, Rendered, Failed>;

inline const QString noResultMessage = QStringLiteral("The preview returned no result.");
inline const QString unknownErrorMessage = QStringLiteral("Unknown error.");
inline const QString pngPrefix = QStringLiteral("data:image/png;base64,");

// The boot answer: true only for the Boolean true.
bool bootReady(const QVariant& answer);

// A render's answer (`ok` false: the call failed and `answer` is its error text). Nothing for an
// answer the page marks as overtaken by a newer render.
std::optional<Outcome> renderOutcome(bool ok, const QVariant& answer);

// getSVG's answer: the text, when it is text.
std::optional<QString> svgText(bool ok, const QVariant& answer);
// getPNG's answer: the bytes of a PNG data URL in strict Base64 (no white space, no stray
// characters), else nothing.
std::optional<QByteArray> pngBytes(bool ok, const QVariant& answer);

// A "viewState" body: the zoom scale when it is a finite number.
std::optional<double> viewStateScale(const QVariant& body);

// Whether `url` shows the shell page at `shellURL`: same scheme, no host, no query, no
// fragment, the same cleaned path.
bool isShellPage(const QUrl& url, const QUrl& shellURL);

enum class Navigation { linkActivated, reload, other, formSubmitted, backForward, redirect, typed };

struct Decision {
    bool allow = false;
    bool openInBrowser = false;
    friend bool operator==(const Decision&, const Decision&) = default;
};

// Clicked http and https links go to the desktop's browser; the page may load itself in the main
// frame (first load, reload); everything else is cancelled.
Decision decide(const QUrl& url, Navigation navigation, bool mainFrame, const QUrl& shellURL);

} // namespace MermaidPageProtocol
