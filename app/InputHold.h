#pragma once

#include <QObject>

class QWidget;

// Holds back the keyboard and mouse input of a window while it waits for
// something it needs first (the store key from the keyring), so that a PIN
// typed meanwhile is not checked too early; focus and looks stay as they are.
class CInputHold : public QObject
{
    Q_OBJECT

public:
    explicit CInputHold(QWidget* window);
    ~CInputHold() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window;
};
