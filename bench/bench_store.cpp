// Settings store benchmark: 10,000 accessor writes and 10,000 accessor reads
// on a store of 500 services, each call its own transaction, as the program
// makes them. Prints store_write and store_read as rates, and the time one
// poll cycle's store traffic (one read of each service's values) takes for
// 500 services.

#include "BenchReport.h"

#include "config/Registry.h"
#include "config/RegistryStore.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int Services = 500;
constexpr int Calls = 10000;
constexpr int Rounds = 5;

const QString Root = QStringLiteral("Software\\Kestrin Software\\Quellmark");

QString serviceKey(int i)
{
    return Root + QStringLiteral("\\Services\\HTTP webhost%1/status 8080").arg(i);
}

// Changing values, so every write really writes: a number and a time stamp
// text, as failure tracking writes them.
void writes(int round)
{
    for (int i = 0; i < Calls; ++i) {
        const QString key = serviceKey(i % Services);
        if (i % 2)
            RegWriteInteger(key, QStringLiteral("ActualFailures"), round * Calls + i);
        else
            RegWriteString(key, QStringLiteral("FailureTime"),
                           QStringLiteral("8 Dec 2026 15:%1:%2").arg(i % 60).arg(round % 60));
    }
}

qint64 reads()
{
    qint64 sum = 0;
    for (int i = 0; i < Calls; ++i) {
        const QString key = serviceKey(i % Services);
        switch (i % 4) {
        case 0:
            sum += RegReadInteger(key, QStringLiteral("ActualFailures"), 0);
            break;
        case 1:
            sum += RegReadBool(key, QStringLiteral("SoundAlert"), true);
            break;
        case 2:
            sum += RegReadString(key, QStringLiteral("FailureTime"), QString()).size();
            break;
        default:
            // A value that is not there: the default comes back.
            sum += RegReadString(key, QStringLiteral("OnErrorEmail"), QString()).size();
            break;
        }
    }
    return sum;
}

// What one poll cycle asks of the store for services that answer: the
// no-connection count cleared once, each service's values read in one go,
// its failure count written only when it was not a stored zero.
void cycleTraffic()
{
    RegWriteInteger(Root, QStringLiteral("NoConnActualFailures"), 0);
    for (int s = 0; s < Services; ++s) {
        const RegKeyValues stored(serviceKey(s));
        const int failures = stored.readInteger(QStringLiteral("ActualFailures"), 0);
        for (const char *name :
             {"SoundAlert", "LaunchApplication", "FailuresBeforeLaunch",
              "RepeatLaunchApplication", "SendEmail", "FailuresBeforeEmail", "RepeatEmail"})
            stored.readInteger(QString::fromLatin1(name), 0);
        for (const char *name : {"ProgName", "ProgNameOff", "OnErrorEmail", "OnErrorEmailTo",
                                 "OffErrorEmail", "OffErrorEmailTo", "Pattern"})
            stored.readString(QString::fromLatin1(name), QString());
        if (!(stored.contains(QStringLiteral("ActualFailures")) && failures == 0))
            RegWriteInteger(serviceKey(s), QStringLiteral("ActualFailures"), 0);
    }
}

} // namespace

int main()
{
    QTemporaryDir sandbox;
    if (!sandbox.isValid()) {
        std::fprintf(stderr, "bench_store: no temporary folder\n");
        return 1;
    }
    RegistryStore store(sandbox.path() + QStringLiteral("/registry.sqlite"));
    RegistryStore::setCurrent(&store);
    for (int s = 0; s < Services; ++s) {
        const QString key = serviceKey(s);
        RegWriteBool(key, QStringLiteral("SoundAlert"), true);
        RegWriteBool(key, QStringLiteral("LaunchApplication"), false);
        RegWriteInteger(key, QStringLiteral("FailuresBeforeLaunch"), 1);
        RegWriteBool(key, QStringLiteral("SendEmail"), false);
        RegWriteInteger(key, QStringLiteral("FailuresBeforeEmail"), 1);
        RegWriteInteger(key, QStringLiteral("ActualFailures"), 0);
    }

    std::vector<double> writeTimes, readTimes, cycleTimes;
    qint64 checksum = 0;
    for (int round = 0; round < Rounds; ++round) {
        double start = BenchReport::now();
        writes(round);
        writeTimes.push_back(BenchReport::now() - start);
        start = BenchReport::now();
        checksum += reads();
        readTimes.push_back(BenchReport::now() - start);
        start = BenchReport::now();
        cycleTraffic();
        cycleTimes.push_back(BenchReport::now() - start);
    }
    const double write = BenchReport::median(writeTimes);
    const double read = BenchReport::median(readTimes);
    BenchReport::figure(QStringLiteral("store_write"), Calls / write, QStringLiteral("calls/s"));
    BenchReport::figure(QStringLiteral("store_write_call"), write / Calls * 1e6,
                        QStringLiteral("us"));
    BenchReport::figure(QStringLiteral("store_read"), Calls / read, QStringLiteral("calls/s"));
    BenchReport::figure(QStringLiteral("store_read_call"), read / Calls * 1e6,
                        QStringLiteral("us"));
    BenchReport::figure(QStringLiteral("store_cycle"), BenchReport::median(cycleTimes) * 1000,
                        QStringLiteral("ms"));
    BenchReport::note(QStringLiteral("store: %1 writes and %1 reads a round over %2 services, "
                                     "median of %3 rounds; store_cycle is one poll cycle's store "
                                     "traffic for %2 services (checksum %4)")
                          .arg(Calls)
                          .arg(Services)
                          .arg(Rounds)
                          .arg(checksum));
    QString report;
    if (!store.checkIntegrity(&report)) {
        std::fprintf(stderr, "bench_store: integrity check failed: %s\n",
                     report.toUtf8().constData());
        return 1;
    }
    RegistryStore::setCurrent(nullptr);
    return 0;
}
