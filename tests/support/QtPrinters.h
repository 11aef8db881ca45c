#pragma once
// Readable gtest output for Qt values.

#include <QString>
#include <QVariant>

#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QVariant& v, std::ostream* os) { *os << v.toString().toStdString(); }
QT_END_NAMESPACE
