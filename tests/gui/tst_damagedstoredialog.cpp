// The question at start when the settings store is damaged: its buttons with
// and without a last good copy, and what each choice leaves on disk.

#include "DamagedStoreDialog.h"
#include "Dialogs.h"

#include "config/LastGoodCopy.h"
#include "config/RegistryStore.h"
#include "base/TimeStamp.h"

#include "support/StoreDamage.h"
#include "support/TestSandbox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <optional>

using namespace StoreDamage;

class TestDamagedStoreDialog : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSandbox> m_sandbox;

    static std::optional<DamagedStoreError> damageOf(const QString &path)
    {
        try {
            RegistryStore store(path);
        } catch (const DamagedStoreError &error) {
            return error;
        }
        return std::nullopt;
    }

private slots:
    void init() { m_sandbox = std::make_unique<TestSandbox>(); }
    void cleanup()
    {
        Dialogs::setResponder(nullptr);
        m_sandbox.reset();
    }

    void choices_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("withCopy");
        QTest::addColumn<QString>("click");
        QTest::addColumn<QString>("valueAfter"); // empty: a new store
        QTest::newRow("half, restore") << "half" << true << "Restore"
                                       << "saved";
        QTest::newRow("random, start new") << "random" << true << "Start"
                                           << "";
        QTest::newRow("half without copy, start new") << "half" << false << "Start"
                                                      << "";
        QTest::newRow("random, quit") << "random" << true << "Quit"
                                      << "-";
        QTest::newRow("half without copy, quit") << "half" << false << "Quit"
                                                 << "-";
    }
    void choices()
    {
        QFETCH(QString, damage);
        QFETCH(bool, withCopy);
        QFETCH(QString, click);
        QFETCH(QString, valueAfter);
        const QString store = m_sandbox->storePath();
        makeStore(store, QStringLiteral("saved"));
        if (withCopy)
            LastGoodCopy(store).save();
        makeStore(store, QStringLiteral("changed"));
        apply(store, damage);
        const QByteArray damaged = readAll(store);
        const std::optional<DamagedStoreError> error = damageOf(store);
        QVERIFY(error);

        QStringList told;
        Dialogs::setResponder([&](Dialogs::Kind, const QString &text) {
            told << text;
            return true;
        });
        QStringList buttons;
        QString text;
        // Answers the dialog as a user would, by its button.
        QTimer driver;
        driver.setInterval(10);
        QObject::connect(&driver, &QTimer::timeout, [&] {
            auto *dialog = qobject_cast<DamagedStoreDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            driver.stop();
            text = dialog->text();
            for (QAbstractButton *button : dialog->buttons())
                buttons << button->text();
            for (QAbstractButton *button : dialog->buttons()) {
                if (button->text().startsWith(click)) {
                    button->click();
                    return;
                }
            }
            dialog->reject();
        });
        driver.start();
        QStringList expected{QStringLiteral("Start with new settings"), QStringLiteral("Quit")};
        if (withCopy)
            expected.prepend(QStringLiteral("Restore the last good copy (saved %1)")
                                 .arg(TimeStamp::format(LastGoodCopy(store).savedAt())));
        const bool recovered = DamagedStoreDialog::recover(*error);

        QVERIFY(text.contains(store));
        // The platform's button box decides the order.
        buttons.sort();
        expected.sort();
        QCOMPARE(buttons, expected);
        QCOMPARE(recovered, click != QLatin1String("Quit"));
        const QStringList aside =
            QDir(QFileInfo(store).path())
                .entryList({QStringLiteral("registry.sqlite.damaged-20*[0-9]")});
        if (!recovered) {
            QCOMPARE(readAll(store), damaged);
            QCOMPARE(aside, QStringList());
            return;
        }
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readAll(QFileInfo(store).path() + QLatin1Char('/') + aside.first()), damaged);
        QCOMPARE(told.size(), 1);
        QVERIFY(told.first().contains(aside.first()));
        QCOMPARE(valueIn(store), valueAfter);
    }
};

QTEST_MAIN(TestDamagedStoreDialog)
#include "tst_damagedstoredialog.moc"
