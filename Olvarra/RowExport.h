#pragma once
// Rows taken out of an alert window: tab-separated text for the clipboard and CSV for a file,
// both with the column captions as the first line and the cells exactly as the grid shows
// them.
//
// The texts come from the server, so they are made safe for where they go: a tab or a line
// break inside a symbol cannot split a row, and a text that a spreadsheet would run as a
// formula (starting with =, +, - or @) is written with a leading apostrophe.

#include "Olvarra/AlertGridBase.h"

#include <QByteArray>
#include <QString>

// Captions, then one line per row; cells joined by tabs, lines ended by "\n".
QString TabSeparatedText(const TRowTable& table);
// RFC 4180: cells joined by commas, lines ended by CRLF, a cell quoted when it holds a comma,
// a quote, a line break or surrounding blanks (quotes doubled); UTF-8.
QByteArray CsvBytes(const TRowTable& table);
// Writes CsvBytes(table) to path all at once or not at all (QSaveFile). False with a reason
// when it could not.
bool WriteCsvFile(const QString& path, const TRowTable& table, QString* error = nullptr);
// "<caption>.csv" with what a file name cannot hold replaced by "_"; "Alerts.csv" for a blank
// caption.
QString ProposedCsvName(const QString& caption);
