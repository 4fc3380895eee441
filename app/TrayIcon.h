#pragma once

#include <QObject>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;

// The icon in the desktop's tray, where there is one: a click shows or hides
// the window; its menu offers that, Lock and Quit.
class CTrayIcon : public QObject
{
    Q_OBJECT

public:
    // `lock` is the window's own Lock entry, so that it is enabled exactly
    // when the window's is.
    CTrayIcon(QWidget* window, QAction* lock);
    ~CTrayIcon() override;

    // Whether the icon is shown: false where the desktop has no tray.
    bool isShown() const;

signals:
    void quitRequested();

private:
    void toggleWindow();
    void updateMenu();

    QWidget* window;
    QMenu* menu;
    QAction* showAction;
    QSystemTrayIcon* icon;
};
