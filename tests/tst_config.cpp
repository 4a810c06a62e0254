// labels: shell
// Vesk.ini reading and the per-user settings store.

#include "Olvarra/ConfigFile.h"
#include "Platform/NumberText.h"
#include "Platform/SettingsStore.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestConfig : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void SyntaxBlanksCaseAndComments();
    void EmptyValueIsNotTheDefault();
    void WholeNumbers_data();
    void WholeNumbers();
    void PortTexts_data();
    void PortTexts();
    void FlagIsOnlyExactOne();
    void MissingFileReadsAsEmpty();
    void SettingsKindsAndDefaults();
    void IntegerStoredAsTextStaysText();
    void SettingsTakeOnlyTheConfigurationsHexPrefixes();
};

void TestConfig::SyntaxBlanksCaseAndComments()
{
    const TConfigFile config = TConfigFile::FromText(
        "stray=before any section\r\n"
        "  [ General ]  \r\n"
        "  window count =  3 \r\n"
        "; title=commented out\r\n"
        "no equals sign here\n"
        "address = a=b\n"
        "\n"
        "[general]\n"
        "Prefix=X\n"
        "[Alert Window 0]\r\n"
        "subscription=wex\r\n"
        "[Connection]\r"
        "address=host:1\r");
    QCOMPARE(config.ReadString("General", "window count"), QByteArray("3"));
    QCOMPARE(config.ReadInteger("GENERAL", "Window Count", 0), 3);
    QVERIFY(!config.HasKey("General", "title"));
    QVERIFY(!config.HasKey("General", "stray"));
    // Only the first "=" splits: the value may hold more.
    QCOMPARE(config.ReadString("General", "address"), QByteArray("a=b"));
    // "[General]" and "[general]" are one section.
    QCOMPARE(config.ReadString("General", "prefix"), QByteArray("X"));
    QCOMPARE(config.ReadString("alert window 0", "SUBSCRIPTION"), QByteArray("wex"));
    // Lone CR line ends too.
    QCOMPARE(config.ReadString("Connection", "address"), QByteArray("host:1"));
    QCOMPARE(config.ReadString("Nowhere", "address", "fallback"), QByteArray("fallback"));

    // A file saved with a UTF-8 byte-order mark still starts with its first section.
    const TConfigFile marked = TConfigFile::FromText("\xEF\xBB\xBF[General]\r\nwindow count=2\r\n");
    QCOMPARE(marked.ReadInteger("General", "window count", 0), 2);
}

void TestConfig::EmptyValueIsNotTheDefault()
{
    const TConfigFile config = TConfigFile::FromText("[General]\ntitle=\nwindow count=\n");
    QVERIFY(config.HasKey("General", "title"));
    QCOMPARE(config.ReadString("General", "title", "Reraduv Ezerid"), QByteArray());
    // An empty number is malformed, so the number's default stands.
    QCOMPARE(config.ReadInteger("General", "window count", 7), 7);
}

void TestConfig::WholeNumbers_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("expected");
    QTest::newRow("decimal") << QByteArray("2") << 2;
    QTest::newRow("negative") << QByteArray("-3") << -3;
    QTest::newRow("dollar hex") << QByteArray("$FF") << 255;
    QTest::newRow("0x hex") << QByteArray("0x00FF00") << 0xFF00;
    QTest::newRow("negative hex") << QByteArray("-$10") << -16;
    QTest::newRow("letters") << QByteArray("abc") << -99;
    QTest::newRow("trailing junk") << QByteArray("12abc") << -99;
    QTest::newRow("inner blank") << QByteArray("1 2") << -99;
    QTest::newRow("hex prefix only") << QByteArray("0x") << -99;
    QTest::newRow("max") << QByteArray("2147483647") << 2147483647;
    QTest::newRow("min") << QByteArray("-2147483648") << int(-2147483647 - 1);
    QTest::newRow("above 32 bits") << QByteArray("2147483648") << -99;
    QTest::newRow("hex above 32 bits") << QByteArray("$100000000") << -99;
    QTest::newRow("x hex") << QByteArray("x1f") << 31;
    QTest::newRow("signed 0x hex") << QByteArray(" -0x10") << -16;
    QTest::newRow("capital X") << QByteArray("X10") << -99;
    QTest::newRow("capital 0X") << QByteArray("0X00FF00") << -99;
    QTest::newRow("signed capital 0X") << QByteArray("-0X10") << -99;
}

void TestConfig::WholeNumbers()
{
    QFETCH(QByteArray, text);
    QFETCH(int, expected);
    const TConfigFile config = TConfigFile::FromText("[General]\nn=" + text + "\n");
    QCOMPARE(config.ReadInteger("General", "n", -99), expected);
}

