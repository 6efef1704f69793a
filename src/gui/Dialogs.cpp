#include "Dialogs.h"

#include "alerts/ProgramLauncher.h"
#include "config/RegistryStore.h"
#include "platform/Autostart.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace {
Dialogs::Responder &responder()
{
    static Dialogs::Responder instance;
    return instance;
}

Dialogs::TextResponder &textResponder()
{
    static Dialogs::TextResponder instance;
    return instance;
}

Dialogs::TitledResponder &titledResponder()
{
    static Dialogs::TitledResponder instance;
    return instance;
}
} // namespace

bool Dialogs::guarded(QWidget *parent, const std::function<void()> &action)
{
    try {
        action();
        return true;
    } catch (const RegistryError &failure) {
        error(parent, failure.message());
    } catch (const LaunchError &failure) {
        error(parent, failure.message());
    } catch (const AutostartError &failure) {
        error(parent, failure.message());
    }
    return false;
}

void Dialogs::setResponder(Responder r)
{
    responder() = std::move(r);
}

void Dialogs::setTextResponder(TextResponder r)
{
    textResponder() = std::move(r);
}

bool Dialogs::getText(QWidget *parent, const QString &title, const QString &label, QString &value)
{
    if (textResponder()) {
        QString typed = value;
        if (!textResponder()(title, label, typed))
            return false;
        value = typed;
        return true;
    }
    bool ok = false;
    const QString typed =
        QInputDialog::getText(parent, title, label, QLineEdit::Normal, value, &ok);
    if (ok)
        value = typed;
    return ok;
}

bool Dialogs::ask(QWidget *parent, Kind kind, const QString &text)
{
    if (responder())
        return responder()(kind, text);
    const QString title = QApplication::applicationDisplayName();
    switch (kind) {
    case Kind::Error:
        QMessageBox::critical(parent, title, text);
        return true;
    case Kind::Information:
        QMessageBox::information(parent, title, text);
        return true;
    case Kind::Warning:
        return QMessageBox::warning(parent, title, text, QMessageBox::Yes | QMessageBox::Cancel,
                                    QMessageBox::Cancel) == QMessageBox::Yes;
    case Kind::Question:
        return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::Cancel,
                                     QMessageBox::Cancel) == QMessageBox::Yes;
    }
    return false;
}

void Dialogs::error(QWidget *parent, const QString &text)
{
    ask(parent, Kind::Error, text);
}

void Dialogs::information(QWidget *parent, const QString &text)
{
    ask(parent, Kind::Information, text);
}

bool Dialogs::confirmWarning(QWidget *parent, const QString &text)
{
    return ask(parent, Kind::Warning, text);
}

void Dialogs::errorLater(QWidget *parent, const QString &text)
{
    if (responder()) {
        responder()(Kind::Error, text);
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Critical, QApplication::applicationDisplayName(), text,
                                QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

void Dialogs::setTitledResponder(TitledResponder r)
{
    titledResponder() = std::move(r);
}

static bool askTitled(QWidget *parent, const QString &title, const QString &text,
                      QMessageBox::StandardButtons buttons,
                      QMessageBox::StandardButton defaultButton, QMessageBox::StandardButton yes)
{
    if (titledResponder())
        return titledResponder()(Dialogs::Kind::Question, title, text);
    if (responder())
        return responder()(Dialogs::Kind::Question, text);
    return QMessageBox::question(parent, title, text, buttons, defaultButton) == yes;
}

bool Dialogs::askYesNo(QWidget *parent, const QString &title, const QString &text)
{
    return askTitled(parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes,
                     QMessageBox::Yes);
}

bool Dialogs::askOkCancel(QWidget *parent, const QString &title, const QString &text)
{
    return askTitled(parent, title, text, QMessageBox::Ok | QMessageBox::Cancel,
                     QMessageBox::Cancel, QMessageBox::Ok);
}
