#include "plaintext/SystemError.h"

#include <cerrno>
#include <cstring>

namespace plaintext {

QString SystemErrorText(int error)
{
    switch (error) {
    case ENOENT:
        return QStringLiteral("no existe el archivo o la carpeta");
    case EACCES:
        return QStringLiteral("permiso denegado");
    case EPERM:
        return QStringLiteral("operación no permitida");
    case EISDIR:
        return QStringLiteral("es una carpeta");
    case ENOTDIR:
        return QStringLiteral("una parte de la ruta no es una carpeta");
    case EROFS:
        return QStringLiteral("el sistema de archivos es de sólo lectura");
    case ENOSPC:
        return QStringLiteral("no queda espacio en el disco");
    case EDQUOT:
        return QStringLiteral("se agotó la cuota de disco");
    case EEXIST:
        return QStringLiteral("ya existe");
    case ENAMETOOLONG:
        return QStringLiteral("el nombre es demasiado largo");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("hay demasiados archivos abiertos");
    case EIO:
        return QStringLiteral("error de lectura o escritura en el disco");
    case ELOOP:
        return QStringLiteral("la ruta tiene demasiados enlaces simbólicos");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("el archivo está en uso");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

} // namespace plaintext
