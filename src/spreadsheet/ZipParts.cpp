#include "spreadsheet/ZipParts.h"

#include "spreadsheet/Failure.h"

#include <algorithm>
#include <cstdint>
#include <isa-l/igzip_lib.h>

namespace spreadsheet {

namespace {

constexpr qint64 kChunkBytes = 256 * 1024;
constexpr std::size_t kPackedChunkBytes = 64 * 1024;
constexpr std::size_t kAhead = 8; // chunks unpacked ahead of the reader

QString zipReason(int code)
{
    switch (code) {
    case ZIP_ER_NOZIP:
        return QStringLiteral("no es un archivo ZIP");
    case ZIP_ER_INCONS:
        return QStringLiteral("el índice del archivo ZIP es incoherente");
    case ZIP_ER_CRC:
        return QStringLiteral("los datos no coinciden con su suma de control (CRC)");
    case ZIP_ER_COMPNOTSUPP:
        return QStringLiteral("usa un método de compresión no admitido");
    case ZIP_ER_MEMORY:
        return QStringLiteral("no hay memoria suficiente");
    case ZIP_ER_EOF:
        return QStringLiteral("el archivo está cortado");
    default:
        return QStringLiteral("los datos comprimidos están dañados (código %1)").arg(code);
    }
}

} // namespace

QString damagedPrefix(const QString& path)
{
    return QStringLiteral("El libro \"%1\" está dañado o no es un libro .xlsx válido: ").arg(path);
}

[[noreturn]] void damaged(const QString& path, const QString& detail)
{
    throw Failure(damagedPrefix(path) + detail + u'.');
}

[[noreturn]] void encrypted(const QString& path)
{
    throw Failure(QStringLiteral("El libro \"%1\" está protegido con contraseña o no es un libro "
                                 ".xlsx (es un archivo cifrado o de Office 97-2003); guárdelo como "
                                 ".xlsx sin contraseña.")
                      .arg(path));
}

ZipArchive::ZipArchive(const QByteArray& bytes, QString path, const XlsxLimits& limits)
    : bytes_(bytes), path_(std::move(path)), limits_(limits), zip_(openAgain())
{}

ZipArchive::~ZipArchive()
{
    zip_discard(zip_);
}

zip_t* ZipArchive::openAgain() const
{
    zip_error_t error;
    zip_error_init(&error);
    zip_t* zip = nullptr;
    zip_source_t* source = zip_source_buffer_create(
        bytes_.constData(), static_cast<zip_uint64_t>(bytes_.size()), 0, &error);
    if (source)
        zip = zip_open_from_source(source, ZIP_RDONLY, &error);
    const int code = zip_error_code_zip(&error);
    zip_error_fini(&error);
    if (!zip) {
        if (source)
            zip_source_free(source);
        damaged(path_, zipReason(code));
    }
    return zip;
}

std::optional<zip_uint64_t> ZipArchive::locate(const QString& name, zip_t* handle) const
{
    const zip_int64_t index =
        zip_name_locate(handle ? handle : zip_, name.toUtf8().constData(), ZIP_FL_NOCASE);
    if (index < 0)
        return std::nullopt;
    return static_cast<zip_uint64_t>(index);
}

void ZipArchive::count(qint64 bytes, const QString& part)
{
    if (total_.fetch_add(bytes) + bytes > limits_.totalBytes)
        tooLarge(part);
}

void ZipArchive::tooLarge(const QString& part) const
{
    throw Failure(QStringLiteral("El libro \"%1\" ocupa demasiado al descomprimirlo (la parte "
                                 "%2 pasa del límite de %3 MiB); no se lee por seguridad.")
                      .arg(path_, part)
                      .arg(limits_.totalBytes >> 20));
}

ZipPart::ZipPart(ZipArchive& zip, const QString& name, qint64 limit, zip_t* handle)
    : zip_(zip), name_(name), limit_(limit)
{
    if (!handle)
        handle = zip.handle();
    const std::optional<zip_uint64_t> index = zip.locate(name, handle);
    if (!index)
        damaged(zip.path(), QStringLiteral("falta la parte %1").arg(name));
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(handle, *index, 0, &stat) != 0)
        damaged(zip.path(), QStringLiteral("no se puede leer la parte %1").arg(name));
    if (stat.valid & ZIP_STAT_COMP_SIZE)
        packed_ = static_cast<qint64>(std::min<zip_uint64_t>(stat.comp_size, INT64_MAX));
    if ((stat.valid & ZIP_STAT_SIZE) && stat.size > static_cast<zip_uint64_t>(limit))
        zip.tooLarge(name);
    if (stat.valid & ZIP_STAT_SIZE)
        declared_ = static_cast<qint64>(stat.size);
    // A deflated part is unpacked here, by a decoder three times as fast as the one the
    // archive library uses; anything else by the library.
    constexpr zip_uint64_t kKnown = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC |
                                    ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD;
    const bool deflated = (stat.valid & kKnown) == kKnown && stat.comp_method == ZIP_CM_DEFLATE &&
                          stat.encryption_method == ZIP_EM_NONE;
    if (deflated) {
        inflater_ = std::make_unique<inflate_state>();
        isal_inflate_init(inflater_.get());
        inflater_->crc_flag = ISAL_GZIP_NO_HDR; // the CRC-32 that zip archives state
        crc_ = stat.crc;
        packedInput_.resize(kPackedChunkBytes);
    }
    file_ = zip_fopen_index(handle, *index, deflated ? ZIP_FL_COMPRESSED : 0);
    if (!file_) {
        const int code = zip_error_code_zip(zip_get_error(handle));
        if (code == ZIP_ER_NOPASSWD || code == ZIP_ER_WRONGPASSWD || code == ZIP_ER_ENCRNOTSUPP)
            encrypted(zip.path());
        damaged(zip.path(), QStringLiteral("la parte %1 %2").arg(name, zipReason(code)));
    }
}

