#pragma once

#include "spreadsheet/XlsxReader.h"
#include "spreadsheet/XmlScanner.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>
#include <zip.h>

struct inflate_state;

// The parts of an .xlsx package as the workbook reader takes them: unpacked a chunk at a time,
// within the limits that keep a zip bomb out of memory, and checked whole against the size and
// sum of control the archive states.
namespace spreadsheet {

// The start of every failure of a damaged workbook: it names the file.
QString damagedPrefix(const QString& path);
[[noreturn]] void damaged(const QString& path, const QString& detail);
[[noreturn]] void encrypted(const QString& path);

// The package held in memory.
class ZipArchive {
public:
    ZipArchive(const QByteArray& bytes, QString path, const XlsxLimits& limits);
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    // A handle of its own on the same archive, for another thread: a zip_t serves one thread
    // at a time. Released with zip_discard.
    zip_t* openAgain() const;

    // Part names in a package are case-insensitive. `handle`: another thread's, of openAgain().
    std::optional<zip_uint64_t> locate(const QString& name, zip_t* handle = nullptr) const;
    bool contains(const QString& name) const { return locate(name).has_value(); }

    const QString& path() const { return path_; }
    const XlsxLimits& limits() const { return limits_; }
    zip_t* handle() const { return zip_; }

    // Counts unpacked bytes against the bound on all parts.
    void count(qint64 bytes, const QString& part);
    [[noreturn]] void tooLarge(const QString& part) const;

private:
    QByteArray bytes_;
    QString path_;
    XlsxLimits limits_;
    zip_t* zip_ = nullptr;
    std::atomic<qint64> total_ = 0; // parts may be unpacked on two threads
};

// One part, unpacked a chunk at a time within the limits.
class ZipPart {
public:
    // `handle` is the archive's own, or one of openAgain() for a part read on another thread.
    ZipPart(ZipArchive& zip, const QString& name, qint64 limit, zip_t* handle = nullptr);
    ~ZipPart();
    ZipPart(const ZipPart&) = delete;
    ZipPart& operator=(const ZipPart&) = delete;

    // The size the archive states for the part, within its limit; 0 when it states none.
    qint64 declaredBytes() const { return declared_; }

    // The next chunk; empty at the end of the part.
    QByteArray read();

private:
    [[noreturn]] void failed(int code) const;
    qint64 inflate(QByteArray& chunk);

    ZipArchive& zip_;
    QString name_;
    qint64 limit_;
    zip_file_t* file_ = nullptr;
    qint64 packed_ = 0;
    qint64 declared_ = 0;
    qint64 unpacked_ = 0;
    std::unique_ptr<inflate_state> inflater_; // for a deflated part
    std::vector<std::uint8_t> packedInput_;
    std::uint32_t crc_ = 0;
    qint64 inflated_ = 0;
};

// Ends the reading of a part that is no longer wanted.
struct PartAbandoned {};

// A part's XML, read as it is unpacked. On another thread than the archive's own: a `handle`
// of its own, and a `stop` that abandons the part.
class XmlPart : public XmlScanner {
public:
    XmlPart(ZipArchive& zip, const QString& name, qint64 limit, zip_t* handle = nullptr,
            const std::atomic<bool>* stop = nullptr);

private:
    std::unique_ptr<ZipPart> part_;
    const std::atomic<bool>* stop_;
};

// A part unpacked on a thread of its own, a few chunks ahead of its reader: unpacking and
// scanning the worksheet then share the two cores instead of taking turns. A failure while
// unpacking reaches the reader after the chunks before it.
class AheadPart {
public:
    AheadPart(ZipArchive& zip, const QString& name, qint64 limit);
    ~AheadPart();
    AheadPart(const AheadPart&) = delete;
    AheadPart& operator=(const AheadPart&) = delete;

    qint64 declaredBytes() const { return declared_; }

    // The next chunk; empty at the end of the part.
    QByteArray read();

private:
    void unpack();

    zip_t* handle_;
    std::unique_ptr<ZipPart> part_;
    qint64 declared_ = 0; // read before the thread starts
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<QByteArray> chunks_;
    bool ended_ = false;
    bool stop_ = false;
    std::exception_ptr failure_;
    std::thread thread_;
};

// The worksheet's XML, unpacked ahead.
class SheetPart : public XmlScanner {
public:
    SheetPart(std::unique_ptr<AheadPart> part, const QString& name, const QString& path);
    qint64 declaredBytes() const { return part_->declaredBytes(); }

private:
    std::unique_ptr<AheadPart> part_;
};

} // namespace spreadsheet
