#include "views/PinAgain.h"

#include "views/PinStorage.h"

#include <QCoreApplication>
#include <QInputDialog>
#include <QLineEdit>

bool ConfirmPin(LocalDatabase& database, QWidget* parent, const QString& purpose)
{
    QString prompt = purpose;
    for (;;) {
        bool given = false;
        const QString pin =
            QInputDialog::getText(parent, QCoreApplication::translate("PinAgain", "PIN"), prompt,
                                  QLineEdit::Password, QString(), &given);
        if (!given) {
            return false;
        }
        switch (CheckStoredPin(database, parent, pin)) {
        case PinCheck::Matches:
            return true;
        case PinCheck::Failed:
            return false;
        case PinCheck::Differs:
            break;
        }
        prompt = QCoreApplication::translate("PinAgain", "That is not the PIN.") +
                 QLatin1Char('\n') + purpose;
    }
}
