// What a user gets from `cmake --install` and from the Debian package: the
// programs, the desktop entry, the metainfo, the icons and the man pages, each
// valid for the desktop's own tools and pointing at the others.
#include "support/RunProgram.h"
#include "support/TempDirectory.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

using testsupport::ProgramOutcome;
using testsupport::RunProgram;

const QString AppId = QStringLiteral("org.velmora.Velmora");

// The files under the prefix /usr, both from an install and in the package.
const QStringList InstalledFiles = {
    "usr/bin/velmora",
    "usr/bin/velmora-cli",
    "usr/bin/velmora-seed",
    // The QR code module, loaded on first use.
    QStringLiteral("usr/%1/velmora/libvelmora-qr.so").arg(VELMORA_LIBDIR),
    "usr/share/applications/" + AppId + ".desktop",
    "usr/share/bash-completion/completions/velmora-cli",
    "usr/share/doc/velmora/copyright",
    "usr/share/icons/hicolor/48x48/apps/" + AppId + ".png",
    "usr/share/icons/hicolor/scalable/apps/" + AppId + ".svg",
    "usr/share/man/man1/velmora-cli.1.gz",
    "usr/share/man/man1/velmora-seed.1.gz",
    "usr/share/man/man1/velmora.1.gz",
    "usr/share/metainfo/" + AppId + ".metainfo.xml",
};

QStringList FilesBelow(const QString& root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        files << QDir(root).relativeFilePath(it.next());
    }
    files.sort();
    return files;
}

// The value of a key of the desktop entry.
QString DesktopValue(const QString& entry, const QString& key)
{
    const QRegularExpression line("^" + key + "=(.*)$", QRegularExpression::MultilineOption);
    return line.match(entry).captured(1);
}

} // namespace

