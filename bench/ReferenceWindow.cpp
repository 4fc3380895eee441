#include "ReferenceWindow.h"

#include <QMenu>
#include <QMenuBar>
#include <QString>
#include <QWidget>

ReferenceWindow::ReferenceWindow()
{
    setFixedSize(389, 218);
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    for (const char* text : {"Change &PIN...", "&OTP", "&Install Token", "E&xit"}) {
        file->addAction(QString::fromLatin1(text));
    }
    menuBar()->addMenu(QStringLiteral("&Help"))->addAction(QStringLiteral("&About"));
    setCentralWidget(new QWidget(this));
}
