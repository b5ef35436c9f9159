#include "RedirectChain.h"

RedirectChain::RedirectChain(const QUrl& start)
{
    m_visited.insert(key(start));
}

bool RedirectChain::isRedirectStatus(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool RedirectChain::is3xx(int status)
{
    return status >= 300 && status <= 399;
}

// The same resource, however its URL is spelled (the fragment never reaches
// the server).
QString RedirectChain::key(const QUrl& url)
{
    return url.adjusted(QUrl::RemoveFragment | QUrl::NormalizePathSegments).toString(QUrl::FullyEncoded);
}

bool RedirectChain::refuse(int code, const QString& text)
{
    m_errorCode = code;
    m_errorText = text;
    return false;
}

bool RedirectChain::follow(const QUrl& from, int status, const QUrl& location)
{
    ++m_hops;
    const QString answer = QStringLiteral("%1 answered %2").arg(from.toDisplayString()).arg(status);
    if (!isRedirectStatus(status) || location.isEmpty())
        return refuse(NotAPackage, QStringLiteral("Not a package: %1 without a redirect to follow").arg(answer));
    const QUrl target = from.resolved(location);
    if (!target.isValid() || target.scheme() != QLatin1String("https") || target.host().isEmpty())
        return refuse(InsecureRedirect, QStringLiteral("Insecure redirect: %1 with %2, which is not https")
                                            .arg(answer, target.isValid() ? target.toDisplayString()
                                                                          : location.toString()));
    if (m_visited.contains(key(target)))
        return refuse(TooManyRedirects, QStringLiteral("Redirect loop: %1 with %2, which was visited before")
                                            .arg(answer, target.toDisplayString()));
    if (m_hops > MaxHops)
        return refuse(TooManyRedirects, QStringLiteral("Too many redirects: %1 with redirect %2 to %3; at most %4 "
                                                       "are followed")
                                            .arg(answer)
                                            .arg(m_hops)
                                            .arg(target.toDisplayString())
                                            .arg(MaxHops));
    m_visited.insert(key(target));
    m_target = target;
    return true;
}
