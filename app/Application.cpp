#include "app/Application.h"

#include "app/InputHold.h"
#include "app/MainWindow.h"
#include "app/SingleWindow.h"
#include "keyring/KeychainKeyProvider.h"
#include "storage/Diagnostics.h"
#include "storage/LocalDatabase.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include <openssl/crypto.h>

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
    // A store in keyring mode opens only with its key, read once per start:
    // even the PIN cannot be checked without it. It is read while the window
    // appears, locked and holding back input until the key is there; when the
    // keyring cannot give it, the window says why and the run ends, with
    // nothing written.
    CKeychainKeyProvider keyring;
    database.SetStoreKeyProvider(&keyring);
    std::string storeId;
    try {
        storeId = database.GetMissingStoreKeyId();
    } catch (const std::exception& error) {
        ReportLine(error.what());
        QMessageBox::critical(nullptr, QStringLiteral("Velmora"),
                              QString::fromLocal8Bit(error.what()));
        return 1;
    }
    auto window = std::make_unique<CMainWindow>(database);
    QObject::connect(&single, &CSingleWindow::activationRequested, window.get(),
                     &CMainWindow::bringToFront);
    if (!storeId.empty()) {
        auto* hold = new CInputHold(window.get());
        CKeychainKeyProvider::ReadKeyLater(
            storeId, hold,
            [&database, storeId, hold, shown = window.get()](std::string key,
                                                             const std::string& reason) {
                try {
                    if (!reason.empty()) {
                        throw CStoreKeyError(database.DescribeKeyFailure(reason));
                    }
                    database.SetStoreKey(storeId, key);
                    OPENSSL_cleanse(key.data(), key.size());
                    hold->deleteLater();
                } catch (const std::exception& error) {
                    OPENSSL_cleanse(key.data(), key.size());
                    ReportLine(error.what());
                    QMessageBox::critical(shown, QStringLiteral("Velmora"),
                                          QString::fromLocal8Bit(error.what()));
                    QCoreApplication::exit(1);
                }
            });
    }
    window->show();
    const int result = QApplication::exec();
    window.reset();
    database.SetStoreKeyProvider(nullptr);
    return result;
}
