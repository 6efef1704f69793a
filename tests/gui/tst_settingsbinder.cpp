// The settings table seen through the pages: a first start shows every
// default, and the binder's write rules (on click, on change, on leaving, on
// picking, nothing without a service).

#include "StoreFixture.h"

#include "BoundedSpinBox.h"
#include "SettingsBinder.h"
#include "TfrmMain.h"

#include "config/Registry.h"
#include "config/Settings.h"
#include "engine/PollCycle.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

static const QString Service = QStringLiteral("HTTP webhost 80");

class TestSettingsBinder : public QObject {
    Q_OBJECT

    enum Action {
        ClickCheck,
        ChangeNumber,
        LeaveNumber,
        LeaveNumberNoLeaveRule,
        LeaveText,
        PickFile,
        PickChoice,
        ClickWithoutService
    };

    std::unique_ptr<StoreFixture> m_fixture;

    static void leave(QWidget *w)
    {
        QFocusEvent event(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(w, &event);
    }

private slots:
    void init() { m_fixture = std::make_unique<StoreFixture>(); }
    void cleanup() { m_fixture.reset(); }

    // A fresh store with one service: every page control bound to a value of
    // the table shows its default, and so do the live settings.
    void firstStartShowsEveryDefault()
    {
        m_fixture->store().createKey(m_fixture->context().servicesKey + QStringLiteral("\\") +
                                     Service);
        TfrmMain window(m_fixture->context());
        const QString folder = m_fixture->context().programFolder;
        int bound = 0;
        for (const Setting *s : Settings::All) {
            const SettingsBinder *binder = s->scope == Setting::Scope::Global
                                               ? window.globalSettings()
                                               : window.serviceSettings();
            if (!binder->isBound(*s))
                continue;
            ++bound;
            QVariant expected = s->defaultNumber;
            if (s->type == Setting::Type::Bool)
                expected = s->defaultBool();
            else if (s->type == Setting::Type::String)
                expected = s->defaultText(folder);
            QCOMPARE(binder->shown(*s), expected);
        }
        QCOMPARE(bound, 27 + 18);

        const LiveSettings live = window.liveSettings();
        const LiveSettings defaults;
        QCOMPARE(live.normalFreqMins, defaults.normalFreqMins);
        QCOMPARE(live.connectionTimeoutSecs, defaults.connectionTimeoutSecs);
        QCOMPARE(live.visualAlert, defaults.visualAlert);
        QCOMPARE(live.proxyPort, defaults.proxyPort);
    }

    void writeRules_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("expected"); // invalid: nothing stored
        QTest::newRow("check box writes on click")
            << int(ClickCheck) << "UseHttpProxy" << QVariant(1);
        QTest::newRow("number writes on change")
            << int(ChangeNumber) << "NormalConnectionFreq" << QVariant(30);
        QTest::newRow("number writes on leaving, changed or not")
            << int(LeaveNumber) << "NoConnFailures" << QVariant(5);
        QTest::newRow("number without the leaving rule")
            << int(LeaveNumberNoLeaveRule) << "NormalConnectionFreq" << QVariant();
        QTest::newRow("text writes on leaving")
            << int(LeaveText) << "SmtpServer" << QVariant("mailhost");
        QTest::newRow("file writes when picked")
            << int(PickFile) << "NoConnProgName" << QVariant("/bin/x");
        QTest::newRow("choice writes when picked")
            << int(PickChoice) << "SmtpSecurity" << QVariant(2);
        QTest::newRow("no service, nothing written")
            << int(ClickWithoutService) << "SendEmail" << QVariant();
    }

    void writeRules()
    {
        QFETCH(int, action);
        QFETCH(QString, name);
        QFETCH(QVariant, expected);

        const SettingsAccess access(m_fixture->context());
        QWidget page;
        auto *check = new QCheckBox(&page);
        auto *freq = new BoundedSpinBox(&page);
        auto *failures = new BoundedSpinBox(&page);
        auto *server = new QLineEdit(&page);
        auto *program = new QLineEdit(&page);
        auto *browse = new QPushButton(&page);
        auto *security = new QComboBox(&page);
        security->addItems({"None", "STARTTLS", "SSL/TLS"});
        auto *sendEmail = new QCheckBox(&page);
        QString picked = QStringLiteral("/bin/x");
        const SettingsBinder::Guard guard = [&](const std::function<void()> &f) {
            f();
            return true;
        };
        QList<bool> enabled;
        SettingsBinder global(access, guard);
        global.bindCheck(Settings::UseHttpProxy, check, [&](bool on) { enabled << on; });
        global.bindNumber(Settings::NormalConnectionFreq, freq, 15, false);
        global.bindNumber(Settings::NoConnFailures, failures, 1, true);
        global.bindText(Settings::SmtpServer, server);
        global.bindFile(Settings::NoConnProgName, program, browse, [&] { return picked; });
        global.bindChoice(Settings::SmtpSecurity, security);
        SettingsBinder service(access, guard, [] { return QString(); });
        service.bindCheck(Settings::SendEmail, sendEmail);
        // Binding shows the defaults and stores nothing.
        QCOMPARE(enabled, QList<bool>{false});
        QCOMPARE(freq->value(), 60);
        QVERIFY(m_fixture->store().valueNames(m_fixture->context().settingsRoot).isEmpty());

        switch (Action(action)) {
        case ClickCheck:
            check->click();
            QCOMPARE(enabled, (QList<bool>{false, true}));
            break;
        case ChangeNumber:
            freq->setValue(30);
            break;
        case LeaveNumber:
            failures->setValue(5);
            m_fixture->store().deleteValue(m_fixture->context().settingsRoot, name);
            leave(failures);
            break;
        case LeaveNumberNoLeaveRule:
            leave(freq);
            break;
        case LeaveText:
            server->setText(QStringLiteral("mailhost"));
            QVERIFY(!m_fixture->store().value(m_fixture->context().settingsRoot, name));
            leave(server);
            break;
        case PickFile:
            browse->click();
            QCOMPARE(program->text(), picked);
            break;
        case PickChoice:
            security->setCurrentIndex(2);
            emit security->activated(2);
            break;
        case ClickWithoutService:
            sendEmail->click();
            QVERIFY(!m_fixture->store().keyExists(m_fixture->context().servicesKey));
            break;
        }

        const std::optional<RegValue> value =
            m_fixture->store().value(m_fixture->context().settingsRoot, name);
        QVariant actual;
        if (value)
            actual = value->type == RegType::DWord ? QVariant(value->toDWord())
                                                   : QVariant(value->toString());
        QCOMPARE(actual, expected);
    }
};

QTEST_MAIN(TestSettingsBinder)
#include "tst_settingsbinder.moc"