class TestPackaging : public QObject
{
    Q_OBJECT

private slots:
    void tree_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("cmake --install") << "install";
        QTest::newRow("Debian package") << "package";
    }

    void tree()
    {
        QFETCH(QString, how);
        const QString scratch = QString::fromStdString(testsupport::MakeTempDirectory());
        const QString root = scratch + "/root";
        if (how == "install") {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("DESTDIR", root);
            const ProgramOutcome install =
                RunProgram(VELMORA_CMAKE_COMMAND,
                           {"--install", VELMORA_BUILD_DIR, "--prefix", "/usr"}, environment);
            QVERIFY2(install.status == 0, qPrintable(install.err));
        } else {
            const ProgramOutcome cpack =
                RunProgram(VELMORA_CPACK_COMMAND,
                           {"-G", "DEB", "-B", scratch + "/out", "--config",
                            QStringLiteral(VELMORA_BUILD_DIR) + "/CPackConfig.cmake"},
                           QProcessEnvironment::systemEnvironment(), 240000);
            QVERIFY2(cpack.status == 0, qPrintable(cpack.out + cpack.err));
            const QStringList debs = QDir(scratch + "/out").entryList({"velmora_*.deb"});
            QCOMPARE(debs.size(), 1);
            const QString deb = scratch + "/out/" + debs[0];
            const ProgramOutcome fields =
                RunProgram("dpkg-deb", {"-f", deb, "Package", "Section", "Maintainer", "Depends",
                                        "Recommends"});
            QCOMPARE(fields.status, 0);
            QVERIFY2(
                fields.out.contains(QRegularExpression("^Package: velmora\nSection: utils\n"
                                                       "Maintainer: [^\n]+ <[^\n]+@[^\n]+>\n")),
                qPrintable(fields.out));
            for (const char* library :
                 {"libqt6widgets6", "libssl3", "libsqlite3-0", "libzxing2", "libqrencode4"}) {
                QVERIFY2(fields.out.contains(
                             QRegularExpression(QString("\nDepends: .*\\b%1 \\(").arg(library))),
                         qPrintable(fields.out));
            }
            // Native in Wayland sessions, through Qt's Wayland platform plugin.
            QVERIFY2(fields.out.contains("\nRecommends: qt6-wayland"), qPrintable(fields.out));
            QCOMPARE(RunProgram("dpkg-deb", {"-x", deb, root}).status, 0);
        }
        QCOMPARE(FilesBelow(root), InstalledFiles);

        const QString share = root + "/usr/share/";
        // Silent: it prints hints too, and those are failures here.
        const ProgramOutcome entryCheck =
            RunProgram("desktop-file-validate", {share + "applications/" + AppId + ".desktop"});
        QVERIFY2(entryCheck.status == 0 && (entryCheck.out + entryCheck.err).trimmed().isEmpty(),
                 qPrintable(entryCheck.out + entryCheck.err));
        for (const QStringList& args :
             {QStringList{"validate", "--no-net", share + "metainfo/" + AppId + ".metainfo.xml"},
              QStringList{"validate-tree", "--no-net", root}}) {
            const ProgramOutcome check = RunProgram("appstreamcli", args);
            QVERIFY2(check.status == 0, qPrintable(check.out + check.err));
        }

        // The entry starts an installed program and names the installed icons.
        QFile desktop(share + "applications/" + AppId + ".desktop");
        QVERIFY(desktop.open(QIODevice::ReadOnly));
        const QString entry = QString::fromUtf8(desktop.readAll());
        QVERIFY(QFile::exists(root + "/usr/bin/" + DesktopValue(entry, "Exec")));
        QCOMPARE(DesktopValue(entry, "Icon"), AppId);
        QCOMPARE(QImage(share + "icons/hicolor/48x48/apps/" + AppId + ".png").size(),
                 QSize(48, 48));
        QFile svg(share + "icons/hicolor/scalable/apps/" + AppId + ".svg");
        QVERIFY(svg.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&svg);
        QVERIFY(xml.readNextStartElement() && xml.name() == QLatin1String("svg"));
        while (!xml.atEnd()) {
            xml.readNext();
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));

        // man renders both pages without a warning.
        QProcessEnvironment manEnvironment = QProcessEnvironment::systemEnvironment();
        manEnvironment.insert("MANWIDTH", "80");
        // Each says what a user could not guess: where the home comes from,
        // that the clipboard is cleared, how to ask for the version.
        const QList<QStringList> pages = {{"velmora", "password database", "clears the clipboard"},
                                          {"velmora-seed", "--version"},
                                          {"velmora-cli", "--pin-file"}};
        for (const QStringList& page : pages) {
            const ProgramOutcome man = RunProgram(
                "man", {"--warnings", "-E", "UTF-8", "-l", share + "man/man1/" + page[0] + ".1.gz"},
                manEnvironment);
            QVERIFY2(man.status == 0 && man.err.isEmpty(), qPrintable(man.err));
            const QString text = man.out.simplified();
            for (const QString& said : page) {
                QVERIFY2(text.contains(said + (said == page[0] ? " - " : "")), qPrintable(said));
            }
        }

        // The installed tool runs on its own.
        const ProgramOutcome seed =
            RunProgram(root + "/usr/bin/velmora-seed",
                       {"check", "--serial", "12345678", "1200000ABCDEFGHIJ6"});
        QVERIFY2(seed.status == 0 && seed.out.contains("type:        HOTP"), qPrintable(seed.err));
        const ProgramOutcome cli = RunProgram(root + "/usr/bin/velmora-cli", {"code", "--help"});
        QVERIFY2(cli.status == 0 && cli.out.contains("usage: velmora-cli code"),
                 qPrintable(cli.err));
        const ProgramOutcome completion =
            RunProgram("bash", {"-c", "source \"$0\" && complete -p velmora-cli",
                                share + "bash-completion/completions/velmora-cli"});
        QVERIFY2(completion.status == 0 && completion.out.contains("_velmora_cli"),
                 qPrintable(completion.err));
    }
};

QTEST_GUILESS_MAIN(TestPackaging)
#include "tst_packaging.moc"
