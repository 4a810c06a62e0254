#pragma once
// The server's two output streams. Tests read stdout line by line while the server runs, so
// every line is flushed at once.

#include <QByteArray>

// One event line on stdout.
void LogLine(const QByteArray& line);
// A problem worth telling whoever runs the server; stderr.
void LogProblem(const QByteArray& line);
