#ifndef PACKAGEANALYSIS_H
#define PACKAGEANALYSIS_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "PackageCheck.h"
#include "PackageContents.h"
#include "SignatureDiagnosis.h"

typedef struct evp_pkey_st EVP_PKEY;

// A package file judged the way clients judge it, in their order: the size
// limit (48), the signature trailer and signature (43), then the entries
// (41). Every step runs even after an earlier one failed, so that one run
// reports every problem; the verdict is the client's, from the first.
class PackageAnalysis
{
public:
    // key: the key the signature must verify with. builtIn: it is the key
    // built into the module; then the module's own reader checks it too.
    PackageAnalysis(const QString& packagePath, EVP_PKEY* key, bool builtIn);

    // False when the file cannot be read at all (error() says why).
    bool run();

    QString error() const;
    qint64 packageSize() const;
    bool trailerRead() const;
    // The signed bytes (the archive) and the signature, from the trailer.
    QByteArray archive() const;
    QByteArray signature() const;
    SignatureDiagnosis::Verdict signatureVerdict() const;
    bool contentsRead() const;
    const PackageContents& contents() const;
    // Size and entry problems (the signature is judged apart).
    QList<PackageCheck::Problem> problems() const;
    QStringList notes() const;

    // What clients answer: 0, or 48, 43, 41 for the first problem.
    int clientResult() const;
    // ztx's exit code for this verdict.
    int exitCode() const;

private:
    QString m_packagePath;
    EVP_PKEY* m_key;
    bool m_builtIn;
    QString m_error;
    qint64 m_packageSize = 0;
    bool m_trailerRead = false;
    QByteArray m_archive;
    QByteArray m_signature;
    SignatureDiagnosis::Verdict m_signatureVerdict = SignatureDiagnosis::OtherKey;
    bool m_contentsRead = false;
    PackageContents m_contents;
    QList<PackageCheck::Problem> m_problems;
    QStringList m_notes;
};

#endif
