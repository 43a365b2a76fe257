#include "generation/ColumnLimits.h"

#include "generation/TicketColumns.h"
#include "krvt5/SqlError.h"
#include "plaintext/Windows1252.h"
#include "support/Failure.h"

#include <QRegularExpression>
#include <QSet>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <limits>
#include <map>

namespace generation {

namespace {

// The first character the character set cannot hold.
std::optional<QString> unheld(const QString& text, const QString& charset)
{
    for (qsizetype i = 0; i < text.size();) {
        const bool pair = text.at(i).isHighSurrogate() && i + 1 < text.size();
        const QString one = text.mid(i, pair ? 2 : 1);
        const char32_t code =
            pair ? QChar::surrogateToUcs4(text.at(i), text.at(i + 1)) : text.at(i).unicode();
        bool held = true;
        if (charset == QLatin1String("latin1"))
            held = plaintext::encodeWindows1252(one).has_value();
        else if (charset == QLatin1String("ascii"))
            held = code < 0x80;
        else if (charset == QLatin1String("utf8mb3") || charset == QLatin1String("utf8") ||
                 charset == QLatin1String("ucs2"))
            held = code <= 0xFFFF;
        if (!held)
            return one;
        i += pair ? 2 : 1;
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> ColumnLimits::descripProblem(const QString& text) const
{
    if (!descrip)
        return std::nullopt;
    // A column of bytes (VARBINARY) holds the text as sent, in UTF-8.
    const bool bytes = descrip->charset.isEmpty();
    const qsizetype length = bytes ? text.toUtf8().size() : text.toUcs4().size();
    if (descrip->length > 0 && length > descrip->length)
        return QStringLiteral("la descripción tiene %1 %2 y la columna Descrip admite %3")
            .arg(length)
            .arg(bytes ? QStringLiteral("bytes") : QStringLiteral("caracteres"))
            .arg(descrip->length);
    if (const std::optional<QString> c = unheld(text, descrip->charset))
        return QStringLiteral("la descripción tiene un carácter (\"%1\") que la columna Descrip "
                              "(%2) no admite")
            .arg(*c, descrip->charset);
    return std::nullopt;
}

std::optional<QString> ColumnLimits::amountProblem(double amount) const
{
    if (const std::optional<QString> problem =
            FloatAmountProblem(AmountText(amount, writtenScale()), floatAmounts))
        return problem;
    for (const Decimal& column : amounts) {
        const QString rounded = RoundDecimalText(DecimalText(amount), column.scale);
        if (column.most) {
            if (rounded.toDouble() > *column.most)
                return QStringLiteral("el importe %1 no cabe en la columna %2 (%3)")
                    .arg(DecimalText(amount), column.column, column.type);
            continue;
        }
        const qsizetype point = rounded.indexOf(u'.');
        QString whole = point < 0 ? rounded : rounded.left(point);
        whole.remove(u'-');
        const qsizetype digits = whole == QLatin1String("0") ? 0 : whole.size();
        if (digits > column.precision - column.scale)
            return QStringLiteral("el importe %1 no cabe en la columna %2 (DECIMAL(%3,%4))")
                .arg(DecimalText(amount), column.column)
                .arg(column.precision)
                .arg(column.scale);
    }
    return std::nullopt;
}

std::optional<QString> ColumnLimits::ventaProblem(std::int32_t venta) const
{
    if (!ventaMost || venta <= ventaMost->most)
        return std::nullopt;
    return QStringLiteral("el número de ticket %1 no cabe en la columna %2")
        .arg(venta)
        .arg(ventaMost->column);
}

std::optional<int> ColumnLimits::writtenScale() const
{
    if (amounts.empty())
        return std::nullopt;
    int scale = amounts.front().scale;
    for (const Decimal& column : amounts)
        scale = std::min(scale, column.scale);
    return scale;
}

namespace {

// Whether the program fills a column of the table itself (the header's key is the database's).
bool programFills(const PosTable& table, const QString& column)
{
    if (&table == &kTickets && column.compare(kKeyColumn, Qt::CaseInsensitive) == 0)
        return true;
    for (const Column& known : table.columns) {
        if (column.compare(known.name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// The largest value of an integer type, or nothing for another type.
std::optional<double> integerMost(const QString& dataType, const QString& columnType)
{
    static const std::pair<const char*, double> kIntegers[] = {
        {"tinyint", 127.0},    {"smallint", 32767.0},     {"mediumint", 8388607.0},
        {"int", 2147483647.0}, {"integer", 2147483647.0}, {"bigint", 9223372036854775807.0}};
    for (const auto& [name, most] : kIntegers) {
        if (dataType == QLatin1String(name))
            return columnType.contains(QLatin1String("unsigned")) ? most * 2 + 1 : most;
    }
    return std::nullopt;
}

// Amount columns of exact numbers; an integer one holds the amount rounded to a whole number,
// as the server rounds it, up to its type's largest value.
void addAmountColumn(ColumnLimits& limits, const QString& column, const QString& dataType,
                     const QString& columnType, int precision, int scale)
{
    if (dataType == QLatin1String("decimal") || dataType == QLatin1String("numeric")) {
        limits.amounts.push_back({column, precision, scale, columnType, std::nullopt});
        return;
    }
    if (const std::optional<double> most = integerMost(dataType, columnType))
        limits.amounts.push_back({column, precision, 0, columnType, *most});
    else if (dataType == QLatin1String("float"))
        limits.floatAmounts.append(column);
}

// Keys past INT's range are out of a shop's reach.
constexpr double kLargestSmallKey = 16777215.0;

// A column of ticket numbers or of headers' keys whose type ends before the numbers the
// program gives could.
void addNumberColumn(ColumnLimits& limits, const QString& table, const QString& column,
                     Source source, const QString& dataType, const QString& columnType)
{
    const std::optional<double> most = integerMost(dataType, columnType);
    if (!most)
        return;
    if (source == Source::HeaderKey) {
        if (*most <= kLargestSmallKey)
            limits.headerKeyInLines = ColumnLimits::SmallKey{qlonglong(*most), columnType};
        return;
    }
    if (*most < 2147483647.0 && (!limits.ventaMost || *most < limits.ventaMost->most))
        limits.ventaMost = ColumnLimits::Bound{
            QStringLiteral("%1.%2 (%3)").arg(table, column, columnType), qlonglong(*most)};
}

// The POS tables in information_schema, which matches "TICKETS" to 'tickets' too: on a server
// that tells the two apart, only the tables the program writes.
QString posTables(const char* column)
{
    return QStringLiteral("%1 IN ('tickets', 'ticketsdetalle') AND (@@lower_case_table_names <> 0 "
                          "OR BINARY %1 IN ('tickets', 'ticketsdetalle'))")
        .arg(QLatin1String(column));
}

// The tables with a trigger of their own that runs before a row is stored, and may give it the
// values it lacks (its key, say). None where the user may not see the triggers.
QSet<QString> tablesFilledByTriggers(QSqlDatabase& db)
{
    QSet<QString> tables;
    QSqlQuery query(db);
    if (query.exec(QStringLiteral(
                       "SELECT DISTINCT LOWER(EVENT_OBJECT_TABLE) FROM information_schema.TRIGGERS "
                       "WHERE EVENT_OBJECT_SCHEMA = DATABASE() AND ACTION_TIMING = 'BEFORE' AND "
                       "EVENT_MANIPULATION = 'INSERT' AND ") +
                   posTables("EVENT_OBJECT_TABLE"))) {
        while (query.next())
            tables.insert(query.value(0).toString());
    }
    return tables;
}

// The CHECK constraints of the POS tables, as "tickets: `Total` > 0 (Positivo)", but for those
// of JSON columns, which go to `json` as "tickets.j": a JSON column takes no value of its own.
// None on a server without them.
void readChecks(QSqlDatabase& db, QStringList& checks, QSet<QString>& json)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT TABLE_NAME, CONSTRAINT_NAME, CHECK_CLAUSE FROM "
                                   "information_schema.CHECK_CONSTRAINTS WHERE "
                                   "CONSTRAINT_SCHEMA = DATABASE() AND ") +
                    posTables("TABLE_NAME") +
                    QStringLiteral(" ORDER BY TABLE_NAME, CONSTRAINT_NAME")))
        return;
    while (query.next()) {
        const QString table = query.value(0).toString();
        const QString name = query.value(1).toString();
        const QString clause = query.value(2).toString();
        if (clause.compare(QStringLiteral("json_valid(`%1`)").arg(name), Qt::CaseInsensitive) == 0)
            json.insert(QStringLiteral("%1.%2").arg(table, name).toLower());
        else
            checks.append(QStringLiteral("%1: %2 (%3)").arg(table, clause, name));
    }
}

// Columns the program would give one value on every ticket that together make a unique key
// ("ticketsdetalle.Id" without AUTO_INCREMENT): the second ticket would be refused, so they are
// given none, and the first is refused instead. Not on a table with a trigger that may give them.
void refuseRepeatedKeys(QSqlDatabase& db, ColumnLimits& limits, const QSet<QString>& triggered)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT LOWER(TABLE_NAME), INDEX_NAME, COLUMN_NAME FROM "
                                   "information_schema.STATISTICS WHERE TABLE_SCHEMA = DATABASE() "
                                   "AND NON_UNIQUE = 0 AND ") +
                    posTables("TABLE_NAME") + QStringLiteral(" ORDER BY TABLE_NAME, INDEX_NAME")))
        return;
    std::map<std::pair<QString, QString>, QStringList> keys;
    while (query.next())
        keys[{query.value(0).toString(), query.value(1).toString()}].append(
            query.value(2).toString());
    for (const auto& [key, columns] : keys) {
        if (triggered.contains(key.first))
            continue;
        std::vector<ColumnLimits::Fill>& fills =
            key.first.compare(kTickets.name, Qt::CaseInsensitive) == 0 ? limits.headerFills
                                                                       : limits.lineFills;
        const auto filled = [&fills](const QString& column) {
            return std::any_of(fills.begin(), fills.end(), [&](const ColumnLimits::Fill& fill) {
                return fill.column.compare(column, Qt::CaseInsensitive) == 0;
            });
        };
        if (!std::all_of(columns.begin(), columns.end(), filled))
            continue;
        for (const QString& column : columns) {
            std::erase_if(fills, [&](const ColumnLimits::Fill& fill) {
                return fill.column.compare(column, Qt::CaseInsensitive) == 0;
            });
            limits.unfillable.append(QStringLiteral("%1.%2").arg(key.first, column));
        }
    }
}

// An SQLite amount column declared with decimals ("DECIMAL(12,2)"): SQLite keeps any number, but
// the POS shows that many decimals, so amounts are written rounded to them, as on MySQL, and the
// amount told is the one stored. It keeps any number of digits before the point.
void addSqliteAmountColumn(ColumnLimits& limits, const PosTable& table, const QString& column,
                           const QString& type)
{
    static const QRegularExpression decimals(
        QStringLiteral(R"(^\s*(?:DECIMAL|NUMERIC)\s*\(\s*\d+\s*,\s*(\d+)\s*\))"),
        QRegularExpression::CaseInsensitiveOption);
    const bool amount =
        std::any_of(table.columns.begin(), table.columns.end(), [&](const Column& c) {
            return c.source == Source::Amount && column.compare(c.name, Qt::CaseInsensitive) == 0;
        });
    const QRegularExpressionMatch match = decimals.match(type);
    if (amount && match.hasMatch())
        limits.amounts.push_back({column, std::numeric_limits<int>::max() / 2,
                                  match.captured(1).toInt(), type.toLower(), std::nullopt});
}

// SQLite gives a column left out no value of its own: one NOT NULL without a default refuses
// every row the program stores.
ColumnLimits readSqliteColumns(krvt5::Connection& connection)
{
    ColumnLimits limits;
    for (const PosTable* table : {&kTickets, &kTicketsDetalle}) {
        // Without a rowid, no key column takes a value of its own.
        QSqlQuery definition(connection.database());
        const bool withoutRowid =
            definition.exec(QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' "
                                           "AND name = '%1'")
                                .arg(table->name)) &&
            definition.next() &&
            definition.value(0).toString().simplified().contains(QLatin1String("WITHOUT ROWID"),
                                                                 Qt::CaseInsensitive);
        QSqlQuery query(connection.database());
        if (!query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table->name)))
            continue;
        // cid, name, type, notnull, dflt_value, pk
        while (query.next()) {
            const QString column = query.value(1).toString();
            addSqliteAmountColumn(limits, *table, column, query.value(2).toString());
            const bool key = query.value(5).toInt() != 0;
            if ((query.value(3).toInt() != 0 || (key && withoutRowid)) && query.value(4).isNull() &&
                (!key || withoutRowid) && !programFills(*table, column))
                limits.unfillable.append(QStringLiteral("%1.%2").arg(table->name, column));
        }
    }
    return limits;
}

} // namespace

