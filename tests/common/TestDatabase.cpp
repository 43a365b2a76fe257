#include "common/TestDatabase.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <atomic>

namespace testsupport {

namespace {

QString env(const char* name)
{
    return qEnvironmentVariable(name);
}

QString uniqueName(const char* prefix)
{
    static std::atomic<int> counter{0};
    return QStringLiteral("%1_%2_%3")
        .arg(QLatin1String(prefix))
        .arg(QCoreApplication::applicationPid())
        .arg(++counter);
}

// The schema file split into single statements: the MySQL driver runs joined statements in
// multi-statement mode and loses the errors of all but the first, and SQLite runs only the
// first. Splits on ";" outside quotes; drops "--" comments.
QStringList statements(const QString& script)
{
    QStringList result;
    QString current;
    QChar quote;
    for (qsizetype i = 0; i < script.size(); ++i) {
        const QChar c = script[i];
        if (!quote.isNull()) {
            current += c;
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == u'-' && i + 1 < script.size() && script[i + 1] == u'-') {
            while (i < script.size() && script[i] != u'\n')
                ++i;
            current += u'\n';
            continue;
        }
        if (c == u'\'' || c == u'"' || c == u'`')
            quote = c;
        if (c == u';') {
            if (!current.trimmed().isEmpty())
                result.append(current.trimmed());
            current.clear();
            continue;
        }
        current += c;
    }
    if (!current.trimmed().isEmpty())
        result.append(current.trimmed());
    return result;
}

QString schema(const char* file)
{
    QFile in(QStringLiteral(GT_SCHEMA_DIR "/") + QLatin1String(file));
    if (!in.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "No se pudo leer el esquema " << in.fileName().toStdString();
        return {};
    }
    return QString::fromUtf8(in.readAll());
}

} // namespace

std::vector<Engine> engines()
{
    std::vector<Engine> result{Engine::SQLite};
    // Listed without a server under GT_REQUIRE_MYSQL=1, so that its tests fail, not vanish.
    if (!env("GT_MYSQL_PORT").isEmpty() || env("GT_REQUIRE_MYSQL") == QLatin1String("1"))
        result.push_back(Engine::MariaDB);
    return result;
}

std::string engineName(const testing::TestParamInfo<Engine>& info)
{
    return info.param == Engine::SQLite ? "SQLite" : "MariaDB";
}

TestDatabase::TestDatabase(Engine engine)
    : engine_(engine), name_(uniqueName("gt")), connectionName_(uniqueName("testdb"))
{
    if (engine_ == Engine::SQLite) {
        dir_ = std::make_unique<QTemporaryDir>();
        if (!dir_->isValid()) {
            ADD_FAILURE() << "No se pudo crear una carpeta temporal: "
                          << dir_->errorString().toStdString();
            return;
        }
        db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
        db_.setDatabaseName(dir_->filePath(name_ + QStringLiteral(".db")));
        if (!db_.open()) {
            ADD_FAILURE() << "No se pudo crear la base SQLite de pruebas: "
                          << db_.lastError().text().toStdString();
            return;
        }
        for (const QString& statement : statements(schema("sqlite.sql")))
            exec(statement);
        return;
    }

    if (env("GT_MYSQL_PORT").isEmpty()) {
        ADD_FAILURE() << "GT_REQUIRE_MYSQL=1 pero no hay servidor MariaDB de pruebas "
                         "(GT_MYSQL_PORT vacío): use scripts/test";
        return;
    }
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), connectionName_);
    db_.setHostName(server());
    db_.setPort(port().toInt());
    if (!db_.open(user(), password())) {
        ADD_FAILURE() << "No se pudo conectar con el servidor MariaDB de pruebas: "
                      << db_.lastError().text().toStdString();
        return;
    }
    exec(QStringLiteral("CREATE DATABASE `%1` CHARACTER SET utf8mb4").arg(name_));
    exec(QStringLiteral("USE `%1`").arg(name_));
    for (const QString& statement : statements(schema("mysql.sql")))
        exec(statement);
}

TestDatabase::~TestDatabase()
{
    if (engine_ == Engine::MariaDB && db_.isOpen()) {
        QSqlQuery drop(db_);
        drop.exec(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(name_));
    }
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName_);
}

void TestDatabase::configure(krvt5::BasesDD& bases) const
{
    bases.cRuta = server();
    bases.cPuerto = port();
    bases.cUsuario = user();
    bases.cPassword = password();
    bases.cMiBase = name_;
}

QString TestDatabase::server() const
{
    if (engine_ == Engine::SQLite)
        return QStringLiteral("sqlite:") + (dir_ ? dir_->path() : QString());
    return env("GT_MYSQL_HOST").isEmpty() ? QStringLiteral("127.0.0.1") : env("GT_MYSQL_HOST");
}

QString TestDatabase::port() const
{
    return engine_ == Engine::SQLite ? QString() : env("GT_MYSQL_PORT");
}

QString TestDatabase::user() const
{
    return engine_ == Engine::SQLite ? QString() : env("GT_MYSQL_USER");
}

QString TestDatabase::password() const
{
    return engine_ == Engine::SQLite ? QString() : env("GT_MYSQL_PASSWORD");
}

void TestDatabase::exec(const QString& statement)
{
    QSqlQuery query(db_);
    if (!query.exec(statement))
        ADD_FAILURE() << statement.toStdString() << ": " << query.lastError().text().toStdString();
}

std::vector<QStringList> TestDatabase::rows(const QString& statement)
{
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    query.setNumericalPrecisionPolicy(QSql::HighPrecision);
    std::vector<QStringList> result;
    if (!query.exec(statement)) {
        ADD_FAILURE() << statement.toStdString() << ": " << query.lastError().text().toStdString();
        return result;
    }
    while (query.next()) {
        const QSqlRecord record = query.record();
        QStringList row;
        for (int i = 0; i < record.count(); ++i)
            row.append(record.isNull(i) ? QStringLiteral("NULL") : record.value(i).toString());
        result.push_back(row);
    }
    return result;
}

} // namespace testsupport
