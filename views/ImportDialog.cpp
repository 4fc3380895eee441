#include "views/ImportDialog.h"

#include "interop/QrImage.h"
#include "storage/LocalDatabase.h"
#include "views/FormBuilder.h"
#include "views/ScreenGrab.h"
#include "views/StorageGuard.h"
#include "views/ViewHost.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRect>
#include <QTableWidget>

#include <exception>
#include <optional>

namespace {

// As the command line: far beyond any export file or screenshot.
constexpr qint64 MaxInputBytes = 64 << 20;

QString Text(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// Whether two entries stand for the same thing found twice (a screen scanned again).
bool SameFind(const CImportEntry& a, const CImportEntry& b)
{
    if (a.Token && b.Token) {
        return IsSameAccount(*a.Token, *b.Token);
    }
    return !a.Token && !b.Token && a.Name == b.Name && a.Refusal == b.Refusal;
}

std::string PngOf(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png.toStdString();
}

} // namespace

ImportDialog::ImportDialog(LocalDatabase& localDatabase, QWidget* parent)
    : QDialog(parent), database(localDatabase)
{
    setupUi();
    replan();
}

ImportDialog::~ImportDialog() = default;

void ImportDialog::setupUi()
{
    setObjectName(QStringLiteral("ImportDialog"));
    setFixedSize(600, 440);
    scanButton = AddWidget<QPushButton>(this, "scanButton", QRect(12, 12, 150, 30));
    openButton = AddWidget<QPushButton>(this, "openButton", QRect(170, 12, 150, 30));
    pasteButton = AddWidget<QPushButton>(this, "pasteButton", QRect(328, 12, 150, 30));
    textLabel = AddWidget<QLabel>(this, "textLabel", QRect(12, 50, 576, 20));
    uriEdit = AddWidget<QPlainTextEdit>(this, "uriEdit", QRect(12, 72, 470, 62));
    uriEdit->setTabChangesFocus(true);
    textLabel->setBuddy(uriEdit);
    addTextButton = AddWidget<QPushButton>(this, "addTextButton", QRect(490, 72, 98, 30));
    statusLabel = AddWidget<QLabel>(this, "statusLabel", QRect(12, 140, 576, 40));
    statusLabel->setWordWrap(true);
    entryTable = AddWidget<QTableWidget>(this, "entryTable", QRect(12, 184, 576, 206));
    entryTable->setColumnCount(3);
    entryTable->setColumnWidth(0, 250);
    entryTable->setColumnWidth(1, 70);
    entryTable->horizontalHeader()->setStretchLastSection(true);
    entryTable->verticalHeader()->hide();
    entryTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    entryTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    // A refusal's reason is read whole in its row.
    entryTable->setWordWrap(true);
    importButton = AddWidget<QPushButton>(this, "importButton", QRect(382, 398, 100, 30));
    cancelButton = AddWidget<QPushButton>(this, "cancelButton", QRect(488, 398, 100, 30));
    for (QPushButton* button : {scanButton, openButton, pasteButton, addTextButton}) {
        button->setAutoDefault(false);
    }
    importButton->setDefault(true);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    SetTabChain({scanButton, openButton, pasteButton, uriEdit, addTextButton, entryTable,
                 importButton, cancelButton});
    // The first field has the keyboard from the start.
    scanButton->setFocus();

    retranslateUi();
    QMetaObject::connectSlotsByName(this);
}

void ImportDialog::retranslateUi()
{
    setWindowTitle(QCoreApplication::translate("ImportDialog", "Import Tokens"));
    scanButton->setText(QCoreApplication::translate("ImportDialog", "Scan &screen"));
    openButton->setText(QCoreApplication::translate("ImportDialog", "&Open file\u2026"));
    pasteButton->setText(QCoreApplication::translate("ImportDialog", "&Paste"));
    textLabel->setText(QCoreApplication::translate(
        "ImportDialog", "Key &URIs (otpauth://) or migration payloads, one per line:"));
    addTextButton->setText(QCoreApplication::translate("ImportDialog", "&Add"));
    entryTable->setHorizontalHeaderLabels({QCoreApplication::translate("ImportDialog", "Name"),
                                           QCoreApplication::translate("ImportDialog", "Type"),
                                           QCoreApplication::translate("ImportDialog", "Status")});
    importButton->setText(QCoreApplication::translate("ImportDialog", "&Import"));
    cancelButton->setText(QCoreApplication::translate("ImportDialog", "Cancel"));
}

void ImportDialog::addInput(const std::string& bytes, const QString& source)
{
    const auto askPassword = [this, &source]() -> std::optional<std::string> {
        bool given = false;
        const QString password = QInputDialog::getText(
            this, tr("Vault password"), tr("Password of the encrypted vault %1:").arg(source),
            QLineEdit::Password, QString(), &given);
        if (!given) {
            return std::nullopt;
        }
        return password.toStdString();
    };
    try {
        addEntries(ReadImport(bytes, askPassword),
                   tr("Nothing to import was found in %1.").arg(source));
    } catch (const std::exception& error) {
        statusLabel->setText(
            tr("Nothing to import was found in %1: %2.").arg(source, Text(error.what())));
    }
}

void ImportDialog::addEntries(const std::vector<CImportEntry>& found, const QString& nothingFound)
{
    if (found.empty()) {
        statusLabel->setText(nothingFound);
        return;
    }
    int added = 0;
    for (const CImportEntry& entry : found) {
        bool known = false;
        for (const CImportEntry& listed : entries) {
            known = known || SameFind(entry, listed);
        }
        if (!known) {
            entries.push_back(entry);
            ++added;
        }
    }
    if (replan()) {
        const std::size_t before = found.size() - static_cast<std::size_t>(added);
        statusLabel->setText(before == 0 ? tr("Entries found: %1.").arg(found.size())
                                         : tr("Entries found: %1 (%2 of them listed before).")
                                               .arg(found.size())
                                               .arg(before));
        // What was found is one key away from being stored.
        if (importButton->isEnabled()) {
            importButton->setFocus();
        }
    }
}

bool ImportDialog::replan()
{
    std::vector<COtpTokenPtr> installed;
    const bool read = GuardStorage(this, tr("read the installed tokens"),
                                   [this, &installed] { installed = database.GetAllTokens(); });
    plan = PlanImport(entries, installed);
    entryTable->setRowCount(static_cast<int>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const CImportEntry& entry = entries[i];
        QString status;
        switch (plan.Statuses[i]) {
        case ImportStatus::New:
            status = tr("new");
            break;
        case ImportStatus::AlreadyInstalled:
            status = tr("already installed");
            break;
        case ImportStatus::Refused:
            status = tr("refused: %1").arg(Text(entry.Refusal));
            break;
        }
        const int row = static_cast<int>(i);
        entryTable->setItem(row, 0, new QTableWidgetItem(Text(entry.Name)));
        entryTable->setItem(row, 1, new QTableWidgetItem(Text(entry.TypeName)));
        auto* statusItem = new QTableWidgetItem(status);
        statusItem->setToolTip(status);
        entryTable->setItem(row, 2, statusItem);
    }
    entryTable->resizeRowsToContents();
    importButton->setEnabled(read && !plan.New.empty());
    return read;
}

void ImportDialog::on_scanButton_clicked()
{
    const CScreenGrab grab = GrabScreens();
    if (grab.Pictures.isEmpty()) {
        statusLabel->setText(grab.Failure);
        return;
    }
    std::vector<std::string> texts;
    try {
        for (const QImage& picture : grab.Pictures) {
            for (std::string& text : FindQrTexts(picture)) {
                texts.push_back(std::move(text));
            }
        }
    } catch (const std::exception& error) {
        statusLabel->setText(tr("The screen cannot be read: %1.").arg(Text(error.what())));
        return;
    }
    if (texts.empty()) {
        statusLabel->setText(tr("No QR code was found on the screen."));
        return;
    }
    addEntries(ReadImportTexts(texts),
               tr("The QR codes on the screen hold no otpauth:// or otpauth-migration:// URI."));
}

void ImportDialog::on_openButton_clicked()
{
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Open File"), QString(),
        tr("Images, Key URIs and vaults (*.png *.jpg *.jpeg *.gif *.bmp *.webp *.txt *.json);;"
           "All files (*)"));
    if (path.isEmpty()) {
        return;
    }
    const QString name = QFileInfo(path).fileName();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        statusLabel->setText(tr("%1 cannot be opened: %2.").arg(name, file.errorString()));
        return;
    }
    if (file.size() > MaxInputBytes) {
        statusLabel->setText(tr("%1 is larger than 64 MiB; nothing was read.").arg(name));
        return;
    }
    addInput(file.readAll().toStdString(), name);
}

