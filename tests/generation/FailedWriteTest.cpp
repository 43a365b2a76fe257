#include "generation/RowByRowSink.h"
#include "generation/ScanFixture.h"
#include "krvt5/Failure.h"

using namespace testsupport;

namespace {

// Forwards to a real recordset and fails at the N-th Update counted over the whole run.
class FailingRecordset : public krvt5::Recordset {
public:
    FailingRecordset(krvt5::RecordsetRef inner, int& updates, int failAt)
        : inner_(std::move(inner)), updates_(updates), failAt_(failAt)
    {}
    QString table() const override { return inner_->table(); }
    bool EOF_() const override { return inner_->EOF_(); }
    void MoveNext() override { inner_->MoveNext(); }
    void AddNew() override { inner_->AddNew(); }
    void setCollect(const QString& f, const QVariant& v) override { inner_->setCollect(f, v); }
    QVariant Collect(const QString& f) const override { return inner_->Collect(f); }
    void Update() override
    {
        if (++updates_ == failAt_)
            throw krvt5::Failure(QStringLiteral("Fallo simulado al guardar"));
        inner_->Update();
    }
    void Close() override { inner_->Close(); }

private:
    krvt5::RecordsetRef inner_;
    int& updates_;
    int failAt_;
};

class FailingBases : public krvt5::BasesDD {
public:
    explicit FailingBases(int failAt) : failAt_(failAt) {}
    bool AbrirTabla(krvt5::RecordsetRef& rs, krvt5::ConnectionRef& cn,
                    const QString& expression) override
    {
        krvt5::RecordsetRef inner;
        const bool found = BasesDD::AbrirTabla(inner, cn, expression);
        rs = std::make_shared<FailingRecordset>(inner, updates_, failAt_);
        return found;
    }

private:
    int updates_ = 0;
    int failAt_;
};

struct FailurePoint {
    const char* name;
    int failAt; // the Update that fails: odd ones store headers, even ones lines
};

class FailedWriteTest : public ScanFixture {
protected:
    std::vector<QStringList> workbook()
    {
        std::vector<QStringList> rows{{}};
        for (int i = 1; i <= 5; ++i)
            rows.push_back(sale(QStringLiteral("1"), QString::number(i * 10)));
        return rows;
    }

    void checkWholeTickets()
    {
        const auto orphans = db->rows(QStringLiteral(
            "SELECT t.Venta FROM tickets t LEFT JOIN ticketsdetalle d ON d.IdTicket = t.Id "
            "WHERE d.Id IS NULL"));
        EXPECT_TRUE(orphans.empty()) << "a header without its line";
        for (const QString& line : lines())
            EXPECT_TRUE(line.endsWith(QStringLiteral("|linked"))) << line.toStdString();
    }
};

TEST_P(FailedWriteTest, OnlyWholeTicketsRemainAndARerunCompletesThem)
{
    for (const FailurePoint point : {FailurePoint{"header", 5}, FailurePoint{"line", 6}}) {
        SCOPED_TRACE(point.name);
        db->exec(QStringLiteral("DELETE FROM ticketsdetalle"));
        db->exec(QStringLiteral("DELETE FROM tickets"));

        FailingBases failing(point.failAt);
        db->configure(failing);
        generation::RowByRowSink sink(state, failing);
        state.nTicket = 100;
        writeFile(state.cArchivo, csv(workbook()));
        EXPECT_THROW(generation::RecorrerHoja(state, surface, &sink), generation::WalkFailure);
        checkWholeTickets();
        EXPECT_EQ(tickets().size(), 2); // tickets 100 and 101 stored before the failure

        // A re-run with the same first number writes only what is missing.
        state.nTicket = 100;
        const auto figures = scan(workbook());
        EXPECT_EQ(figures.existed, 2);
        EXPECT_EQ(figures.written, 3);
        checkWholeTickets();
        EXPECT_EQ(tickets(), (QStringList{QStringLiteral("100|2026-12-07|10.00|10.00"),
                                          QStringLiteral("101|2026-12-07|20.00|20.00"),
                                          QStringLiteral("102|2026-12-07|30.00|30.00"),
                                          QStringLiteral("103|2026-12-07|40.00|40.00"),
                                          QStringLiteral("104|2026-12-07|50.00|50.00")}));
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, FailedWriteTest, testing::ValuesIn(engines()), engineName);

} // namespace
