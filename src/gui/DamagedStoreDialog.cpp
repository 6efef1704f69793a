#include "DamagedStoreDialog.h"

#include "Dialogs.h"

#include "config/RegistryStore.h"
#include "config/StoreRecovery.h"
#include "base/TimeStamp.h"

#include <QApplication>
#include <QPushButton>

DamagedStoreDialog::DamagedStoreDialog(const StoreRecovery &recovery, const QString &reason,
                                       QWidget *parent)
    : QMessageBox(parent)
{
    setIcon(QMessageBox::Warning);
    setWindowTitle(QApplication::applicationDisplayName());
    const bool hasCopy = recovery.lastGood().exists();
    QString text = QStringLiteral("The settings store \"%1\" is damaged and cannot be used (%2).")
                       .arg(recovery.storePath(), reason);
    text += hasCopy ? QStringLiteral("\n\nQuellmark can put back the last good copy of your "
                                     "settings, or start with new settings.")
                    : QStringLiteral("\n\nThere is no good copy of your settings to put back; "
                                     "Quellmark can start with new settings.");
    text += QStringLiteral(" Either way the damaged file is kept aside.");
    setText(text);
    if (hasCopy)
        m_restore = addButton(QStringLiteral("Restore the last good copy (saved %1)")
                                  .arg(TimeStamp::format(recovery.lastGood().savedAt())),
                              QMessageBox::AcceptRole);
    m_startNew = addButton(QStringLiteral("Start with new settings"), QMessageBox::DestructiveRole);
    QAbstractButton *quit = addButton(QStringLiteral("Quit"), QMessageBox::RejectRole);
    setEscapeButton(quit);
    setDefaultButton(qobject_cast<QPushButton *>(m_restore ? m_restore : quit));
}

DamagedStoreDialog::Choice DamagedStoreDialog::choice() const
{
    if (m_restore && clickedButton() == m_restore)
        return Choice::Restore;
    if (clickedButton() == m_startNew)
        return Choice::StartNew;
    return Choice::Quit;
}

bool DamagedStoreDialog::recover(const DamagedStoreError &error, QWidget *parent)
{
    const StoreRecovery recovery(error.path());
    for (;;) {
        DamagedStoreDialog dialog(recovery, error.reason(), parent);
        dialog.exec();
        const Choice choice = dialog.choice();
        if (choice == Choice::Quit)
            return false;
        try {
            const QString aside =
                choice == Choice::Restore ? recovery.restoreLastGood() : recovery.startNew();
            if (!aside.isEmpty())
                Dialogs::information(
                    parent,
                    QStringLiteral("The damaged settings store was kept as \"%1\".").arg(aside));
            return true;
        } catch (const RegistryError &failure) {
            Dialogs::error(parent, failure.message());
        }
    }
}
