#include "spreadsheet/WorkbookOpening.h"

#include <system_error>

namespace spreadsheet {

WorkbookOpening::WorkbookOpening(WorkbookCollection& workbooks, QString path)
    : workbooks_(workbooks), path_(std::move(path))
{
    try {
        reading_ = std::async(std::launch::async, [this] { return workbooks_.Open(path_); });
    } catch (const std::system_error&) {
        // Read in take(), on the caller's thread.
    }
}

std::shared_ptr<Workbook> WorkbookOpening::take()
{
    if (!reading_.valid())
        return workbooks_.Open(path_);
    return reading_.get();
}

} // namespace spreadsheet
