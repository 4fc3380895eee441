#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;
class QWidget;

// The product name, version and icon; OK goes back to where the run stands.
class AboutView : public QDialog
{
    Q_OBJECT

public:
    AboutView(QWidget* parent, Qt::WindowFlags flags);
    ~AboutView() override;

public slots:
    // Escape leaves the view in place.
    void reject() override;

private slots:
    void on_okButton_clicked();

private:
    void setupUi();
    void retranslateUi();

    QFrame* frame;
    QLabel* label;
    QLabel* label_2;
    QLabel* label_3;
    QLabel* label_4;
    QWidget* widget;
    QPushButton* okButton;
};