ColumnLimits ReadColumnLimits(krvt5::Connection& connection)
{
    if (!connection.engine().isServer())
        return readSqliteColumns(connection);
    ColumnLimits limits;
    QSqlQuery query(connection.database());
    if (!query.exec(QStringLiteral("SELECT TABLE_NAME, COLUMN_NAME, DATA_TYPE, "
                                   "CHARACTER_MAXIMUM_LENGTH, CHARACTER_SET_NAME, "
                                   "NUMERIC_PRECISION, NUMERIC_SCALE, IS_NULLABLE = 'NO' AND "
                                   "COLUMN_DEFAULT IS NULL, EXTRA, COLUMN_TYPE FROM "
                                   "information_schema.COLUMNS WHERE TABLE_SCHEMA = DATABASE() "
                                   "AND ") +
                    posTables("TABLE_NAME") + QStringLiteral(" ORDER BY ORDINAL_POSITION")))
        throw support::Failure(
            QStringLiteral("No se pudieron leer las columnas de la base de datos "
                           "(%1): %2")
                .arg(connection.describe(), krvt5::SqlErrorText(query.lastError())));
    const QSet<QString> triggered = tablesFilledByTriggers(connection.database());
    QSet<QString> json;
    readChecks(connection.database(), limits.checks, json);
    while (query.next()) {
        const QString table = query.value(0).toString();
        const QString column = query.value(1).toString();
        const bool header = table.compare(kTickets.name, Qt::CaseInsensitive) == 0;
        const bool filled = programFills(header ? kTickets : kTicketsDetalle, column);
        for (const Column& known : header ? kTickets.columns : kTicketsDetalle.columns) {
            if (column.compare(known.name, Qt::CaseInsensitive) != 0)
                continue;
            if (known.source == Source::Descrip)
                limits.descrip =
                    ColumnLimits::Text{query.value(3).toInt(), query.value(4).toString()};
            else if (known.source == Source::Amount)
                addAmountColumn(limits, column, query.value(2).toString().toLower(),
                                query.value(9).toString().toLower(), query.value(5).toInt(),
                                query.value(6).toInt());
            else if (known.source == Source::Venta || known.source == Source::HeaderKey)
                addNumberColumn(limits, table, column, known.source,
                                query.value(2).toString().toLower(),
                                query.value(9).toString().toLower());
        }
        const QString extra = query.value(8).toString().toLower();
        if (column.compare(kKeyColumn, Qt::CaseInsensitive) == 0 &&
            extra.contains(QLatin1String("auto_increment"))) {
            const QString columnType = query.value(9).toString().toLower();
            const std::optional<double> most =
                integerMost(query.value(2).toString().toLower(), columnType);
            if (most && *most <= kLargestSmallKey)
                (header ? limits.headerKey : limits.lineKey) =
                    ColumnLimits::SmallKey{qlonglong(*most), columnType};
        }
        // The header's key is the database's to give: without AUTO_INCREMENT, a default or a
        // trigger of the table's own (which may give it, the program cannot tell), every
        // header is refused.
        if (header && column.compare(kKeyColumn, Qt::CaseInsensitive) == 0 &&
            query.value(7).toBool() && !extra.contains(QLatin1String("auto_increment")) &&
            !triggered.contains(table.toLower()))
            limits.unfillable.append(QStringLiteral("%1.%2").arg(table, column));
        // Keys and computed columns take no value.
        if (filled || !query.value(7).toBool() || extra.contains(QLatin1String("auto_increment")) ||
            extra.contains(QLatin1String("generated")) ||
            extra.contains(QLatin1String("virtual")) || extra.contains(QLatin1String("persistent")))
            continue;
        const std::optional<QString> literal =
            json.contains(QStringLiteral("%1.%2").arg(table, column).toLower())
                ? std::nullopt
                : ImplicitDefault(query.value(2).toString());
        if (literal)
            (header ? limits.headerFills : limits.lineFills).push_back({column, *literal});
        else
            limits.unfillable.append(QStringLiteral("%1.%2").arg(table, column));
    }
    refuseRepeatedKeys(connection.database(), limits, triggered);
    return limits;
}

