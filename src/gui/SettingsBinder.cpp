#include "SettingsBinder.h"

#include "BoundedSpinBox.h"
#include "FocusOutWatcher.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

SettingsBinder::SettingsBinder(const SettingsAccess &access, Guard guard,
                               std::function<QString()> serviceName, QObject *parent)
    : QObject(parent), m_access(access), m_guard(std::move(guard)),
      m_serviceName(std::move(serviceName))
{
}

QString SettingsBinder::currentService() const
{
    return m_serviceName ? m_serviceName() : QString();
}

void SettingsBinder::bindCheck(const Setting &setting, QCheckBox *box,
                               std::function<void(bool on)> enable, std::function<void()> after)
{
    box->setChecked(setting.defaultBool());
    if (enable)
        enable(setting.defaultBool());
    Binding binding{&setting, Kind::Check, box, {}};
    binding.click = [this, binding, box, enable, after] {
        if (enable)
            enable(box->isChecked());
        write(binding);
        if (after)
            after();
    };
    connect(box, &QCheckBox::clicked, this, [this, click = binding.click] { m_guard(click); });
    m_bindings.append(binding);
}

void SettingsBinder::bindNumber(const Setting &setting, BoundedSpinBox *spin, int step,
                                bool writeOnLeave, std::optional<int> initial)
{
    spin->setBounds(setting.minimum, setting.maximum);
    spin->setSingleStep(step);
    // Shown before the handlers are connected: the first number is not a
    // change to store.
    spin->setValue(initial.value_or(setting.defaultNumber));
    const Binding binding{&setting, Kind::Number, spin, {}};
    connect(spin, &BoundedSpinBox::changed, this,
            [this, binding] { m_guard([&] { write(binding); }); });
    if (writeOnLeave)
        connect(spin, &BoundedSpinBox::left, this,
                [this, binding] { m_guard([&] { write(binding); }); });
    m_bindings.append(binding);
}

void SettingsBinder::bindText(const Setting &setting, QLineEdit *edit)
{
    const Binding binding{&setting, Kind::Text, edit, {}};
    FocusOutWatcher::watch(edit, [this, binding] { m_guard([&] { write(binding); }); });
    m_bindings.append(binding);
}

void SettingsBinder::bindFile(const Setting &setting, QLineEdit *edit, QAbstractButton *browse,
                              std::function<QString()> pick)
{
    bindText(setting, edit);
    const Binding binding = m_bindings.constLast();
    connect(browse, &QAbstractButton::clicked, this, [this, binding, edit, pick] {
        const QString file = pick();
        if (file.isEmpty())
            return;
        edit->setText(file);
        m_guard([&] { write(binding); });
    });
}

void SettingsBinder::bindChoice(const Setting &setting, QComboBox *combo)
{
    const Binding binding{&setting, Kind::Choice, combo, {}};
    connect(combo, &QComboBox::activated, this,
            [this, binding] { m_guard([&] { write(binding); }); });
    m_bindings.append(binding);
}

void SettingsBinder::write(const Binding &binding)
{
    const Setting &setting = *binding.setting;
    const QString service = currentService();
    if (setting.scope == Setting::Scope::Service && service.isEmpty())
        return;
    switch (binding.kind) {
    case Kind::Check:
        m_access.writeBool(setting, static_cast<QCheckBox *>(binding.control)->isChecked(),
                           service);
        break;
    case Kind::Number:
        m_access.writeInteger(
            setting, static_cast<BoundedSpinBox *>(binding.control)->currentNumber(), service);
        break;
    case Kind::Text:
        m_access.writeString(setting, static_cast<QLineEdit *>(binding.control)->text(), service);
        break;
    case Kind::Choice:
        m_access.writeInteger(setting, static_cast<QComboBox *>(binding.control)->currentIndex(),
                              service);
        break;
    }
}

void SettingsBinder::loadOne(const Binding &binding, const QString &service)
{
    const Setting &setting = *binding.setting;
    switch (binding.kind) {
    case Kind::Check: {
        auto *box = static_cast<QCheckBox *>(binding.control);
        const bool stored = m_access.readBool(setting, service);
        if (stored != box->isChecked()) {
            box->setChecked(stored);
            binding.click();
        }
        break;
    }
    case Kind::Number: {
        auto *spin = static_cast<BoundedSpinBox *>(binding.control);
        spin->setValue(spin->clampToBounds(m_access.readInteger(setting, service)));
        break;
    }
    case Kind::Text:
        static_cast<QLineEdit *>(binding.control)->setText(m_access.readString(setting, service));
        break;
    case Kind::Choice: {
        auto *combo = static_cast<QComboBox *>(binding.control);
        const int stored = qBound(0, m_access.readInteger(setting, service), combo->count() - 1);
        if (stored != combo->currentIndex()) {
            combo->setCurrentIndex(stored);
            write(binding);
        }
        break;
    }
    }
}

void SettingsBinder::load()
{
    const QString service = currentService();
    for (const Binding &binding : std::as_const(m_bindings)) {
        m_guard([&] {
            if (binding.setting->scope == Setting::Scope::Global || !service.isEmpty())
                loadOne(binding, service);
            else if (binding.kind == Kind::Text)
                static_cast<QLineEdit *>(binding.control)->clear();
        });
    }
}

const SettingsBinder::Binding *SettingsBinder::find(const Setting &setting) const
{
    for (const Binding &binding : m_bindings) {
        if (binding.setting == &setting)
            return &binding;
    }
    return nullptr;
}

bool SettingsBinder::isBound(const Setting &setting) const
{
    return find(setting) != nullptr;
}

QVariant SettingsBinder::shown(const Setting &setting) const
{
    const Binding *binding = find(setting);
    if (!binding)
        return {};
    switch (binding->kind) {
    case Kind::Check:
        return static_cast<QCheckBox *>(binding->control)->isChecked();
    case Kind::Number:
        return static_cast<BoundedSpinBox *>(binding->control)->currentNumber();
    case Kind::Text:
        return static_cast<QLineEdit *>(binding->control)->text();
    case Kind::Choice:
        return static_cast<QComboBox *>(binding->control)->currentIndex();
    }
    return {};
}
