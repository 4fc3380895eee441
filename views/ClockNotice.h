#pragma once

#include <QWidget>

class LocalDatabase;
class QLabel;
class QPushButton;
class QTimer;

// The one-line notice under a time-based code when this machine's clock may
// make its codes fail, with the offer to compute them with the time server's
// clock instead. Hidden while there is nothing to say.
class CClockNotice : public QWidget
{
    Q_OBJECT

public:
    CClockNotice(LocalDatabase& localDatabase, QWidget* parent);

    // Checks the clock as the settings allow: now, and hourly while the
    // notice exists. Never waits for an answer.
    void Watch();

private slots:
    void on_clockOffsetButton_clicked();

private:
    void setupUi();
    void refresh();

    LocalDatabase& database;
    QLabel* clockNoticeLabel;
    QPushButton* clockOffsetButton;
    QTimer* hourly;
    bool watching = false;
};
