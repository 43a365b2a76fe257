#include "krvt5/SqlLiteral.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlField>

namespace krvt5 {

QString TextLiteral(const QSqlDatabase& db, const QString& text)
{
    QSqlField field(QString(), QMetaType(QMetaType::QString));
    field.setValue(text);
    return db.driver()->formatValue(field);
}

} // namespace krvt5
