#include "views/AboutView.h"

#include "app/MainWindow.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRect>
#include <QWidget>

AboutView::AboutView(QWidget* parent, Qt::WindowFlags flags) : QDialog(parent, flags)
{
    setupUi();
}

AboutView::~AboutView() = default;

void AboutView::setupUi()
{
    if (objectName().isEmpty()) {
        setObjectName(QStringLiteral("AboutView"));
    }
    resize(390, 188);
    frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setGeometry(QRect(10, 10, 371, 131));
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Raised);
    label = new QLabel(frame);
    label->setObjectName(QStringLiteral("label"));
    label->setGeometry(QRect(110, 20, 231, 21));
    label_2 = new QLabel(frame);
    label_2->setObjectName(QStringLiteral("label_2"));
    label_2->setGeometry(QRect(110, 50, 65, 21));
    label_3 = new QLabel(frame);
    label_3->setObjectName(QStringLiteral("label_3"));
    label_3->setGeometry(QRect(180, 50, 65, 21));
    label_4 = new QLabel(frame);
    label_4->setObjectName(QStringLiteral("label_4"));
    label_4->setGeometry(QRect(110, 80, 251, 21));
    widget = new QWidget(frame);
    widget->setObjectName(QStringLiteral("widget"));
    widget->setGeometry(QRect(30, 20, 50, 51));
    widget->setStyleSheet(QStringLiteral("background-image: url(:/images/Velmora48x48.png);"));
    okButton = new QPushButton(this);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setGeometry(QRect(150, 150, 95, 31));

    retranslateUi();
    QMetaObject::connectSlotsByName(this);
}

void AboutView::retranslateUi()
{
    setWindowTitle(QCoreApplication::translate("AboutView", "Dialog"));
    label->setText(QCoreApplication::translate("AboutView", "Orvane Strandel Velmora"));
    label_2->setText(QCoreApplication::translate("AboutView", "Version:"));
    label_3->setText(QCoreApplication::translate("AboutView", "5.6.1.0"));
    label_4->setText(
        QCoreApplication::translate("AboutView", "Copyright (C) 2026 The Velmora authors"));
    okButton->setText(QCoreApplication::translate("AboutView", "&OK"));
}

void AboutView::on_okButton_clicked()
{
    if (auto* window = qobject_cast<CMainWindow*>(parentWidget())) {
        window->showHome();
    }
}

void AboutView::reject() {}