std::optional<QString> ImplicitDefault(const QString& dataType)
{
    static const QSet<QString> numbers{
        QStringLiteral("tinyint"), QStringLiteral("smallint"), QStringLiteral("mediumint"),
        QStringLiteral("int"),     QStringLiteral("integer"),  QStringLiteral("bigint"),
        QStringLiteral("decimal"), QStringLiteral("numeric"),  QStringLiteral("float"),
        QStringLiteral("double"),  QStringLiteral("real"),     QStringLiteral("bit"),
        QStringLiteral("year"),    QStringLiteral("bool"),     QStringLiteral("boolean")};
    static const QSet<QString> texts{
        QStringLiteral("char"),   QStringLiteral("varchar"),    QStringLiteral("tinytext"),
        QStringLiteral("text"),   QStringLiteral("mediumtext"), QStringLiteral("longtext"),
        QStringLiteral("binary"), QStringLiteral("varbinary"),  QStringLiteral("tinyblob"),
        QStringLiteral("blob"),   QStringLiteral("mediumblob"), QStringLiteral("longblob"),
        QStringLiteral("set"),    QStringLiteral("json")};
    const QString type = dataType.toLower();
    if (numbers.contains(type))
        return QStringLiteral("0");
    if (texts.contains(type))
        return QStringLiteral("''");
    if (type == QLatin1String("enum"))
        return QStringLiteral("1"); // the first of the list
    if (type == QLatin1String("date"))
        return QStringLiteral("'0000-00-00'");
    if (type == QLatin1String("datetime") || type == QLatin1String("timestamp"))
        return QStringLiteral("'0000-00-00 00:00:00'");
    if (type == QLatin1String("time"))
        return QStringLiteral("'00:00:00'");
    return std::nullopt;
}

