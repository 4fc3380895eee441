#include "views/Local8Bit.h"

#include <QByteArray>

#include <cstring>

std::string toLocal8BitString(const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    return std::string(bytes.constData(), ::strnlen(bytes.constData(), bytes.size()));
}

QString fromLocal8BitString(const std::string& text)
{
    return QString::fromLocal8Bit(text.data(),
                                  static_cast<qsizetype>(::strnlen(text.data(), text.size())));
}