// The server address, the SOCKS port and the HTTP proxy port all read a port this one way.
void TestConfig::PortTexts_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("expected");
    QTest::newRow("plain") << QByteArray("9339") << 9339;
    QTest::newRow("lowest") << QByteArray("1") << 1;
    QTest::newRow("highest") << QByteArray("65535") << 65535;
    QTest::newRow("leading zeros") << QByteArray("0080") << 80;
    QTest::newRow("zero") << QByteArray("0") << 0;
    QTest::newRow("above 16 bits") << QByteArray("65536") << 0;
    QTest::newRow("six digits") << QByteArray("008080") << 0;
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("blank before") << QByteArray(" 80") << 0;
    QTest::newRow("blank after") << QByteArray("80 ") << 0;
    QTest::newRow("sign") << QByteArray("+80") << 0;
    QTest::newRow("negative") << QByteArray("-80") << 0;
    QTest::newRow("second colon") << QByteArray("9339:1") << 0;
    QTest::newRow("hex") << QByteArray("0x50") << 0;
}

void TestConfig::PortTexts()
{
    QFETCH(QByteArray, text);
    QFETCH(int, expected);
    QCOMPARE(int(ParsePortText(text)), expected);
}

void TestConfig::FlagIsOnlyExactOne()
{
    const TConfigFile config = TConfigFile::FromText(
        "[General]\nsound = 1 \nexclude list=yes\ndebug=true\npreprocess password=01\n");
    QVERIFY(config.ReadFlag("General", "sound"));
    QVERIFY(!config.ReadFlag("General", "exclude list"));
    QVERIFY(!config.ReadFlag("General", "debug"));
    QVERIFY(!config.ReadFlag("General", "preprocess password"));
    QVERIFY(!config.ReadFlag("General", "absent"));
}

void TestConfig::MissingFileReadsAsEmpty()
{
    QTemporaryDir dir;
    const TConfigFile missing = TConfigFile::Load(dir.filePath("Vesk.ini"));
    QCOMPARE(missing.ReadString("General", "title", "Reraduv Ezerid"), QByteArray("Reraduv Ezerid"));
    QCOMPARE(missing.ReadInteger("General", "window count", 0), 0);

    QFile file(dir.filePath("Vesk.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\r\ntitle=Desk\r\n");
    file.close();
    QCOMPARE(TConfigFile::Load(dir.filePath("Vesk.ini")).ReadString("General", "title"), QByteArray("Desk"));
}

void TestConfig::SettingsKindsAndDefaults()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.ini");
    {
        TSettingsStore store(path);
        QCOMPARE(store.ReadString("Main", "User", "nobody"), QString("nobody"));
        QCOMPARE(store.ReadInteger("Main", "Left", 226), 226);
        QCOMPARE(store.ReadBool("Main", "EnableSound", false), false);
        store.WriteString("Main", "User", QString::fromUtf8("jo\u00e9"));
        store.WriteInteger("Main", "Left", -40);
        store.WriteBool("Main", "EnableSound", true);
        store.WriteBool("Window:wex", "Visible", false);
    }
    {
        TSettingsStore store(path);
        QCOMPARE(store.ReadString("Main", "User"), QString::fromUtf8("jo\u00e9"));
        QCOMPARE(store.ReadInteger("Main", "Left", 226), -40);
        QVERIFY(store.ReadBool("Main", "EnableSound", false));
        QVERIFY(!store.ReadBool("Window:wex", "Visible", true));
        // Booleans are the texts "0" and "1".
        QCOMPARE(store.RawValue("Main", "EnableSound").toString(), QString("1"));
        QCOMPARE(store.RawValue("Window:wex", "Visible").toString(), QString("0"));
    }
    // Hand-edited values: a Boolean is any whole number, non-zero meaning true; a
    // non-number falls back to the default.
    {
        QSettings raw(path, QSettings::IniFormat);
        raw.setValue("Main/EnableSound", QString("2"));
        raw.setValue("Main/Top", QString("abc"));
    }
    TSettingsStore store(path);
    QVERIFY(store.ReadBool("Main", "EnableSound", false));
    QCOMPARE(store.ReadInteger("Main", "Top", 197), 197);
}

void TestConfig::IntegerStoredAsTextStaysText()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.ini");
    {
        QSettings raw(path, QSettings::IniFormat);
        raw.setValue("Main/FontSize", QString("120"));
    }
    TSettingsStore store(path);
    QCOMPARE(store.ReadInteger("Main", "FontSize", 8), 120);
    store.WriteInteger("Main", "FontSize", 121);
    QCOMPARE(store.RawValue("Main", "FontSize").typeId(), int(QMetaType::QString));
    QCOMPARE(store.RawValue("Main", "FontSize").toString(), QString("121"));
    // A value that was never text is written as a number.
    store.WriteInteger("Main", "Left", 5);
    QCOMPARE(store.RawValue("Main", "Left").typeId(), int(QMetaType::Int));
}

void TestConfig::SettingsTakeOnlyTheConfigurationsHexPrefixes()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.ini");
    {
        QSettings raw(path, QSettings::IniFormat);
        raw.setValue("Main/Left", QString("0x20"));
        raw.setValue("Main/Top", QString("0X20"));
        raw.setValue("Main/FontSize", QString("X20"));
    }
    TSettingsStore store(path);
    QCOMPARE(store.ReadInteger("Main", "Left", 226), 32);
    QCOMPARE(store.ReadInteger("Main", "Top", 197), 197);
    QCOMPARE(store.ReadInteger("Main", "FontSize", 8), 8);
}

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
