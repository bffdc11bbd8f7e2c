#include "Settings.h"

#include <QDir>
#include <QtGlobal>

namespace selavia::revocation {

QString Settings::defaultCacheFolder()
{
    const QString own = qEnvironmentVariable("SELAVIA_CACHE_DIR");
    if (!own.isEmpty())
        return own;
    const QString xdg = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!xdg.isEmpty())
        return QDir(xdg).filePath(QStringLiteral("selavia-reader"));
    const QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty())
        return {};
    return QDir(home).filePath(QStringLiteral(".cache/selavia-reader"));
}

QString Settings::defaultCacheKeyFile()
{
    const QString own = qEnvironmentVariable("SELAVIA_CACHE_KEY");
    if (!own.isEmpty())
        return own;
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (!xdg.isEmpty())
        return QDir(xdg).filePath(QStringLiteral("selavia-reader/cache-key"));
    const QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty())
        return {};
    return QDir(home).filePath(QStringLiteral(".local/share/selavia-reader/cache-key"));
}

Settings Settings::fromEnvironment()
{
    Settings settings;
    settings.offline = qEnvironmentVariable("SELAVIA_OFFLINE") == QLatin1String("1");
    settings.cacheFolder = defaultCacheFolder();
    settings.cacheKeyFile = defaultCacheKeyFile();
    if (const QByteArray base = qgetenv("SELAVIA_POLICY_BASE_URL"); !base.isEmpty())
        settings.policyBaseUrl = base;
    return settings;
}

} // namespace selavia::revocation
