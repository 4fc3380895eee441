#pragma once

#include "support/TempDirectory.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QString>
#include <QtGlobal>

#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

// Adds `option` to a colon-separated list of options such as ASAN_OPTIONS.
inline void AppendOption(QProcessEnvironment& environment, const QString& name,
                         const QString& option)
{
    const QString value = environment.value(name);
    environment.insert(name, value.isEmpty() ? option : value + ':' + option);
}

// Makes a program started with `environment` find `home` as the current user's
// home directory in the password database (nss_wrapper with a password file of
// its own), so that a program that looks its home up never reaches the real
// one. An empty `home`: the password database has no entry for the user.
// `user`: the ID the program runs as, when not the test's own.
inline void UseScratchHome(QProcessEnvironment& environment, const QString& home,
                           uid_t user = getuid())
{
    const std::string directory = MakeTempDirectory();
    chmod(directory.c_str(), 0755); // a program run as another user reads it too
    const QString passwd = QString::fromStdString(directory) + "/passwd";
    QFile file(passwd);
    if (!file.open(QIODevice::WriteOnly)) {
        qFatal("cannot write %s", qPrintable(passwd));
    }
    file.write(QStringLiteral("user:x:%1:%2:user:%3:/bin/sh\n")
                   .arg(home.isEmpty() ? user + 1 : user)
                   .arg(user == getuid() ? getgid() : user)
                   .arg(home.isEmpty() ? QStringLiteral("/nonexistent") : home)
                   .toLocal8Bit());
    environment.insert("LD_PRELOAD", VELMORA_NSS_WRAPPER);
    environment.insert("NSS_WRAPPER_PASSWD", passwd);
    environment.insert("NSS_WRAPPER_GROUP", "/etc/group");
    // The sanitizers' runtime wants to be loaded first and refuses the deep
    // binding the wrapper opens libc with; the preload is harmless before it.
    environment.insert("NSS_WRAPPER_DISABLE_DEEPBIND", "1");
    AppendOption(environment, "ASAN_OPTIONS", "verify_asan_link_order=0");
}

} // namespace testsupport
