#pragma once

#include <QSpinBox>

// A number field whose bounds apply when the user leaves it, not while typing:
// every change of the shown number (each keystroke, each arrow step, a value
// set from code) is reported at once with changed(), a text that is not a
// number counting as the minimum; leaving the field replaces a number outside
// the bounds by the nearest bound and reports left(). A field whose minimum
// equals its maximum has no bounds at all.
class BoundedSpinBox : public QSpinBox {
    Q_OBJECT
public:
    explicit BoundedSpinBox(QWidget *parent = nullptr);

    void setBounds(int minimum, int maximum);
    int lowerBound() const { return m_min; }
    int upperBound() const { return m_max; }
    bool hasBounds() const { return m_min != m_max; }
    int clampToBounds(int value) const;

    // The number the field stands for right now (minimum for non-numbers).
    int currentNumber() const;

    void stepBy(int steps) override;

signals:
    void changed(int value);
    void left(int value);

protected:
    void focusOutEvent(QFocusEvent *event) override;
    QValidator::State validate(QString &text, int &pos) const override;

private:
    void reportIfChanged();

    int m_min = 0;
    int m_max = 0;
    int m_lastReported = 0;
    bool m_haveReported = false;
};
