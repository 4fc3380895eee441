#pragma once

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QtGlobal>

#include <cstdint>
#include <string>

// The keys of the RFC 4226, 6238 and 6287 test vectors, used as raw bytes.
inline const std::string Key20 = "12345678901234567890";
inline const std::string Key32 = "12345678901234567890123456789012";
inline const std::string Key64 = "1234567890123456789012345678901234567890123456789012345678901234";

inline const std::uint8_t* Bytes(const std::string& text)
{
    return reinterpret_cast<const std::uint8_t*>(text.data());
}

// The rows of a tab-separated vector file of tests/data, split into fields;
// "#" comment lines and the header line are left out.
inline QList<QStringList> ReadVectors(const char* fileName)
{
    QFile file(QStringLiteral(VELMORA_TEST_DATA_DIR "/") + QLatin1String(fileName));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qFatal("cannot read the vector file %s", qPrintable(file.fileName()));
    }
    const QStringList lines = QString::fromLatin1(file.readAll())
                                  .split('\n', Qt::SkipEmptyParts)
                                  .filter(QRegularExpression(QStringLiteral("^[^#]")));
    QList<QStringList> rows;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        rows.append(lines[i].split('\t'));
    }
    return rows;
}
