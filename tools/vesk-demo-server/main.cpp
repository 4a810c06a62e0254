// vesk-demo-server: an alerts server for demos and tests. Speaks the client's protocol over
// TCP and over the HTTP tunnel, with made-up market data, and logs every request it reads.

#include "AlertsServer.h"
#include "ServerLog.h"
#include "ServerOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <cstdio>

namespace {

[[noreturn]] void Fail(const QString& text)
{
    std::fprintf(stderr, "vesk-demo-server: %s\n", qPrintable(text));
    std::exit(2);
}

int IntOption(const QCommandLineParser& p, const QString& name, int low, int high)
{
    bool ok = false;
    const int v = p.value(name).toInt(&ok);
    if (!ok || v < low || v > high)
        Fail(QStringLiteral("--%1 wants a whole number from %2 to %3").arg(name).arg(low).arg(high));
    return v;
}

QVector<TScriptLine> LoadScript(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        Fail(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    QVector<TScriptLine> lines;
    int number = 0;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        ++number;
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype tab = line.indexOf('\t');
        if (tab <= 0) {
            LogProblem(path.toLocal8Bit() + ":" + QByteArray::number(number) +
                       ": no <category><TAB><form text>; skipped");
            continue;
        }
        lines.append({line.left(tab), line.mid(tab + 1)});
    }
    if (lines.isEmpty())
        Fail(QStringLiteral("%1 holds no script lines").arg(path));
    return lines;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vesk-demo-server"));

    QCommandLineParser p;
    QByteArray help =
        "Usage: vesk-demo-server [options]\n"
        "Alerts server for demos and tests. The first stdout line is \"listening on ADDR:PORT\";\n"
        "then one line per event: CONN <n> open|close, OPEN/REQ/POST {json}.\n\n"
        "  --help                         This list.\n";
    p.addOption({QStringLiteral("help"), QStringLiteral("This list.")});
    const auto add = [&p, &help](const char* name, const char* valueName, const char* text) {
        const QByteArray left =
            QByteArray("  --") + name + (valueName ? QByteArray(" ") + valueName : QByteArray());
        help += left.leftJustified(33, ' ') + text + '\n';
        if (valueName)
            p.addOption({QString::fromLatin1(name), QString::fromLatin1(text),
                         QString::fromLatin1(valueName)});
        else
            p.addOption({QString::fromLatin1(name), QString::fromLatin1(text)});
    };
    add("listen", "ADDR", "Address to listen on (default 127.0.0.1).");
    add("port", "N", "Port to listen on (default 9339; 0 picks a free one).");
    add("seed", "N", "Seed of the made-up market data (default: random).");
    add("category", "NAME=KIND", "Category NAME gets KIND's data (quickstrike, bollinger, symbols, points, simple, rook, tamber, wex); repeatable.");
    add("rate", "N", "Single-row alerts per second per subscribed category (default 4; 0: none).");
    add("list-interval", "MS", "Milliseconds between whole lists of points and wex categories (default 1000; 0: none).");
    add("burst", "N", "Send N alerts per category at once right after listen_for_alerts.");
    add("no-alerts", nullptr, "Send no alerts at all.");
    add("script", "FILE", "Play lines \"<category><TAB><form text>\" instead of made-up data.");
    add("script-interval", "MS", "Milliseconds between script lines (default 200).");
    add("script-once", nullptr, "Play the script once instead of looping.");
    add("script-unfiltered", nullptr, "Send script lines also for categories not subscribed.");
    add("stop", "TEXT", "Refuse every login with \"STOP\" and TEXT, then close.");
    add("close-after", "MS", "Close each connection MS milliseconds after its opening command.");
    add("no-ping-replies", nullptr, "Answer no pings.");
    add("no-ping-replies-after", "N", "Answer the first N pings of each connection, then none.");
    add("garbage", nullptr, "Send bytes that are not zlib right after the opening command.");
    add("zip-bomb", "MIB", "After the login reply send MIB MiB of valid empty frames (id 0, length 0), deflated (about 1 KiB on the wire per MiB), as fast as the client takes them; the conversation then goes on as usual.");
    add("huge-alert", "MIB", "After listen send one alert of about MIB MiB to the first category: a made-up row with a symbol of a fifth of it (at most 8 MiB) and up to 200,000 extra fields.");
    add("bad-frame", "negative|huge", "After the login reply send a good frame and then one of length -5 or 0x7fffff00, then nothing.");
    add("faults-first", "N", "Apply --garbage and --bad-frame only to the first N connections.");
    add("blast", "N", "Instead of the made-up alerts: after listen send N alerts of the realistic mix over the subscribed categories (98 % single-row alerts of the single-row kinds in turn, 2 % top lists of 20 rows of the list kinds), each carrying blast_seq (0, 1, ...) and blast_sent (microseconds since 1970 when made). Without --blast-rate (and up to 2,000,000 alerts) the whole blast is made and compressed first and then written as fast as the client takes it; logs BLAST {...} when all are written.");
    add("blast-rate", "N", "Alerts per second of --blast (default 0: no limit).");
    add("post-fail", "N", "Answer the first N tunnel uploads with status 500.");
    add("post-delay", "MS", "Delay the answer to every tunnel upload.");
    if (!p.parse(app.arguments()))
        Fail(p.errorText());
    if (p.isSet(QStringLiteral("help"))) {
        std::fwrite(help.constData(), 1, size_t(help.size()), stdout);
        return 0;
    }
    if (!p.positionalArguments().isEmpty())
        Fail(QStringLiteral("unexpected argument %1").arg(p.positionalArguments().front()));

    TServerOptions o;
    if (p.isSet(QStringLiteral("listen")) && !o.Listen.setAddress(p.value(QStringLiteral("listen"))))
        Fail(QStringLiteral("--listen wants an IP address"));
    if (p.isSet(QStringLiteral("port")))
        o.Port = quint16(IntOption(p, QStringLiteral("port"), 0, 65535));
    if (p.isSet(QStringLiteral("seed"))) {
        bool ok = false;
        o.Seed = p.value(QStringLiteral("seed")).toULongLong(&ok);
        if (!ok)
            Fail(QStringLiteral("--seed wants a whole number"));
    }
    for (const QString& mapping : p.values(QStringLiteral("category"))) {
        const qsizetype eq = mapping.indexOf(QLatin1Char('='));
        const auto kind = eq > 0 ? AlertKindFromName(mapping.mid(eq + 1).toLatin1()) : std::nullopt;
        if (!kind)
            Fail(QStringLiteral("--category wants NAME=KIND with a known KIND, not \"%1\"").arg(mapping));
        o.CategoryKinds.insert(mapping.left(eq).toLatin1(), *kind);
    }
    if (p.isSet(QStringLiteral("rate"))) {
        bool ok = false;
        o.Rate = p.value(QStringLiteral("rate")).toDouble(&ok);
        if (!ok || o.Rate < 0 || o.Rate > 1e6)
            Fail(QStringLiteral("--rate wants a number from 0 to 1000000"));
    }
    if (p.isSet(QStringLiteral("list-interval")))
        o.ListIntervalMs = IntOption(p, QStringLiteral("list-interval"), 0, 86'400'000);
    if (p.isSet(QStringLiteral("burst")))
        o.Burst = IntOption(p, QStringLiteral("burst"), 0, 10'000'000);
    o.NoAlerts = p.isSet(QStringLiteral("no-alerts"));
    if (p.isSet(QStringLiteral("script")))
        o.Script = LoadScript(p.value(QStringLiteral("script")));
    if (p.isSet(QStringLiteral("script-interval")))
        o.ScriptIntervalMs = IntOption(p, QStringLiteral("script-interval"), 1, 86'400'000);
    o.ScriptOnce = p.isSet(QStringLiteral("script-once"));
    o.ScriptUnfiltered = p.isSet(QStringLiteral("script-unfiltered"));
    if (p.isSet(QStringLiteral("stop")))
        o.StopText = p.value(QStringLiteral("stop")).toLatin1();
    if (p.isSet(QStringLiteral("close-after")))
        o.CloseAfterMs = IntOption(p, QStringLiteral("close-after"), 0, 86'400'000);
    if (p.isSet(QStringLiteral("no-ping-replies")))
        o.PingRepliesLimit = 0;
    if (p.isSet(QStringLiteral("no-ping-replies-after")))
        o.PingRepliesLimit = IntOption(p, QStringLiteral("no-ping-replies-after"), 0, 1'000'000'000);
    o.Garbage = p.isSet(QStringLiteral("garbage"));
    if (p.isSet(QStringLiteral("bad-frame"))) {
        const QString v = p.value(QStringLiteral("bad-frame"));
        if (v == QLatin1String("negative"))
            o.BadFrame = TBadFrame::Negative;
        else if (v == QLatin1String("huge"))
            o.BadFrame = TBadFrame::Huge;
        else
            Fail(QStringLiteral("--bad-frame wants negative or huge"));
    }
    if (p.isSet(QStringLiteral("faults-first")))
        o.FaultConnections = IntOption(p, QStringLiteral("faults-first"), 0, 1'000'000'000);
    if (p.isSet(QStringLiteral("zip-bomb")))
        o.ZipBombMiB = IntOption(p, QStringLiteral("zip-bomb"), 0, 1'000'000);
    if (p.isSet(QStringLiteral("huge-alert")))
        o.HugeAlertMiB = IntOption(p, QStringLiteral("huge-alert"), 0, 1024);
    if (p.isSet(QStringLiteral("blast"))) {
        bool ok = false;
        o.Blast = p.value(QStringLiteral("blast")).toLongLong(&ok);
        if (!ok || o.Blast < 0 || o.Blast > 1'000'000'000)
            Fail(QStringLiteral("--blast wants a whole number from 0 to 1000000000"));
    }
    if (p.isSet(QStringLiteral("blast-rate"))) {
        bool ok = false;
        o.BlastRate = p.value(QStringLiteral("blast-rate")).toDouble(&ok);
        if (!ok || o.BlastRate < 0 || o.BlastRate > 1e7)
            Fail(QStringLiteral("--blast-rate wants a number from 0 to 10000000"));
    }
    if (p.isSet(QStringLiteral("post-fail")))
        o.PostFail = IntOption(p, QStringLiteral("post-fail"), 0, 1'000'000'000);
    if (p.isSet(QStringLiteral("post-delay")))
        o.PostDelayMs = IntOption(p, QStringLiteral("post-delay"), 0, 86'400'000);

    TAlertsServer server(std::move(o));
    QString error;
    if (!server.Start(error))
        Fail(QStringLiteral("cannot listen: %1").arg(error));
    LogLine("listening on " + server.Options().Listen.toString().toLatin1() + ':' +
            QByteArray::number(server.Port()));
    return app.exec();
}
