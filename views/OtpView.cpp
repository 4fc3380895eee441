#include "views/OtpView.h"
#include "otp/Clock.h"
#include "storage/LocalDatabase.h"
#include "views/ClockNotice.h"
#include "views/CodeClipboard.h"
#include "views/FormBuilder.h"
#include "views/Local8Bit.h"
#include "views/QrCodeDialog.h"
#include "views/StorageGuard.h"
#include "views/TokenTitle.h"

#include <QAction>
#include <QColor>
#include <QCoreApplication>
#include <QFrame>
#include <QKeySequence>
#include <QLCDNumber>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QRect>
#include <QShortcut>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

// Digits a display needs for a code: at least `minimum`, and never fewer than
// the code has, so that a code with a check digit is never cut on the left.
int DigitsFor(const QString& code, int minimum)
{
    return std::max(minimum, static_cast<int>(code.size()));
}

// Seconds elapsed in the current step of `step` seconds (step > 0).
std::int64_t ElapsedInStep(std::int64_t step)
{
    return (OtpClock::Now() % step + step) % step;
}

} // namespace

OtpView::OtpView(LocalDatabase& localDatabase, QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), database(localDatabase), code(), token(), countdown(0),
      displayTimer(), wakeTimer()
{
    setupUi();
    arrangeDisplays(false);
}

OtpView::~OtpView() = default;

void OtpView::setupUi()
{
    if (objectName().isEmpty()) {
        setObjectName(QString::fromUtf8("OtpView"));
    }
    resize(389, 192);
    setAutoFillBackground(false);
    setStyleSheet(
        QString::fromUtf8("QDialog#OtpView\n"
                          "{\n"
                          "background-image: url(:/images/Velmora_BackGround_Logos.png);\n"
                          "background-repeat: repeat-x;\n"
                          "}\n"));

    lcdNumber = AddWidget<QLCDNumber>(this, "lcdNumber", QRect(50, 50, 191, 41));
    lcdNumber->setFrameShape(QFrame::Box);
    lcdNumber->setFrameShadow(QFrame::Raised);
    lcdNumber->setLineWidth(1);
    lcdNumber->setSmallDecimalPoint(false);
    lcdNumber->setDigitCount(6);
    lcdNumber->setSegmentStyle(QLCDNumber::Filled);
    lcdNumber->setProperty("value", QVariant(888888.0));
    lcdNumber->setProperty("intValue", QVariant(888888));

    otpButton = AddWidget<QPushButton>(this, "otpButton", QRect(280, 50, 81, 31));

    copyButton = AddWidget<QPushButton>(this, "copyButton", QRect(280, 90, 81, 31));
    copyButton->setAutoFillBackground(false);

    progressBar = AddWidget<QProgressBar>(this, "progressBar", QRect(50, 104, 191, 16));
    progressBar->setMaximum(60);
    progressBar->setValue(0);
    progressBar->setTextVisible(true);

    lcdNumber2 = AddWidget<QLCDNumber>(this, "lcdNumber2", QRect(50, 80, 191, 31));
    lcdNumber2->setDigitCount(6);

    noCodeLabel = AddWidget<QLabel>(this, "noCodeLabel", QRect(262, 45, 117, 81));
    noCodeLabel->setWordWrap(true);
    noCodeLabel->hide();

    // Ctrl+C copies the shown code, exactly as Copy does.
    auto* copyKey = new QShortcut(QKeySequence::Copy, this);
    connect(copyKey, &QShortcut::activated, this, &OtpView::on_copyButton_clicked);

    clockNotice = AddWidget<CClockNotice>(this, "clockNotice", QRect(10, 138, 369, 48), database);

    // The token's QR code, to move it to a phone.
    showQrAction = new QAction(this);
    showQrAction->setObjectName(QStringLiteral("showQrAction"));
    addAction(showQrAction);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(showQrAction, &QAction::triggered, this, &OtpView::showQrCode);

    retranslateUi();
    QMetaObject::connectSlotsByName(this);

    // The background image is light whatever the desktop's palette, so the
    // code, the bar and the buttons keep light colours that go with it: dark
    // segments and text, light buttons and bar.
    const QColor light(0xEF, 0xEF, 0xEF);
    QPalette colours(light, light);
    colours.setColor(QPalette::Highlight, QColor(0x30, 0x8C, 0xC6));
    colours.setColor(QPalette::HighlightedText, Qt::white);
    // Set on every child made above: under the view's style sheet a palette
    // does not pass on to children.
    setPalette(colours);
    for (QWidget* child : findChildren<QWidget*>()) {
        child->setPalette(colours);
    }
}

