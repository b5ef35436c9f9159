#ifndef PEHEADERDATA_H
#define PEHEADERDATA_H

#include <QtGlobal>

class QFile;

// The two values of a PE image that the Authenticode form of a signed module
// file needs: where the headers end (the module data starts there) and where
// the Authenticode certificate table begins (the trailer and its padding end
// there).
class PEHeaderData
{
public:
    // The file must already be open; it is not owned.
    explicit PEHeaderData(QFile* file);

    // Reads both values from the file's PE headers. A value that cannot be
    // found stays 0.
    void loadData();

    // File offset of the certificate table, 0 when there is none.
    qint64 authenticodePos() const;
    // SizeOfHeaders of the optional header.
    quint32 headerSize() const;

private:
    QFile* m_file;
    qint64 m_headerSize;
    qint64 m_authenticodePos;
};

#endif
