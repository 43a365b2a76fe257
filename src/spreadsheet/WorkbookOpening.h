#pragma once

#include "spreadsheet/Application.h"

#include <QString>
#include <future>
#include <memory>

namespace spreadsheet {

// A workbook read on a thread of its own from construction, while the caller prepares what
// comes after; take() gives it, or throws the reading's failure. Destroyed untaken, it waits
// for the reading and drops what it gives.
class WorkbookOpening {
public:
    WorkbookOpening(WorkbookCollection& workbooks, QString path);
    WorkbookOpening(const WorkbookOpening&) = delete;
    WorkbookOpening& operator=(const WorkbookOpening&) = delete;

    std::shared_ptr<Workbook> take();

private:
    WorkbookCollection& workbooks_;
    QString path_;
    // Invalid when no thread could be had: take() reads the workbook itself.
    std::future<std::shared_ptr<Workbook>> reading_;
};

} // namespace spreadsheet
