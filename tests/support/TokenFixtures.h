#pragma once

#include "otp/OtpToken.h"
#include "storage/LocalDatabase.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QtTest>

// Serial and seed of the HOTP worked example: its first codes are 56777, 68597, ...
inline const char* const DemoSerial = "12345678";
inline const char* const DemoSeed = "1200000ABCDEFGHIJ6";

// Installs a token in the program's database; returns its ID (0 when refused).
inline int Install(const char* name, const char* seed, const char* serial = DemoSerial)
{
    const COtpTokenPtr token = COtpToken::Create(name, serial, seed);
    if (!token || !g_localDatabase.SaveToken(token)) {
        return 0;
    }
    return g_localDatabase.GetDefaultToken(); // a new token becomes the selected one
}

template <typename T> T* Child(const QWidget* parent, const char* name)
{
    return parent->findChild<T*>(QLatin1String(name));
}

inline void Click(const QWidget* parent, const char* button)
{
    QTest::mouseClick(Child<QPushButton>(parent, button), Qt::LeftButton);
}

// Runs `act`, answering every message box it opens with `button` (NoButton:
// pressing Enter, as a user who just confirms); returns each box's title and
// text as "title|text", in the order they opened.
template <typename Act> QStringList Answering(QMessageBox::StandardButton button, Act act)
{
    QStringList boxes;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes << box->windowTitle() + QLatin1Char('|') + box->text() +
                         (box->informativeText().isEmpty()
                              ? QString()
                              : QLatin1Char('|') + box->informativeText());
            if (button != QMessageBox::NoButton) {
                box->button(button)->click();
                return;
            }
            QWidget* focus = QApplication::focusWidget();
            QTest::keyClick(focus != nullptr && box->isAncestorOf(focus) ? focus : box,
                            Qt::Key_Return);
        }
    });
    poll.start(5);
    act();
    return boxes;
}