void OtpView::retranslateUi()
{
    setWindowTitle(QCoreApplication::translate("OtpView", "Form"));
    otpButton->setText(QCoreApplication::translate("OtpView", "OTP"));
    showQrAction->setText(QCoreApplication::translate("OtpView", "Show QR Code\u2026"));
    copyButton->setText(QCoreApplication::translate("OtpView", "Copy"));
    progressBar->setFormat(QCoreApplication::translate("OtpView", "%v"));
    // Which display is which, for screen readers and on hovering.
    lcdNumber->setAccessibleName(QCoreApplication::translate("OtpView", "One-time password"));
    lcdNumber->setToolTip(QCoreApplication::translate("OtpView", "One-time password"));
    lcdNumber2->setAccessibleName(QCoreApplication::translate("OtpView", "Two-way code"));
    lcdNumber2->setToolTip(
        QCoreApplication::translate("OtpView", "Two-way code, from the token's second key"));
    noCodeLabel->setText(QCoreApplication::translate(
        "OtpView", "This token answers challenges and shows no code here."));
}

void OtpView::setToken(int tokenId)
{
    if (displayTimer) {
        displayTimer->stop();
    }

    COtpTokenPtr loaded;
    const bool read = GuardStorage(this, tr("read the token"), [this, &loaded, tokenId] {
        loaded = database.GetToken(tokenId);
    });
    if (!read || !loaded) {
        showNoToken();
        return;
    }

    token = loaded;
    copyButton->setEnabled(false);
    lcdNumber->display(QString::fromLatin1(""));

    const std::string unusable = token->GetUnusableReason();
    if (!unusable.empty()) {
        otpButton->setEnabled(false);
        progressBar->setValue(0);
    } else if (!token->MakesCodes()) {
        showNoCodeNotice();
    } else if (token->IsEventBased()) {
        otpButton->setEnabled(true);
        progressBar->setValue(0);
        // Space presses OTP at once, without a Tab first.
        otpButton->setFocus(Qt::OtherFocusReason);
    } else {
        otpButton->setEnabled(false);
        displayTimer.reset(new QTimer(this));
        connect(displayTimer.get(), &QTimer::timeout, this, &OtpView::show_totp);
        displayTimer->start(1000);
        showOtp(token->GetOtp());
        clockNotice->Watch();
    }

    // A selection that cannot be stored is reported; the token is still shown.
    GuardStorage(this, tr("store the selected token"),
                 [this, tokenId] { database.SetDefaultToken(tokenId); });

    if (QWidget* window = parentWidget()) {
        window->setWindowTitle(TokenWindowTitle(token->GetDisplayName()));
    }

    if (!unusable.empty()) {
        refuseUnusable(unusable);
    }
}

void OtpView::showOtp(const OtpPair& codes)
{
    if (!token) {
        return;
    }

    const QString shown = fromLocal8BitString(codes.first);
    if (shown != code) {
        CodeClipboard::Withdraw(code); // a copied code goes with it from the display
    }
    code = shown;
    const QString secondCode = QString::fromLatin1(codes.second.c_str());

    lcdNumber->setDigitCount(DigitsFor(code, token->Digits));

    // The bar runs through the step the shown code belongs to.
    if (const std::int64_t step = token->GetTimeStep(); step > 0) {
        progressBar->setMaximum(static_cast<int>(step));
        progressBar->setValue(static_cast<int>(ElapsedInStep(step)));
    }

    if (token->TwoWay) {
        arrangeDisplays(true);
        lcdNumber->display(code);
        lcdNumber2->setDigitCount(DigitsFor(secondCode, 6));
        lcdNumber2->display(secondCode);
    } else {
        arrangeDisplays(false);
        lcdNumber->display(code);
    }

    copyButton->setEnabled(true);
}

void OtpView::arrangeDisplays(bool twoDisplays)
{
    QRect main = lcdNumber->geometry();
    QRect progress = progressBar->geometry();
    if (twoDisplays) {
        const QRect second = lcdNumber2->geometry();
        main.setBottom(main.top() + second.bottom() - second.top());
        lcdNumber->setGeometry(main);
        lcdNumber2->show();
        progress.moveTop(second.bottom() + 5);
    } else {
        main.setBottom(main.top() + 40);
        lcdNumber->setGeometry(main);
        lcdNumber2->hide();
        progress.moveTop(main.bottom() + 16);
    }
    progressBar->setGeometry(progress);
}

