#include "app/HelpLinks.h"

#include <QDesktopServices>
#include <QSysInfo>
#include <QUrlQuery>

namespace HelpLinks {

const QUrl& supportPage()
{
    static const QUrl url(QStringLiteral("https://quorrix.example/support"));
    return url;
}

const QUrl& socialProfile()
{
    static const QUrl url(QStringLiteral("https://social.quorrix.example/@quorrix"));
    return url;
}

BundleInfo currentBundle()
{
    return {QStringLiteral(QUORRIX_VERSION), QStringLiteral(QUORRIX_BUILD)};
}

QString currentSystem()
{
    return QSysInfo::prettyProductName();
}

std::optional<QUrl> feedbackMailLink(const BundleInfo& bundle, const QString& system)
{
    const QString version = bundle.shortVersion.value_or(QStringLiteral("unknown"));
    const QString build = bundle.build.value_or(QStringLiteral("unknown"));
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    url.setPath(feedbackAddress);
    QUrlQuery query;
    const auto encode = [](const QString& text) { return QString::fromLatin1(QUrl::toPercentEncoding(text)); };
    query.addQueryItem(QStringLiteral("subject"), encode(QStringLiteral("Quorrix %1 feedback").arg(version)));
    query.addQueryItem(QStringLiteral("body"),
                       encode(QStringLiteral("\n\n\nQuorrix %1 (%2)\n%3").arg(version, build, system)));
    url.setQuery(query);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

std::optional<QUrl> feedbackMailLink()
{
    return feedbackMailLink(currentBundle(), currentSystem());
}

void openLink(const QUrl& url)
{
    if (url.isValid())
        QDesktopServices::openUrl(url);
}

void openAddress(const QString& address)
{
    const QUrl url(address, QUrl::StrictMode);
    if (url.isValid() && !url.scheme().isEmpty())
        openLink(url);
}

} // namespace HelpLinks
