#include "Platform/VeskError.h"

#include <QFileInfo>

QString MessageOf(const std::exception& error)
{
    if (auto* own = dynamic_cast<const EVeskError*>(&error))
        return own->GetMessage();
    return QString::fromLocal8Bit(error.what());
}

void VeskAssertionFailure(const char* text, const char* file, int line)
{
    // Only the file name: the build folder says nothing useful to whoever reads the report.
    const QString unit = QFileInfo(QString::fromLocal8Bit(file)).fileName();
    throw EAssertionFailed(QStringLiteral("%1 (%2, line %3)").arg(QString::fromLatin1(text), unit).arg(line));
}
