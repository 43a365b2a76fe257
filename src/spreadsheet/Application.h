#pragma once

#include "spreadsheet/CellValue.h"
#include "spreadsheet/Regional.h"

#include <QString>
#include <memory>
#include <vector>

namespace spreadsheet {

class Worksheet;

// One cell of a worksheet, as Range("B2") gives it.
class CellRange {
public:
    CellRange(const Worksheet& sheet, int row, int column)
        : sheet_(&sheet), row_(row), column_(column)
    {}
    CellValue Value() const;

private:
    const Worksheet* sheet_;
    int row_;
    int column_;
};

// A worksheet held in memory after the workbook is opened; reading a cell touches no file.
class Worksheet {
public:
    virtual ~Worksheet() = default;
    // Address such as "B2" or "H1048576"; a malformed address is a Failure.
    CellRange Range(const QString& address) const;
    // Row and column count from 1; outside the used area the cell is empty.
    virtual CellValue value(int row, int column) const = 0;
    virtual int lastRow() const = 0;
};

class Workbook {
public:
    virtual ~Workbook() = default;
    const QString& path() const { return path_; }
    // Index counts from 1; only the first worksheet exists for CSV.
    virtual const Worksheet& Worksheets(int index) const = 0;
    virtual void Close() = 0;

protected:
    explicit Workbook(QString path) : path_(std::move(path)) {}

private:
    QString path_;
};

class WorkbookCollection {
public:
    explicit WorkbookCollection(const Regional& regional) : regional_(regional) {}
    // Opens .csv/.txt or .xlsx/.xlsm; anything else, or a damaged file, is a Failure naming it.
    std::shared_ptr<Workbook> Open(const QString& path);

private:
    friend class Application;
    // Quit closes the workbooks still open, as the application's Quit does.
    void closeAll();

    const Regional& regional_;
    std::vector<std::weak_ptr<Workbook>> open_;
    bool quit_ = false;
};

// The spreadsheet application, created by the class name "Excel.Application".
class Application {
public:
    explicit Application(Regional regional = Regional::fromSystem());
    // The workbooks refer to this object's regional settings.
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;
    WorkbookCollection& Workbooks() { return workbooks_; }
    const Regional& regional() const { return regional_; }
    void Quit();

private:
    Regional regional_;
    WorkbookCollection workbooks_;
};

} // namespace spreadsheet
