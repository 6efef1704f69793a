#pragma once

#include <QMessageBox>

class DamagedStoreError;
class StoreRecovery;

// Shown at start when the settings store is damaged: names the file and
// offers to put back the last good copy (when there is one), to start with
// new settings, or to quit. The work is StoreRecovery's.
class DamagedStoreDialog : public QMessageBox {
    Q_OBJECT

public:
    enum class Choice { Restore, StartNew, Quit };

    DamagedStoreDialog(const StoreRecovery &recovery, const QString &reason,
                       QWidget *parent = nullptr);
    // The button the user pressed; Quit for a dialog closed otherwise.
    Choice choice() const;

    // Asks until the user picks a way that works, and takes it. True when a
    // store can be opened at the path now, false when the user quit. A
    // failed way is shown in an error box and the question comes again.
    static bool recover(const DamagedStoreError &error, QWidget *parent = nullptr);

private:
    QAbstractButton *m_restore = nullptr;
    QAbstractButton *m_startNew = nullptr;
};
