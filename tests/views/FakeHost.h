#pragma once

#include "storage/LocalDatabase.h"
#include "views/ViewHost.h"

#include <QStringList>
#include <QWidget>

// Stands in for the main window: the views under test are its children and
// their calls on their host are recorded, in order, instead of carried out.
class FakeHost : public QWidget, public CViewHost
{
public:
    QStringList calls;

    void setLoggedIn() override { calls << QStringLiteral("setLoggedIn"); }
    void enableActions(bool on) override { calls << QStringLiteral("enableActions(%1)").arg(on); }
    void otp() override { calls << QStringLiteral("otp"); }
    void installToken() override { calls << QStringLiteral("installToken"); }
    void showHome() override { calls << QStringLiteral("showHome"); }
    void shake() override { calls << QStringLiteral("shake"); }
    void selectToken(int id) override { calls << QStringLiteral("selectToken(%1)").arg(id); }
    void refreshTokenMenu() override { calls << QStringLiteral("refreshTokenMenu"); }
    void closeWindow() override { calls << QStringLiteral("closeWindow"); }

    // A view of type View shown inside the host, as the main window shows it.
    template <typename View> View* open()
    {
        auto* view = new View(g_localDatabase, this, Qt::WindowFlags());
        view->setWindowFlags(Qt::Widget);
        view->show();
        show(); // a default button takes Enter only while it is visible
        return view;
    }
};
