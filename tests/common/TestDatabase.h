#pragma once

#include "krvt5/BasesDD.h"

#include <QSqlDatabase>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace testsupport {

enum class Engine { SQLite, MariaDB };

// The engines a database test runs on: SQLite always; MariaDB when the test server of
// scripts/test is there (GT_MYSQL_PORT set). With GT_REQUIRE_MYSQL=1 a missing server fails.
std::vector<Engine> engines();
std::string engineName(const testing::TestParamInfo<Engine>& info);

// A fresh database with the project's schema (db/*.sql), dropped when the object goes.
class TestDatabase {
public:
    explicit TestDatabase(Engine engine);
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    Engine engine() const { return engine_; }
    // Sets cRuta, cPuerto, cUsuario, cPassword and cMiBase so AbrirBdD opens this database.
    void configure(krvt5::BasesDD& bases) const;
    // The values configure() sets, for tests that write them into POS registry data.
    QString server() const;
    QString port() const;
    QString user() const;
    QString password() const;
    QString name() const { return name_; }
    // A direct connection of the test's own, for preparing and checking rows.
    QSqlDatabase& sql() { return db_; }
    // Runs a statement on sql(); a failure fails the test with the driver's message.
    void exec(const QString& statement);
    // All rows of a query as text, one QStringList per row (NULL as "NULL").
    std::vector<QStringList> rows(const QString& query);

private:
    Engine engine_;
    QString name_;
    QString connectionName_;
    std::unique_ptr<QTemporaryDir> dir_;
    QSqlDatabase db_;
};

} // namespace testsupport
