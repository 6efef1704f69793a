#pragma once

#include "config/Settings.h"

#include <QList>
#include <QObject>
#include <QVariant>

#include <functional>
#include <optional>

class BoundedSpinBox;
class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QWidget;

// Ties stored settings to the page controls that show and change them, and
// applies the pages' write rules in one place:
// - a check box writes when clicked;
// - a number field writes on every change of its number, typed, stepped or
//   set from code, and where asked also when it is left (the clamped number);
// - a text field writes when it loses the focus, a file field also when a
//   file is picked;
// - a list writes when the user picks an entry.
// Values of a service go to the service named by the name source; while it
// names none, nothing is written. Store failures go to the guard, which
// reports them.
class SettingsBinder : public QObject {
    Q_OBJECT
public:
    // Runs an action, reports a failure of it; false when it failed.
    using Guard = std::function<bool(const std::function<void()> &)>;

    SettingsBinder(const SettingsAccess &access, Guard guard,
                   std::function<QString()> serviceName = {}, QObject *parent = nullptr);

    // `enable` runs before the write with the new state (enabling rules that
    // hold whatever the store does), `after` once the value is written. The
    // box starts in the default state with its enabling rules applied.
    void bindCheck(const Setting &setting, QCheckBox *box, std::function<void(bool on)> enable = {},
                   std::function<void()> after = {});
    // The field gets the setting's bounds and shows `initial` (the default
    // unless given) until the stored number is loaded.
    void bindNumber(const Setting &setting, BoundedSpinBox *spin, int step, bool writeOnLeave,
                    std::optional<int> initial = std::nullopt);
    void bindText(const Setting &setting, QLineEdit *edit);
    // A text field with a button that picks a file: `pick` returns the chosen
    // path, empty when the user cancelled.
    void bindFile(const Setting &setting, QLineEdit *edit, QAbstractButton *browse,
                  std::function<QString()> pick);
    void bindChoice(const Setting &setting, QComboBox *combo);

    // Puts every stored value (or its default) into its control, in binding
    // order; a value that cannot be read is reported and the rest still load.
    // A check box whose state changes runs its click handler (the value is
    // written back, the rules apply); a number field writes back through its
    // change handler. With no service named, text fields are emptied and the
    // rest keep their state.
    void load();

    bool isBound(const Setting &setting) const;
    // What the setting's control shows now: bool, int or text.
    QVariant shown(const Setting &setting) const;

private:
    enum class Kind { Check, Number, Text, Choice };
    struct Binding {
        const Setting *setting;
        Kind kind;
        QWidget *control;
        std::function<void()> click; // Check: what a click runs
    };

    const Binding *find(const Setting &setting) const;
    void loadOne(const Binding &binding, const QString &serviceName);
    // Writes the control's present value; nothing while no service is named.
    void write(const Binding &binding);
    QString currentService() const;

    const SettingsAccess &m_access;
    Guard m_guard;
    std::function<QString()> m_serviceName;
    QList<Binding> m_bindings;
};
