#include "app/TrayIcon.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

CTrayIcon::CTrayIcon(QWidget* owner, QAction* lock)
    : QObject(owner), window(owner), menu(new QMenu(owner)), showAction(new QAction(menu)),
      icon(new QSystemTrayIcon(owner->windowIcon(), this))
{
    menu->setObjectName(QStringLiteral("trayMenu"));
    showAction->setObjectName(QStringLiteral("actionShowWindow"));
    menu->addAction(showAction);
    menu->addSeparator();
    menu->addAction(lock);
    auto* quit = menu->addAction(QCoreApplication::translate("CTrayIcon", "&Quit"));
    quit->setObjectName(QStringLiteral("actionQuit"));

    connect(showAction, &QAction::triggered, this, &CTrayIcon::toggleWindow);
    connect(quit, &QAction::triggered, this, &CTrayIcon::quitRequested);
    connect(menu, &QMenu::aboutToShow, this, &CTrayIcon::updateMenu);
    connect(icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
        if (why == QSystemTrayIcon::Trigger) {
            toggleWindow();
        }
    });
    icon->setToolTip(QStringLiteral("Velmora"));
    icon->setContextMenu(menu);
    updateMenu();
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        icon->show();
    }
}

CTrayIcon::~CTrayIcon() = default;

bool CTrayIcon::isShown() const
{
    return icon->isVisible();
}

void CTrayIcon::updateMenu()
{
    showAction->setText(window->isVisible() && !window->isMinimized()
                            ? QCoreApplication::translate("CTrayIcon", "&Hide Velmora")
                            : QCoreApplication::translate("CTrayIcon", "&Show Velmora"));
}

void CTrayIcon::toggleWindow()
{
    if (window->isVisible() && !window->isMinimized()) {
        window->hide();
    } else {
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
        window->raise();
        window->activateWindow();
    }
    updateMenu();
}
