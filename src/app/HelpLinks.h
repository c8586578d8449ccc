#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// The shell's fixed addresses, in one place, and the feedback mail link.
namespace HelpLinks {

inline const QString feedbackAddress = QStringLiteral("feedback@quorrix.example");
inline const QString privacyAddress = QStringLiteral("https://quorrix.example/privacy");
inline const QString donationAddress = QStringLiteral("https://quorrix.example/donate");
inline const QString donationServiceName = QStringLiteral("Quorrix Fund");
inline const QString socialHandle = QStringLiteral("@quorrix on Mastodon");

const QUrl& supportPage();
const QUrl& socialProfile();

struct BundleInfo {
    std::optional<QString> shortVersion;
    std::optional<QString> build;
};

// The running program's versions.
BundleInfo currentBundle();
// The running system's name and version, as the mail shows it.
QString currentSystem();

// mailto: link whose subject and body carry the program's and the system's versions.
std::optional<QUrl> feedbackMailLink(const BundleInfo& bundle, const QString& system);
std::optional<QUrl> feedbackMailLink();

// Hands a web or mail link to the desktop; the answer is not looked at.
void openLink(const QUrl& url);
void openAddress(const QString& address);

} // namespace HelpLinks
