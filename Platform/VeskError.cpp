#include "Platform/VeskError.h"

#include <QFileInfo>

void VeskAssertionFailure(const char* text, const char* file, int line)
{
    // Only the file name: the build folder says nothing useful to whoever reads the report.
    const QString unit = QFileInfo(QString::fromLocal8Bit(file)).fileName();
    throw EAssertionFailed(QStringLiteral("%1 (%2, line %3)").arg(QString::fromLatin1(text), unit).arg(line));
}
