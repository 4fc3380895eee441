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
    QString shown = fromLocal8BitString(text);
    for (QChar& character : shown) {
        const char16_t code = character.unicode();
        if (code < 0x20) {
            character = QChar(static_cast<char16_t>(0x2400 + code));
        } else if (code == 0x7f) {
            character = QChar(static_cast<char16_t>(0x2421));
        } else if (character.category() == QChar::Other_Control ||
                   character.category() == QChar::Separator_Line ||
                   character.category() == QChar::Separator_Paragraph) {
            character = QChar(QChar::ReplacementCharacter);
        }
    }
    return shown;
}
