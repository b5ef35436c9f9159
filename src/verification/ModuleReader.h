#ifndef MODULEREADER_H
#define MODULEREADER_H

#include <QByteArray>
#include <QString>

class PackageDigest;
class QFile;

// Reads a signed module file: the module data followed by a signature
// trailer (see SignatureTrailer). The file is parsed once, in the
// constructor; afterwards the reader is either read (module data and
// signature held in memory) or unread (both empty). The file itself is never
// changed.
//
// Two forms are known. The plain form, used for downloaded packages, ends
// with the trailer. In the Authenticode form the file is a PE image: the
// module data starts after the PE headers, and the trailer is followed by up
// to 7 bytes of padding and the Authenticode certificate table.
//
// A file whose bytes went through a PackageDigest as it was written needs
// only its trailer read: given the digest, the reader reads the trailer of
// the plain form and takes the signed data's SHA-256 from the digest, and
// holds no module data (moduleData() is empty).
class ModuleReader
{
public:
    ModuleReader(const QString& filePath, bool withAuthenticode);
    // The plain form, checked against the digest of all the file's bytes.
    // A digest of another length than the file's leaves the reader unread.
    ModuleReader(const QString& filePath, const PackageDigest& fileDigest);

    // True when the stored signature is valid for the stored module data under
    // the built-in key. Always false for an unread reader and for the old
    // signature type (newType false).
    virtual bool verify(bool newType);
    virtual QByteArray moduleData();
    virtual QByteArray signature();

    bool isRead() const;

    // Length of the padding after the end-of-signature marker, from the last
    // 8 bytes before the certificate table: the bytes after the first 0xFF.
    // -1 when there is no 0xFF among them.
    static int getOctawordPaddingSize(const QByteArray& bytes);

private:
    void readModule();
    bool parse(QFile& file);
    bool readAt(QFile& file, qint64 position, qint64 length, QByteArray& bytes) const;

    QString m_filePath;
    QByteArray m_moduleData;
    QByteArray m_signature;
    bool m_isRead;
    bool m_withAuthenticode;
    // Null unless the reader reads the trailer alone.
    const PackageDigest* m_fileDigest;
    // SHA-256 of the module data, from m_fileDigest.
    QByteArray m_moduleDataDigest;
};

#endif
