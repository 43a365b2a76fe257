#include "krvt5/BasesDD.h"

#include "krvt5/Failure.h"
#include "krvt5/SqlConnection.h"
#include "krvt5/SqlRecordset.h"
#include "krvt5/TableExpression.h"

#include <QCoreApplication>
#include <QDir>

namespace krvt5 {

namespace {

const QLatin1String sqlitePrefix("sqlite:");

int portNumber(const QVariant& port)
{
    constexpr int defaultPort = 3306;
    const QString text = port.toString().trimmed();
    if (!port.isValid() || port.isNull() || text.isEmpty())
        return defaultPort;
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < 0 || number > 65535)
        throw Failure(
            QStringLiteral("El puerto \"%1\" del servidor MySQL no es válido.").arg(text));
    return number == 0 ? defaultPort : number;
}

std::shared_ptr<SqlConnection> sqlConnection(const ConnectionRef& cn)
{
    if (!cn)
        throw Failure(QStringLiteral("No hay conexión abierta con la base de datos."));
    auto connection = std::dynamic_pointer_cast<SqlConnection>(cn);
    if (!connection)
        throw Failure(QStringLiteral("La conexión no es una conexión de base de datos de krvt5."));
    return connection;
}

} // namespace

bool BasesDD::AbrirBdD(ConnectionRef& cn, const QString& database)
{
    cn.reset();
    lastError_.clear();
    try {
        if (database.trimmed().isEmpty())
            throw Failure(QStringLiteral("No se indicó el nombre de la base de datos."));
        const QString route = cRuta.trimmed();
        if (route.startsWith(sqlitePrefix, Qt::CaseInsensitive)) {
            const QString folder = route.mid(sqlitePrefix.size());
            const QDir base(cCarpetaBase.isEmpty() ? QCoreApplication::applicationDirPath()
                                                   : cCarpetaBase);
            const QString file = QDir::cleanPath(
                base.absoluteFilePath(folder.isEmpty() ? QStringLiteral(".") : folder) + u'/' +
                database + QStringLiteral(".db"));
            cn = SqlConnection::openSqlite(file, database);
            return true;
        }
        if (route.isEmpty())
            throw Failure(QStringLiteral("No se indicó el servidor de la base de datos \"%1\".")
                              .arg(database));
        SqlConnection::MySqlTarget target;
        target.host = route;
        target.port = portNumber(cPuerto);
        target.user = cUsuario;
        target.password = cPassword;
        target.database = database;
        cn = SqlConnection::openMySql(target);
        return true;
    } catch (const Failure& failure) {
        lastError_ = failure.message();
        return false;
    }
}

void BasesDD::CierraBdD(ConnectionRef& cn)
{
    if (auto connection = std::dynamic_pointer_cast<SqlConnection>(cn))
        connection->close();
    cn.reset();
}

bool BasesDD::AbrirTabla(RecordsetRef& rs, ConnectionRef& cn, const QString& expression)
{
    const TableExpression parsed = TableExpression::parse(expression);
    auto recordset = SqlRecordset::open(sqlConnection(cn), parsed);
    const bool selected = !recordset->EOF_();
    rs = std::move(recordset);
    return selected;
}

void BasesDD::CierraTabla(RecordsetRef& rs)
{
    if (rs)
        rs->Close();
    rs.reset();
}

QVariant BasesDD::LastId(ConnectionRef& cn, const QString& table, const QString& keyField)
{
    return sqlConnection(cn)->lastInsertId(table, keyField);
}

} // namespace krvt5