void ImportDialog::on_pasteButton_clicked()
{
    const QMimeData* held = QApplication::clipboard()->mimeData();
    if (held != nullptr && held->hasImage()) {
        addInput(PngOf(qvariant_cast<QImage>(held->imageData())), tr("the clipboard's picture"));
    } else if (held != nullptr && held->hasText() && !held->text().trimmed().isEmpty()) {
        addInput(held->text().toStdString(), tr("the clipboard"));
    } else {
        statusLabel->setText(tr("The clipboard holds neither text nor a picture."));
    }
}

void ImportDialog::on_addTextButton_clicked()
{
    if (uriEdit->toPlainText().trimmed().isEmpty()) {
        statusLabel->setText(tr("Type or paste Key URIs into the box first."));
        uriEdit->setFocus();
        return;
    }
    addInput(uriEdit->toPlainText().toStdString(), tr("the text"));
}

void ImportDialog::on_importButton_clicked()
{
    // The store may have changed since the list was made.
    if (!replan() || plan.New.empty()) {
        return;
    }
    std::vector<int> ids;
    if (!GuardStorage(this, tr("import the tokens"),
                      [this, &ids] { ids = database.InstallTokens(plan.New); })) {
        statusLabel->setText(tr("Nothing was stored. Import tries again; Cancel leaves."));
        return;
    }
    CViewHost* host = ViewHostOf(this);
    accept();
    if (host != nullptr && !ids.empty()) {
        host->refreshTokenMenu();
        host->selectToken(ids.front());
    }
}