qlonglong LastKey(krvt5::Connection& connection, const QString& table)
{
    QSqlDatabase& db = connection.database();
    QSqlDriver& driver = *db.driver();
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT COALESCE(MAX(%1), 0) FROM %2")
                        .arg(driver.escapeIdentifier(connection.column(table, kKeyColumn),
                                                     QSqlDriver::FieldName),
                             driver.escapeIdentifier(table, QSqlDriver::TableName))) ||
        !query.next())
        throw support::Failure(
            QStringLiteral("No se pudo leer la última clave de la tabla \"%1\" (%2): %3")
                .arg(table, connection.describe(), krvt5::SqlErrorText(query.lastError())));
    return query.value(0).toLongLong();
}

qlonglong KeysLeft(krvt5::Connection& connection, const QString& table,
                   const ColumnLimits::SmallKey& key, std::optional<qlonglong> last)
{
    qlonglong next = (last ? *last : LastKey(connection, table)) + 1;
    QSqlQuery counter(connection.database());
    if (counter.exec(QStringLiteral("SELECT AUTO_INCREMENT FROM information_schema.TABLES WHERE "
                                    "TABLE_SCHEMA = DATABASE() AND TABLE_NAME = '%1' AND "
                                    "(@@lower_case_table_names <> 0 OR BINARY TABLE_NAME = '%1')")
                         .arg(table)) &&
        counter.next() && !counter.isNull(0))
        next = std::max(next, counter.value(0).toLongLong());
    return std::max<qlonglong>(0, key.most - next + 1);
}

