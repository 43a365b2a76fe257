#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>

namespace spreadsheet {

// A cell's value as a spreadsheet holds it.
struct CellValue {
    enum class Kind { Empty, Text, Number, Date, Boolean, Error };

    Kind kind = Kind::Empty;
    QString text;      // Text; Error: the error's text ("#DIV/0!")
    double number = 0; // Number
    QDateTime date;    // Date: calendar date and time of day (00:00 when none), held as UTC
                       // so that no time-zone rule moves it
    bool boolean = false;

    static CellValue empty() { return {}; }
    static CellValue fromText(const QString& t) { return {Kind::Text, t, 0, {}, false}; }
    static CellValue fromNumber(double n) { return {Kind::Number, {}, n, {}, false}; }
    static CellValue fromDate(const QDateTime& d) { return {Kind::Date, {}, 0, d, false}; }
    static CellValue fromBoolean(bool b) { return {Kind::Boolean, {}, 0, {}, b}; }
    static CellValue error(const QString& e) { return {Kind::Error, e, 0, {}, false}; }

    bool isEmpty() const { return kind == Kind::Empty; }
    // As a variant: invalid, QString, double, QDateTime or bool (an error cell: its text).
    QVariant toVariant() const;

    friend bool operator==(const CellValue&, const CellValue&) = default;
};

} // namespace spreadsheet
