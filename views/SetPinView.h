#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the first PIN while only the default one is stored.
class SetPinView : public QDialog
{
    Q_OBJECT

public:
    SetPinView(QWidget* parent, Qt::WindowFlags flags);
    ~SetPinView() override;

public slots:
    // Escape does nothing: there is no way past this form but a PIN or Cancel.
    void reject() override;

private slots:
    void on_okButton_clicked();
    void on_cancelButton_clicked();

private:
    void setupUi();
    void retranslateUi();

    QPushButton* okButton;
    QPushButton* cancelButton;
    QLabel* label;
    QLabel* label_2;
    QLabel* label_3;
    QLineEdit* pinEdit2;
    QLineEdit* pinEdit;
};
