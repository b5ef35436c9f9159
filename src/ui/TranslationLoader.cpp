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

// What could not be removed goes with the loader: a translator takes itself
// out of the application when it is deleted.
TranslationLoader::~TranslationLoader()
{
    removeTranslators();
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
        QTranslator* translator = new QTranslator(this);
        if (translator->load(file, QString(), QString(), QString())
            && QCoreApplication::installTranslator(translator))
            m_translators.append(translator);
        else
            delete translator;
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
    // A translator that cannot be removed (not on the GUI thread) stays
    // installed and is kept until the loader goes.
    for (auto translator = m_translators.begin(); translator != m_translators.end();) {
        if (isGuiThread() && QCoreApplication::removeTranslator(*translator)) {
            delete *translator;
            translator = m_translators.erase(translator);
        } else {
            ++translator;
        }
    }
}
