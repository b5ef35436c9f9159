#ifndef TRANSLATIONLOADER_H
#define TRANSLATIONLOADER_H

#include <QList>
#include <QObject>
#include <QString>
#include <QTranslator>

// Installs every "*_<language>.qm" file of a folder in the application while
// it lives, and removes them again when it goes. An empty language means
// Polish.
class TranslationLoader : public QObject
{
    Q_OBJECT

public:
    TranslationLoader(const QString& language, const QString& directory, QObject* parent);
    ~TranslationLoader() override;

    // Replaces what this loader installed by the files of the folder.
    virtual void load(const QString& directory);
    virtual void load();

private:
    QStringList translationFiles(const QString& directory) const;
    void removeTranslators();

    QString m_language;
    // The translators installed in the application; children of the loader.
    QList<QTranslator*> m_translators;
};

#endif
