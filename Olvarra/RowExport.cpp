#include "Olvarra/RowExport.h"

#include <QSaveFile>

namespace {

// A server text that a spreadsheet would take for a formula gets an apostrophe in front.
// Numbers stay as they are: "-1.93" is a number there, not a formula.
QString Defused(const TCellContent& cell)
{
    if (cell.IsText && !cell.Text.isEmpty()) {
        const QChar first = cell.Text[0];
        if (first == QLatin1Char('=') || first == QLatin1Char('+') || first == QLatin1Char('-')
            || first == QLatin1Char('@'))
            return QLatin1Char('\'') + cell.Text;
    }
    return cell.Text;
}

QString TabCell(QString text)
{
    for (QChar& c : text)
        if (c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            c = QLatin1Char(' ');
    return text;
}

QString CsvCell(const QString& text)
{
    const bool quote = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"'))
                       || text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'))
                       || (!text.isEmpty() && (text.front().isSpace() || text.back().isSpace()));
    if (!quote)
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

template <class FCell>
QString Join(const TRowTable& table, QChar separator, const QString& lineEnd, FCell cellText)
{
    QString out;
    for (qsizetype i = 0; i < table.Captions.size(); ++i) {
        if (i > 0)
            out += separator;
        TCellContent caption;
        caption.Text = table.Captions[i];
        out += cellText(caption);
    }
    out += lineEnd;
    for (const QList<TCellContent>& row : table.Rows) {
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (i > 0)
                out += separator;
            out += cellText(row[i]);
        }
        out += lineEnd;
    }
    return out;
}

} // namespace

QString TabSeparatedText(const TRowTable& table)
{
    return Join(table, QLatin1Char('\t'), QStringLiteral("\n"),
                [](const TCellContent& cell) { return TabCell(Defused(cell)); });
}

QByteArray CsvBytes(const TRowTable& table)
{
    return Join(table, QLatin1Char(','), QStringLiteral("\r\n"),
                [](const TCellContent& cell) { return CsvCell(Defused(cell)); })
        .toUtf8();
}

bool WriteCsvFile(const QString& path, const TRowTable& table, QString* error)
{
    QSaveFile file(path);
    const QByteArray bytes = CsvBytes(table);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

QString ProposedCsvName(const QString& caption)
{
    QString name = caption;
    static const QString unsafe = QStringLiteral("/\\:*?\"<>|");
    for (QChar& c : name)
        if (unsafe.contains(c) || c.unicode() < 32)
            c = QLatin1Char('_');
    if (name.trimmed().isEmpty())
        name = QStringLiteral("Alerts");
    return name + QStringLiteral(".csv");
}
