#include "views/AboutView.h"

#include "views/FormBuilder.h"
#include "views/ViewHost.h"

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
    frame = AddWidget<QFrame>(this, "frame", QRect(10, 10, 371, 131));
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Raised);
    label = AddWidget<QLabel>(frame, "label", QRect(110, 20, 231, 21));
    label_2 = AddWidget<QLabel>(frame, "label_2", QRect(110, 50, 65, 21));
    label_3 = AddWidget<QLabel>(frame, "label_3", QRect(180, 50, 65, 21));
    label_4 = AddWidget<QLabel>(frame, "label_4", QRect(110, 80, 251, 21));
    widget = AddWidget<QWidget>(frame, "widget", QRect(30, 20, 50, 51));
    widget->setStyleSheet(QStringLiteral("background-image: url(:/images/Velmora48x48.png);"));
    okButton = AddWidget<QPushButton>(this, "okButton", QRect(150, 150, 95, 31));

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
    if (CViewHost* host = ViewHostOf(this)) {
        host->showHome();
    }
}

void AboutView::reject() {}
