#pragma once

#include "krvt5/Connection.h"

#include <QSqlRecord>
#include <QStringList>
#include <vector>

namespace krvt5 {

class SqlConnection;
struct TableExpression;

// The rows of one table expression, read at once (the POS asks for one row at a time), and a
// new record being filled for Update.
class SqlRecordset : public Recordset {
public:
    // Runs the expression on the connection; Failure when the table or a column is missing.
    static std::shared_ptr<SqlRecordset> open(std::shared_ptr<SqlConnection> connection,
                                              const TableExpression& expression);

    SqlRecordset(std::shared_ptr<SqlConnection> connection, QString table,
                 std::vector<QSqlRecord> rows);

    QString table() const override { return table_; }
    bool EOF_() const override;
    void MoveNext() override;
    void AddNew() override;
    void setCollect(const QString& field, const QVariant& value) override;
    QVariant Collect(const QString& field) const override;
    void Update() override;
    void Close() override;

    // The value as it is bound: amounts as exact decimal text, small integers widened.
    // Failure naming table and field for a value no column can take.
    static QVariant bindable(const QVariant& value, const QString& table, const QString& field);

private:
    SqlConnection& connection() const;

    std::shared_ptr<SqlConnection> connection_;
    QString table_;
    std::vector<QSqlRecord> rows_;
    std::size_t current_ = 0;
    bool adding_ = false;
    QStringList newColumns_;
    std::vector<QVariant> newValues_; // as given, for Collect
    std::vector<QVariant> newBound_;  // as bound
};

} // namespace krvt5
