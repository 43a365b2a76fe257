#include "krvt5/SqlRecordset.h"

#include "krvt5/Failure.h"
#include "krvt5/SqlConnection.h"
#include "krvt5/TableExpression.h"

#include <QSqlField>
#include <charconv>
#include <cmath>

namespace krvt5 {

namespace {

// The shortest text that reads back as the same number, without exponent, so a DECIMAL column
// receives exactly the digits the value shows (131072.01, not 131072.0100000000093).
template <typename Number> QString shortestDecimal(Number value)
{
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

} // namespace

std::shared_ptr<SqlRecordset> SqlRecordset::open(std::shared_ptr<SqlConnection> connection,
                                                 const TableExpression& expression)
{
    auto rows = connection->select(expression);
    return std::make_shared<SqlRecordset>(std::move(connection), expression.table, std::move(rows));
}

SqlRecordset::SqlRecordset(std::shared_ptr<SqlConnection> connection, QString table,
                           std::vector<QSqlRecord> rows)
    : connection_(std::move(connection)), table_(std::move(table)), rows_(std::move(rows))
{}

SqlConnection& SqlRecordset::connection() const
{
    if (!connection_)
        throw Failure(QStringLiteral("El conjunto de registros de la tabla \"%1\" está cerrado.")
                          .arg(table_));
    return *connection_;
}

bool SqlRecordset::EOF_() const
{
    return current_ >= rows_.size();
}

void SqlRecordset::MoveNext()
{
    connection();
    if (EOF_())
        throw Failure(QStringLiteral("No hay más registros en la tabla \"%1\".").arg(table_));
    ++current_;
}

void SqlRecordset::AddNew()
{
    connection();
    adding_ = true;
    newColumns_.clear();
    newValues_.clear();
    newBound_.clear();
}

void SqlRecordset::setCollect(const QString& field, const QVariant& value)
{
    const QString column = connection().column(table_, field);
    if (!adding_)
        throw Failure(QStringLiteral("No se puede asignar el campo \"%1\" de la tabla \"%2\": "
                                     "falta AddNew.")
                          .arg(field, table_));
    QVariant bound = bindable(value, table_, column);
    const qsizetype index = newColumns_.indexOf(column);
    if (index >= 0) {
        newValues_[std::size_t(index)] = value;
        newBound_[std::size_t(index)] = std::move(bound);
        return;
    }
    newColumns_.append(column);
    newValues_.push_back(value);
    newBound_.push_back(std::move(bound));
}

QVariant SqlRecordset::Collect(const QString& field) const
{
    const QString column = connection().column(table_, field);
    if (adding_) {
        const qsizetype index = newColumns_.indexOf(column);
        return index >= 0 ? newValues_[std::size_t(index)] : QVariant();
    }
    if (EOF_())
        throw Failure(QStringLiteral("No hay registro actual en la tabla \"%1\" para leer el "
                                     "campo \"%2\".")
                          .arg(table_, field));
    return rows_[current_].value(column);
}

void SqlRecordset::Update()
{
    SqlConnection& db = connection();
    if (!adding_)
        throw Failure(QStringLiteral("No hay registro nuevo que guardar en la tabla \"%1\": "
                                     "falta AddNew.")
                          .arg(table_));
    if (newColumns_.isEmpty())
        throw Failure(QStringLiteral("No se asignó ningún campo del registro nuevo de la tabla "
                                     "\"%1\".")
                          .arg(table_));
    db.insert(table_, newColumns_, newBound_);
    // As in ADO, the stored record becomes the current one.
    QSqlRecord stored;
    for (qsizetype i = 0; i < newColumns_.size(); ++i) {
        stored.append(QSqlField(newColumns_[i]));
        stored.setValue(i, newValues_[std::size_t(i)]);
    }
    rows_.push_back(stored);
    current_ = rows_.size() - 1;
    adding_ = false;
}

void SqlRecordset::Close()
{
    connection_.reset();
    rows_.clear();
    current_ = 0;
    adding_ = false;
}

QVariant SqlRecordset::bindable(const QVariant& value, const QString& table, const QString& field)
{
    const auto notANumber = [&] {
        return Failure(QStringLiteral("El valor del campo \"%1\" de la tabla \"%2\" no es un "
                                      "número finito.")
                           .arg(field, table));
    };
    if (value.isNull())
        return value;
    switch (value.typeId()) {
    case QMetaType::Double: {
        const double number = value.toDouble();
        if (!std::isfinite(number))
            throw notANumber();
        return shortestDecimal(number);
    }
    case QMetaType::Float: {
        const float number = value.toFloat();
        if (!std::isfinite(number))
            throw notANumber();
        return shortestDecimal(number);
    }
    case QMetaType::Bool:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
        return value.toInt();
    case QMetaType::UInt:
        return value.toLongLong();
    case QMetaType::QString:
        // QtSql binds a null QString as NULL; the zero-length text is a value.
        return value.toString().isNull() ? QVariant(QStringLiteral("")) : value;
    default:
        return value;
    }
}

} // namespace krvt5