void OtpView::on_otpButton_clicked()
{
    if (!token) {
        return;
    }
    // Refused before a counter is used up, whatever storage would do.
    if (const std::string reason = token->GetUnusableReason(); !reason.empty()) {
        refuseUnusable(reason);
        return;
    }

    // The counter is reserved in storage before its code is shown, so no
    // counter value is ever shown twice, whatever happens afterwards.
    CCounterReservation press;
    const int id = token->ID;
    const bool stored = GuardStorage(this, tr("store the token's counter"),
                                     [this, &press, id] { press = database.ReserveCounter(id); });
    if (!stored) {
        blankCode();
        return;
    }
    if (!press.Token) {
        showNoToken();
        return;
    }
    token = press.Token;
    if (const std::string reason = token->GetUnusableReason(); !reason.empty()) {
        refuseUnusable(reason);
        return;
    }
    if (!press.Counter) {
        return; // no longer event-based: nothing was reserved, nothing to show
    }

    // The code of the counter storage reserved; the token already agrees with
    // the store, and writing it back could overwrite a newer counter.
    showOtp(token->GetOtpAt(*press.Counter));

    otpButton->setEnabled(false);
    countdown = token->Timer;
    progressBar->setMaximum(token->Timer);

    displayTimer.reset(new QTimer(this));
    connect(displayTimer.get(), &QTimer::timeout, this, &OtpView::autoOffScreen);
    displayTimer->start(1000);

    wakeTimer.reset(new QTimer(this));
    connect(wakeTimer.get(), &QTimer::timeout, this, &OtpView::wakeUpOTPButton);
    // A Sleep read from a damaged row must not overflow the interval.
    wakeTimer->start(static_cast<int>(std::clamp<std::int64_t>(
        static_cast<std::int64_t>(token->Sleep) * 1000, 0, std::numeric_limits<int>::max())));
}

void OtpView::on_copyButton_clicked()
{
    // Nothing shown, nothing copied: the clipboard keeps what the user put there.
    if (code.isEmpty()) {
        return;
    }
    CodeClipboard::Copy(code, secondsLeftForCode());
}

void OtpView::wakeUpOTPButton()
{
    otpButton->setEnabled(true);
    if (wakeTimer) {
        wakeTimer->stop();
        disconnect(wakeTimer.get(), &QTimer::timeout, this, &OtpView::wakeUpOTPButton);
    }
}

void OtpView::autoOffScreen()
{
    if (!token) {
        return;
    }
    --countdown;
    progressBar->setValue(token->Timer - countdown);
    if (countdown <= 0) {
        if (displayTimer) {
            disconnect(displayTimer.get(), &QTimer::timeout, this, &OtpView::autoOffScreen);
        }
        blankCode();
    }
}

void OtpView::show_totp()
{
    if (token) {
        showOtp(token->GetOtp());
    }
}

void OtpView::reject() {}

void OtpView::showNoToken()
{
    blankCode();
    token.reset();
    displayTimer.reset();
    wakeTimer.reset();
    otpButton->setEnabled(false);
}

void OtpView::blankCode()
{
    // Stopped, not deleted: this may run from the timer's own timeout.
    if (displayTimer) {
        displayTimer->stop();
    }
    countdown = 0;
    CodeClipboard::Withdraw(code);
    code = QString();
    lcdNumber->display(QString::fromLatin1(""));
    lcdNumber2->display(QString::fromLatin1(""));
    progressBar->setValue(0);
    copyButton->setEnabled(false);
}

void OtpView::refuseUnusable(const std::string& reason)
{
    blankCode();
    displayTimer.reset();
    wakeTimer.reset();
    otpButton->setEnabled(false);
    QMessageBox::critical(
        this, QString::fromLatin1("Velmora"),
        tr("Token %1 cannot be used; no code can be shown: %2.")
            .arg(fromLocal8BitString(token->GetDisplayName()), fromLocal8BitString(reason)));
}

void OtpView::showNoCodeNotice()
{
    otpButton->setEnabled(false);
    otpButton->hide();
    copyButton->hide();
    progressBar->hide(); // no code, no time for it to run out
    noCodeLabel->show();
}

int OtpView::secondsLeftForCode() const
{
    if (!token) {
        return 0;
    }
    if (token->IsEventBased()) {
        return std::max(countdown, 0);
    }
    const std::int64_t step = token->GetTimeStep();
    return step > 0 ? static_cast<int>(step - ElapsedInStep(step)) : 0;
}

void OtpView::showQrCode()
{
    if (token) {
        // Last: the view may be gone once the PIN prompt returns.
        ShowQrCode(database, token->ID, this);
    }
}
