#include "TranslationLoader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "GuiThread.h"

TranslationLoader::TranslationLoader(const QString& language, const QString& directory, QObject* parent)
    : QObject(parent)
    , m_language(language.isEmpty() ? QStringLiteral("pl") : language)
{
    load(directory);
}

TranslationLoader::~TranslationLoader()
{
    removeTranslators();
    m_translators.clear();
}

void TranslationLoader::load()
{
    load(QStringLiteral(":/translations/"));
}

void TranslationLoader::load(const QString& directory)
{
    const QStringList files = translationFiles(directory);
    removeTranslators();
    for (const QString& file : files) {
        if (!isGuiThread())
            continue;
        QSharedPointer<QTranslator> translator(new QTranslator(nullptr));
        if (translator->load(file, QString(), QString(), QString())
            && QCoreApplication::installTranslator(translator.data()))
            m_translators.append(translator);
    }
}

QStringList TranslationLoader::translationFiles(const QString& directory) const
{
    QStringList files;
    const QDir dir(directory);
    if (!dir.exists())
        return files;
    const QString filter = QStringLiteral("*_") + m_language + QStringLiteral(".qm");
    const QFileInfoList entries = dir.entryInfoList(QStringList(filter));
    for (const QFileInfo& entry : entries) {
        if (entry.exists())
            files.append(entry.absoluteFilePath());
    }
    return files;
}

void TranslationLoader::removeTranslators()
{
    const QList<QSharedPointer<QTranslator>> snapshot = m_translators;
    for (const QSharedPointer<QTranslator>& translator : snapshot) {
        if (isGuiThread() && QCoreApplication::removeTranslator(translator.data()))
            m_translators.removeOne(translator);
    }
}
