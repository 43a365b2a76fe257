#include "krvt5/DeArchivos.h"

#include <QFileInfo>

namespace krvt5 {

bool DeArchivos::HayArchivo(const QString& path)
{
    // isFile() follows links, so a dangling link is no file; "" names nothing.
    return !path.isEmpty() && QFileInfo(path).isFile();
}

} // namespace krvt5
