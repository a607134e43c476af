#include "SafariTab.h"

QString SafariTab::keyFor(qint64 windowID, QStringView url)
{
    QString key = QString::number(windowID);
    key.reserve(key.size() + 1 + url.size());
    key += u'|';
    key += url;
    return key;
}

size_t qHash(const SafariTab &tab, size_t seed) noexcept
{
    return qHashMulti(seed, tab.windowID(), tab.url(), tab.title());
}
