#include "views/OtpView.h"
#include "otp/Clock.h"
#include "storage/LocalDatabase.h"
#include "views/FormBuilder.h"
#include "views/Local8Bit.h"
#include "views/StorageGuard.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QFrame>
#include <QLCDNumber>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QRect>
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

} // namespace

OtpView::OtpView(QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), code(), token(), countdown(0), displayTimer(), wakeTimer()
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

    retranslateUi();
    QMetaObject::connectSlotsByName(this);
}

void OtpView::retranslateUi()
{
    setWindowTitle(QCoreApplication::translate("OtpView", "Form"));
    otpButton->setText(QCoreApplication::translate("OtpView", "OTP"));
    copyButton->setText(QCoreApplication::translate("OtpView", "Copy"));
    progressBar->setFormat(QCoreApplication::translate("OtpView", "%v"));
}

void OtpView::setToken(int tokenId)
{
    if (displayTimer) {
        displayTimer->stop();
    }

    COtpTokenPtr loaded;
    const bool read = GuardStorage(this, tr("read the token"), [&loaded, tokenId] {
        loaded = g_localDatabase.GetToken(tokenId);
    });
    if (!read || !loaded) {
        showNoToken();
        return;
    }

    token = loaded;
    copyButton->setEnabled(false);
    lcdNumber->display(QString::fromLatin1(""));

    const bool readable = hasReadableSecret();
    if (!readable) {
        otpButton->setEnabled(false);
        progressBar->setValue(0);
    } else if (token->IsEventBased()) {
        otpButton->setEnabled(true);
        progressBar->setValue(0);
    } else {
        otpButton->setEnabled(false);
        displayTimer.reset(new QTimer(this));
        connect(displayTimer.get(), &QTimer::timeout, this, &OtpView::show_totp);
        displayTimer->start(1000);
        showOtp();
        progressBar->setMaximum(token->Timer);
    }

    // A selection that cannot be stored is reported; the token is still shown.
    GuardStorage(this, tr("store the selected token"),
                 [tokenId] { g_localDatabase.SetDefaultToken(tokenId); });

    if (QWidget* window = parentWidget()) {
        window->setWindowTitle(QString::fromLatin1("Velmora [%1]")
                                   .arg(QString::fromLatin1(token->GetDisplayName().c_str())));
    }

    if (!readable) {
        reportUnreadableSecret();
    }
}

void OtpView::showOtp()
{
    if (!token) {
        return;
    }

    const OtpPair codes = token->GetOtp();
    code = fromLocal8BitString(codes.first);
    const QString secondCode = QString::fromLatin1(codes.second.c_str());

    lcdNumber->setDigitCount(DigitsFor(code, token->Digits));

    if (!token->IsEventBased() && token->Timer != 0) {
        progressBar->setValue(static_cast<int>(OtpClock::Now() % token->Timer));
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

    // The counter is reserved in storage before its code is shown, so no
    // counter value is ever shown twice, whatever happens afterwards.
    COtpTokenPtr reserved;
    const int id = token->ID;
    const bool stored = GuardStorage(this, tr("store the token's counter"), [&reserved, id] {
        reserved = g_localDatabase.ReserveCounter(id);
    });
    if (!stored) {
        blankCode();
        return;
    }
    if (!reserved) {
        showNoToken();
        return;
    }
    token = reserved;
    if (!hasReadableSecret()) {
        blankCode();
        wakeTimer.reset();
        otpButton->setEnabled(false);
        reportUnreadableSecret();
        return;
    }

    // GetOtp uses the reserved counter and leaves the object agreeing with
    // the store; writing it back could overwrite a newer counter.
    showOtp();

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
    QApplication::clipboard()->setText(code, QClipboard::Clipboard);
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
            displayTimer->stop();
            disconnect(displayTimer.get(), &QTimer::timeout, this, &OtpView::autoOffScreen);
        }
        lcdNumber->display(QString::fromLatin1(""));
        progressBar->setValue(0);
        copyButton->setEnabled(false);
        if (!code.isNull()) {
            code = QString();
        }
    }
}

void OtpView::show_totp()
{
    if (token) {
        showOtp();
    }
}

void OtpView::reject() {}

void OtpView::showNoToken()
{
    token.reset();
    displayTimer.reset();
    wakeTimer.reset();
    code = QString();
    copyButton->setEnabled(false);
    otpButton->setEnabled(false);
    lcdNumber->display(QString::fromLatin1(""));
}

void OtpView::blankCode()
{
    displayTimer.reset();
    countdown = 0;
    code = QString();
    lcdNumber->display(QString::fromLatin1(""));
    progressBar->setValue(0);
    copyButton->setEnabled(false);
}

bool OtpView::hasReadableSecret() const
{
    // ReserveCounter stores nothing for a token that cannot compute (a counter
    // at its end, Digits out of range): such a token must not show a code.
    return token && token->OtpKeyLength > 0 && token->GetUnusableReason().empty();
}

void OtpView::reportUnreadableSecret()
{
    QMessageBox::critical(this, QString::fromLatin1("Velmora"),
                          tr("The secret of token %1 cannot be read; no code can be shown.")
                              .arg(QString::fromLatin1(token->GetDisplayName().c_str())));
}
