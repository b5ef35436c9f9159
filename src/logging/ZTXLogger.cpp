#include "ZTXLogger.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSettings>

#include <log4cpp/Priority.hh>

#include "BufferedRollingFileAppender.h"
#include "LineLayout.h"
#include "LogPlatform.h"

namespace {

// Set once the host's application name starts with "KV_"; stays set.
bool g_kvApplication = false;

QMutex& appenderMutex()
{
    static QMutex mutex;
    return mutex;
}

} // namespace

const char* const ZTXLogger::PatternLayout = "%d{%Y-%m-%d %H:%M:%S.%l} %u [%t] %p %x - %m%n";

ZTXLogger::ZTXLogger(const std::string& name, bool withFileAppender)
    : name(name)
    , withFileAppender(withFileAppender)
    , appender(nullptr)
    , category(log4cpp::Category::getInstance(name))
{
    if (QCoreApplication::applicationName().startsWith(QLatin1String("KV_")))
        g_kvApplication = true;
    computeLogDirectory();
    if (this->withFileAppender)
        createFileAppender();
}

ZTXLogger::~ZTXLogger()
{
    if (appender) {
        appender->close();
        // removeAppender deletes an appender the category owns.
        category.removeAppender(appender);
        appender = nullptr;
    }
}

void ZTXLogger::flush()
{
    if (appender)
        static_cast<BufferedRollingFileAppender*>(appender)->flush();
}

QString ZTXLogger::logDirectory() const
{
    return m_logDirectory;
}

QString ZTXLogger::logFilePath() const
{
    return m_logDirectory + QLatin1Char('/') + QString::fromStdString(name) + QLatin1String(".log");
}

void ZTXLogger::computeLogDirectory()
{
    const QString sep = QDir::separator();
    const QString organization = QCoreApplication::organizationName();
    const QString application = QCoreApplication::applicationName();

    if (g_kvApplication) {
        const QString base = LogPlatform::isLegacyWindowsVersion()
                                 ? QDir::homePath() + sep + QLatin1String("Application Data")
                                 : QDir::homePath() + sep + QLatin1String("AppData") + sep + QLatin1String("LocalLow");
        m_logDirectory = base + sep + organization + sep + application + sep + QLatin1String("logs");
    } else {
        const QSettings settings(QSettings::IniFormat, QSettings::UserScope, organization, application);
        const QString settingsFolder = QFileInfo(settings.fileName()).absolutePath();
        m_logDirectory = settingsFolder + sep + application + sep + QLatin1String("logs");
    }

    QDir().mkpath(m_logDirectory);
    m_logDirectory = LogPlatform::shortPathName(m_logDirectory);
}

void ZTXLogger::createFileAppender()
{
    QMutexLocker locker(&appenderMutex());

    const std::string appenderName = name + "Inner";
    const std::string fileName =
        std::string(m_logDirectory.toLocal8Bit().constData()) + "/" + name + ".log";

    auto* rolling = new BufferedRollingFileAppender(appenderName, fileName, MaxFileSize, MaxBackupIndex, true, 0644);
    rolling->setLayout(new LineLayout());
    rolling->setThreshold(log4cpp::Priority::INFO);

    category.addAppender(rolling);
    appender = rolling;
}
