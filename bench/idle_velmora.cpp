// The application idling on a time-based token: the main window as a login
// leaves it, the real OTP view refreshing its code every second. The database
// directory is VELMORA_BENCH_DATA (never the user's home).
#include "Fixtures.h"
#include "IdleProbe.h"
#include "app/MainWindow.h"
#include "storage/LocalDatabase.h"

#include <QApplication>

LocalDatabase g_localDatabase(benchfixtures::DataDirectory());

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    CMainWindow window(g_localDatabase);
    window.setLoggedIn();
    window.enableActions(true);
    window.otp();
    window.show();
    StartIdleProbe();
    return QApplication::exec();
}
