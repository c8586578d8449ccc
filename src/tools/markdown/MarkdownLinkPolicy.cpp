#include "tools/markdown/MarkdownLinkPolicy.h"

#include "tools/markdown/MarkdownLocalImages.h"

namespace MarkdownLinkPolicy {

QUrl blankPage()
{
    QUrl url;
    url.setScheme(MarkdownLocalImages::scheme);
    url.setHost(MarkdownLocalImages::host);
    url.setPath(QStringLiteral("/"));
    return url;
}

QUrl pageAddress(const QUrl& folder)
{
    const QUrl base = MarkdownLocalImages::baseURL(folder);
    return base.isEmpty() ? blankPage() : base;
}

Decision decide(const QUrl& url, Navigation navigation, bool mainFrame, const QUrl& pageAddress)
{
    if (!url.isValid() || url.scheme().isEmpty())
        return {};
    const QString scheme = url.scheme().toLower();
    switch (navigation) {
    case Navigation::programLoad: {
        const bool allowed = mainFrame && pageSchemes.contains(scheme)
            && url.toString(QUrl::FullyEncoded) == pageAddress.toString(QUrl::FullyEncoded);
        return {allowed, false};
    }
    case Navigation::linkActivated:
        return {false, browserSchemes.contains(scheme)};
    case Navigation::other:
        return {};
    }
    return {};
}

QList<int> keptMenuItems(const QList<MenuItem>& items)
{
    QList<int> kept;
    for (int i = 0; i < items.size(); ++i) {
        const MenuItem& item = items[i];
        if (!item.identifier || !droppedMenuIdentifiers.contains(*item.identifier))
            kept.append(i);
    }
    qsizetype first = 0;
    while (first < kept.size() && items[kept[first]].isSeparator)
        ++first;
    qsizetype last = kept.size();
    while (last > first && items[kept[last - 1]].isSeparator)
        --last;
    return kept.mid(first, last - first);
}

} // namespace MarkdownLinkPolicy
