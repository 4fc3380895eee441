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

QString fromLocal8BitVisible(const std::string& text)
{
    const QString read = fromLocal8BitString(text);
    QString shown;
    shown.reserve(read.size());
    for (const QChar character : read) {
        const char16_t code = character.unicode();
        if (code < 0x20 || code == 0x7f) {
            shown += QLatin1Char('^');
            shown += QChar(static_cast<char16_t>(code ^ 0x40));
        } else if (character.category() == QChar::Other_Control ||
                   character.category() == QChar::Separator_Line ||
                   character.category() == QChar::Separator_Paragraph) {
            shown += QChar(QChar::ReplacementCharacter);
        } else {
            shown += character;
        }
    }
    return shown;
}
