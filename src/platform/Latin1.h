#pragma once
// The program's text is single-byte; it becomes a QString as Latin-1 only at the
// widget boundary, and comes back the same way.
#include <QString>

#include <string>
#include <string_view>

namespace qm {

inline QString latin1(std::string_view s)
{
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

inline std::string fromLatin1(const QString& s)
{
    return s.toLatin1().toStdString();
}

} // namespace qm
