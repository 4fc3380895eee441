#include "views/StorageGuard.h"

#include "storage/Diagnostics.h"

#include <QMessageBox>
#include <QString>
#include <QWidget>

#include <exception>

namespace {

// One line for standard error: line breaks inside a message would split it.
QString OneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

void Report(QWidget* parent, const QString& action, const QString& reason)
{
    const QString line = QStringLiteral("Velmora: could not %1: %2").arg(action, OneLine(reason));
    ReportDiagnostic(line.toLocal8Bit().toStdString());

    QWidget* owner = parent != nullptr ? parent->window() : nullptr;
    QMessageBox::critical(owner, QStringLiteral("Velmora"),
                          QStringLiteral("Could not %1.\n\n%2").arg(action, reason));
}

} // namespace

bool GuardStorage(QWidget* parent, const QString& action, const std::function<void()>& call)
{
    try {
        call();
        return true;
    } catch (const std::exception& error) {
        Report(parent, action, QString::fromLocal8Bit(error.what()));
    } catch (...) {
        Report(parent, action, QStringLiteral("unknown error"));
    }
    return false;
}