QString NoKeysLeftText(const QString& table, const ColumnLimits::SmallKey& key)
{
    return QStringLiteral("la tabla \"%1\" no tiene claves para más tickets: su columna %2 (%3) no "
                          "pasa de %4")
        .arg(table, kKeyColumn, key.type)
        .arg(key.most);
}

std::optional<QString> FloatAmountProblem(const QString& written, const QStringList& columns)
{
    if (columns.isEmpty())
        return std::nullopt;
    const qsizetype point = written.indexOf(u'.');
    const int decimals = point < 0 ? 0 : int(written.size() - point - 1);
    const QString held =
        RoundDecimalText(DecimalText(double(static_cast<float>(written.toDouble()))), decimals);
    if (held.toDouble() == written.toDouble())
        return std::nullopt;
    return QStringLiteral("el importe %1 no cabe exacto en la columna %2 (float): se guardaría "
                          "como %3")
        .arg(written, columns.front(), held);
}

QString AmountText(double amount, std::optional<int> scale)
{
    const QString text = DecimalText(amount);
    return scale ? RoundDecimalText(text, *scale) : text;
}

QString RoundDecimalText(const QString& text, int scale)
{
    const qsizetype point = text.indexOf(u'.');
    if (point < 0 || text.size() - point - 1 <= scale)
        return text;
    const bool negative = text.startsWith(u'-');
    QString digits = text.mid(negative ? 1 : 0);
    const qsizetype at = digits.indexOf(u'.');
    const bool up = digits.at(at + 1 + scale) >= u'5';
    digits.truncate(scale == 0 ? at : at + 1 + scale);
    if (up) {
        qsizetype i = digits.size() - 1;
        for (; i >= 0; --i) {
            if (digits.at(i) == u'.')
                continue;
            if (digits.at(i) == u'9') {
                digits[i] = u'0';
                continue;
            }
            digits[i] = QChar(digits.at(i).unicode() + 1);
            break;
        }
        if (i < 0)
            digits.prepend(u'1');
    }
    bool zero = true;
    for (const QChar c : digits)
        zero = zero && (c == u'0' || c == u'.');
    return (negative && !zero ? QStringLiteral("-") : QString()) + digits;
}

} // namespace generation
