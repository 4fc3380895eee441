#include "app/Application.h"

#include "app/MainWindow.h"
#include "app/SingleWindow.h"
#include "app/StoreKeyReader.h"
#include "keyring/KeychainKeyProvider.h"
#include "storage/Diagnostics.h"
#include "storage/LocalDatabase.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

bool IsSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

// Whether Qt can reach a display. Without one QApplication aborts the process,
// so this is checked before it is built.
bool DisplayAvailable(int argc, char* argv[])
{
    if (IsSet("QT_QPA_PLATFORM") || IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY")) {
        return true;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) {
            return true;
        }
    }
    return false;
}

void ReportLine(const std::string& text)
{
    ReportDiagnostic("Velmora: " + text);
}

} // namespace

int RunApplication(LocalDatabase& database, int argc, char* argv[])
{
    const bool display = DisplayAvailable(argc, argv);

    if (!database.IsOpen()) {
        std::string reason = database.GetOpenError();
        if (reason.empty()) {
            reason = "the database could not be opened";
        }
        ReportLine(reason);
        if (display) {
            QApplication application(argc, argv);
            QMessageBox::critical(nullptr, QStringLiteral("Velmora"),
                                  QString::fromLocal8Bit(reason.c_str()));
        }
        return 1;
    }

    if (!display) {
        ReportLine("no display available (neither DISPLAY nor WAYLAND_DISPLAY is set)");
        return 1;
    }

    QApplication application(argc, argv);
    // A copy already showing this store's window is asked to show it again;
    // this one has done its job then.
    CSingleWindow single(database.GetDatabasePath());
    if (single.HandOver()) {
        return 0;
    }
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(VELMORA_APP_ID));
    // A store in keyring mode opens only with its key: even the PIN cannot
    // be checked without it. It is read while the window appears, and again
    // after every lock.
    CKeychainKeyProvider keyring;
    database.SetStoreKeyProvider(&keyring);
    auto window = std::make_unique<CMainWindow>(database);
    QObject::connect(&single, &CSingleWindow::activationRequested, window.get(),
                     &CMainWindow::bringToFront);
    auto* keyReader = new CStoreKeyReader(database, window.get());
    QObject::connect(window.get(), &CMainWindow::locked, keyReader, &CStoreKeyReader::Renew);
    keyReader->Read();
    window->show();
    const int result = QApplication::exec();
    window.reset();
    database.SetStoreKeyProvider(nullptr);
    return result;
}