ZipPart::~ZipPart()
{
    zip_fclose(file_);
}

QByteArray ZipPart::read()
{
    QByteArray chunk(kChunkBytes, Qt::Uninitialized);
    const zip_int64_t got =
        inflater_ ? inflate(chunk)
                  : zip_fread(file_, chunk.data(), static_cast<zip_uint64_t>(kChunkBytes));
    if (got < 0)
        failed(zip_error_code_zip(zip_file_get_error(file_)));
    chunk.truncate(static_cast<qsizetype>(got));
    unpacked_ += got;
    zip_.count(got, name_);
    if (unpacked_ > limit_)
        zip_.tooLarge(name_);
    if (unpacked_ > zip_.limits().ratioAfter &&
        unpacked_ / std::max<qint64>(packed_, 1) > zip_.limits().maxRatio)
        zip_.tooLarge(name_);
    return chunk;
}

void ZipPart::failed(int code) const
{
    damaged(zip_.path(), QStringLiteral("la parte %1: %2").arg(name_, zipReason(code)));
}

// Fills `chunk` from the part's packed bytes; what it unpacked, 0 at the end, which comes only
// once the part unpacked whole to the size and sum of control the archive states.
qint64 ZipPart::inflate(QByteArray& chunk)
{
    inflate_state& state = *inflater_;
    state.next_out = reinterpret_cast<std::uint8_t*>(chunk.data());
    state.avail_out = static_cast<std::uint32_t>(chunk.size());
    while (state.avail_out > 0 && state.block_state != ISAL_BLOCK_FINISH) {
        if (state.avail_in == 0) {
            const zip_int64_t got =
                zip_fread(file_, packedInput_.data(), zip_uint64_t(packedInput_.size()));
            if (got < 0)
                return got;
            if (got == 0)
                failed(ZIP_ER_EOF);
            state.next_in = packedInput_.data();
            state.avail_in = static_cast<std::uint32_t>(got);
        }
        const std::uint32_t before = state.avail_in + state.avail_out;
        if (isal_inflate(&state) != ISAL_DECOMP_OK ||
            (state.avail_in + state.avail_out == before && state.block_state != ISAL_BLOCK_FINISH))
            failed(ZIP_ER_COMPRESSED_DATA);
    }
    const qint64 got = chunk.size() - qint64(state.avail_out);
    inflated_ += got;
    if (state.block_state == ISAL_BLOCK_FINISH && got == 0 &&
        (inflated_ != declared_ || state.crc != crc_))
        failed(inflated_ != declared_ ? ZIP_ER_INCONS : ZIP_ER_CRC);
    return got;
}

XmlPart::XmlPart(ZipArchive& zip, const QString& name, qint64 limit, zip_t* handle,
                 const std::atomic<bool>* stop)
    : XmlScanner(
          [this] {
              if (stop_ && stop_->load())
                  throw PartAbandoned{};
              return part_->read();
          },
          name, damagedPrefix(zip.path())),
      part_(std::make_unique<ZipPart>(zip, name, limit, handle)), stop_(stop)
{}

AheadPart::AheadPart(ZipArchive& zip, const QString& name, qint64 limit) : handle_(zip.openAgain())
{
    try {
        part_ = std::make_unique<ZipPart>(zip, name, limit, handle_);
        declared_ = part_->declaredBytes();
        thread_ = std::thread([this] { unpack(); });
    } catch (...) {
        part_.reset();
        zip_discard(handle_);
        throw;
    }
}

AheadPart::~AheadPart()
{
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
    part_.reset();
    zip_discard(handle_);
}

QByteArray AheadPart::read()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !chunks_.empty() || ended_; });
    if (chunks_.empty()) {
        if (failure_)
            std::rethrow_exception(failure_);
        return {};
    }
    QByteArray chunk = std::move(chunks_.front());
    chunks_.pop_front();
    changed_.notify_all();
    return chunk;
}

void AheadPart::unpack()
{
    try {
        for (;;) {
            QByteArray chunk = part_->read();
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return chunks_.size() < kAhead || stop_; });
            if (stop_)
                return;
            if (chunk.isEmpty()) {
                ended_ = true;
                changed_.notify_all();
                return;
            }
            chunks_.push_back(std::move(chunk));
            changed_.notify_all();
        }
    } catch (...) {
        const std::lock_guard lock(mutex_);
        failure_ = std::current_exception();
        ended_ = true;
    }
    changed_.notify_all();
}

SheetPart::SheetPart(std::unique_ptr<AheadPart> part, const QString& name, const QString& path)
    : XmlScanner([this] { return part_->read(); }, name, damagedPrefix(path)),
      part_(std::move(part))
{}

} // namespace spreadsheet
