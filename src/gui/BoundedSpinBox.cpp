#include "BoundedSpinBox.h"

#include <QLineEdit>

#include <limits>

BoundedSpinBox::BoundedSpinBox(QWidget *parent) : QSpinBox(parent)
{
    // The widget itself accepts any number; our bounds are applied on leaving.
    QSpinBox::setRange(-99999999, 999999999);
    setKeyboardTracking(true);
    connect(lineEdit(), &QLineEdit::textChanged, this, [this] { reportIfChanged(); });
    connect(this, &QSpinBox::valueChanged, this, [this] { reportIfChanged(); });
}

void BoundedSpinBox::setBounds(int minimum, int maximum)
{
    m_min = minimum;
    m_max = maximum;
}

int BoundedSpinBox::clampToBounds(int value) const
{
    if (!hasBounds())
        return value;
    return qBound(m_min, value, m_max);
}

int BoundedSpinBox::currentNumber() const
{
    bool ok = false;
    const int number = cleanText().trimmed().toInt(&ok);
    return ok ? number : m_min;
}

void BoundedSpinBox::reportIfChanged()
{
    const int number = currentNumber();
    if (m_haveReported && number == m_lastReported)
        return;
    m_haveReported = true;
    m_lastReported = number;
    emit changed(number);
}

void BoundedSpinBox::stepBy(int steps)
{
    const qint64 next = qint64(currentNumber()) + qint64(steps) * singleStep();
    const int stepped = static_cast<int>(
        qBound(qint64(std::numeric_limits<int>::min()), next, qint64(std::numeric_limits<int>::max())));
    setValue(clampToBounds(stepped));
    selectAll();
}

void BoundedSpinBox::focusOutEvent(QFocusEvent *event)
{
    const int clamped = clampToBounds(currentNumber());
    if (clamped != value() || cleanText().trimmed() != QString::number(clamped))
        setValue(clamped);
    // setValue leaves the text alone when the value is unchanged but the text
    // is not a number; put the number back explicitly.
    if (cleanText().trimmed() != QString::number(clamped))
        lineEdit()->setText(textFromValue(clamped));
    QSpinBox::focusOutEvent(event);
    emit left(clamped);
}

QValidator::State BoundedSpinBox::validate(QString &text, int &pos) const
{
    // Anything typed is accepted while typing; non-numbers count as minimum.
    Q_UNUSED(pos);
    bool ok = false;
    text.trimmed().toInt(&ok);
    return ok ? QValidator::Acceptable : QValidator::Intermediate;
}
