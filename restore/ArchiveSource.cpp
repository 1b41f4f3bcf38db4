// OpenBackupStream: the backup file, through libarchive's decompressors and
// archive readers, recognised by content.
//
// Three layers, each pulling from the one below:
//  - FileInput reads the file as stored and counts what it hands on; its
//    reads wait in poll beside a stop descriptor, so a stalled pipe cannot
//    hold up Interrupt.
//  - GunzipInput, when the file starts as gzip does, inflates it with zlib:
//    libarchive's own gzip reader does not check the stream's CRC and
//    length, so a damaged .gz would come out as wrong bytes without an error.
//  - ArchivePass runs libarchive over that: the other decompressors, then a
//    tar or zip archive, or else the raw data (libarchive's raw format bids
//    lowest, so it only wins when no archive reader recognised the data).

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <new>
#include <span>
#include <vector>

#include "restore/BackupSource.h"
#include "restore/RestoreErrors.h"

namespace restore {

namespace {

constexpr std::size_t kBlockSize = std::size_t{128} << 10;

std::string SystemReason(int error) {
    return std::strerror(error);
}

class FileInput {
  public:
    explicit FileInput(std::string path) : path_(std::move(path)), buffer_(kBlockSize) {
        if (path_ == "-") {
            fd_ = STDIN_FILENO;
        } else {
            fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd_ < 0)
                throw EBackupNotOpened(path_, SystemReason(errno));
            ownsFd_ = true;
        }
        stop_ = ::eventfd(0, EFD_CLOEXEC);
        struct stat status {};
        if (stop_ < 0 || ::fstat(fd_, &status) != 0) {
            const int error = errno;
            Close();
            throw EBackupNotOpened(path_, SystemReason(error));
        }
        if (S_ISDIR(status.st_mode)) {
            Close();
            throw EBackupNotOpened(path_, SystemReason(EISDIR));
        }
        // Standard input redirected from a file may start part way into it.
        start_ = S_ISREG(status.st_mode) ? ::lseek(fd_, 0, SEEK_CUR) : -1;
        if (start_ >= 0)
            total_ = std::max<std::int64_t>(0, status.st_size - start_);
    }
    ~FileInput() { Close(); }
    FileInput(const FileInput&) = delete;
    FileInput& operator=(const FileInput&) = delete;

    const std::string& Path() const { return path_; }
    std::int64_t Consumed() const { return consumed_; }
    std::optional<std::int64_t> Total() const { return total_; }
    bool Rewindable() const { return total_.has_value(); }

    // What is buffered, first reading until at least `least` bytes are (or
    // the file has ended).
    std::span<const char> Peek(std::size_t least) {
        if (end_ - begin_ < least && !ended_) {
            std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
            while (end_ < least && !ended_) {
                const std::size_t n = ReadSome(buffer_.data() + end_, buffer_.size() - end_);
                ended_ = n == 0;
                end_ += n;
            }
        }
        return {buffer_.data() + begin_, end_ - begin_};
    }

    void Consume(std::size_t n) {
        begin_ += n;
        consumed_ += static_cast<std::int64_t>(n);
    }

    // Passes over `n` bytes; returns how many it passed (0: the caller reads).
    std::int64_t Skip(std::int64_t n) {
        if (!Rewindable())
            return 0;
        const auto buffered = static_cast<std::int64_t>(end_ - begin_);
        const std::int64_t left = start_ + *total_ - ::lseek(fd_, 0, SEEK_CUR);
        const std::int64_t onDisk = std::clamp<std::int64_t>(n - buffered, 0, left);
        if (onDisk > 0 && ::lseek(fd_, onDisk, SEEK_CUR) < 0)
            return 0;
        const std::int64_t fromBuffer = std::min(n, buffered);
        Consume(static_cast<std::size_t>(fromBuffer));
        consumed_ += onDisk;
        return fromBuffer + onDisk;
    }

    // Back to the start, for a second pass over a file.
    void Rewind() {
        if (::lseek(fd_, start_, SEEK_SET) < 0)
            throw EBackupUnreadable(path_, SystemReason(errno));
        begin_ = end_ = 0;
        ended_ = false;
        consumed_ = 0;
    }

    void Interrupt() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(stop_, &one, sizeof one);
    }

  private:
    std::size_t ReadSome(char* into, std::size_t max) {
        for (;;) {
            pollfd waits[2] = {{fd_, POLLIN, 0}, {stop_, POLLIN, 0}};
            if (::poll(waits, 2, -1) < 0 && errno != EINTR)
                throw EBackupUnreadable(path_, SystemReason(errno));
            if (waits[1].revents != 0)
                throw EBackupStopped();
            if (waits[0].revents == 0)
                continue;
            const ssize_t n = ::read(fd_, into, max);
            if (n >= 0)
                return static_cast<std::size_t>(n);
            if (errno != EINTR && errno != EAGAIN)
                throw EBackupUnreadable(path_, SystemReason(errno));
        }
    }

    void Close() {
        if (ownsFd_ && fd_ >= 0)
            ::close(fd_);
        if (stop_ >= 0)
            ::close(stop_);
        fd_ = stop_ = -1;
    }

    std::string path_;
    int fd_ = -1;
    bool ownsFd_ = false;
    int stop_ = -1;
    std::int64_t start_ = -1;
    std::optional<std::int64_t> total_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool ended_ = false;
    std::int64_t consumed_ = 0;
};

bool StartsAsGzip(std::span<const char> head) {
    return head.size() >= 2 && static_cast<unsigned char>(head[0]) == 0x1f &&
           static_cast<unsigned char>(head[1]) == 0x8b;
}

// One gzip stream, or several one after the other as `cat a.gz b.gz` makes
// them; anything after the last one is ignored, as gzip itself does.
class GunzipInput {
  public:
    explicit GunzipInput(FileInput& file) : file_(file), out_(kBlockSize) {
        // 16 + the largest window: gzip framing, with its CRC and length checked.
        if (::inflateInit2(&stream_, 16 + MAX_WBITS) != Z_OK)
            throw std::bad_alloc();
    }
    ~GunzipInput() { ::inflateEnd(&stream_); }
    GunzipInput(const GunzipInput&) = delete;
    GunzipInput& operator=(const GunzipInput&) = delete;

    // The next inflated bytes; empty at the end.
    std::span<const char> Next() {
        stream_.next_out = reinterpret_cast<Bytef*>(out_.data());
        stream_.avail_out = static_cast<uInt>(out_.size());
        while (stream_.avail_out == out_.size() && !ended_) {
            if (betweenMembers_) {
                if (!StartsAsGzip(file_.Peek(2))) {
                    ended_ = true;
                    break;
                }
                ::inflateReset(&stream_);
                betweenMembers_ = false;
            }
            const std::span<const char> in = file_.Peek(1);
            if (in.empty())
                throw EBackupUnreadable(file_.Path(), "the gzip data ends too early");
            stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
            stream_.avail_in = static_cast<uInt>(in.size());
            const int result = ::inflate(&stream_, Z_NO_FLUSH);
            file_.Consume(in.size() - stream_.avail_in);
            if (result == Z_STREAM_END)
                betweenMembers_ = true;
            else if (result != Z_OK)
                throw EBackupUnreadable(
                    file_.Path(),
                    std::string("gzip: ") + (stream_.msg ? stream_.msg : "damaged data"));
        }
        return {out_.data(), out_.size() - stream_.avail_out};
    }

  private:
    FileInput& file_;
    z_stream stream_{};
    std::vector<char> out_;
    bool betweenMembers_ = false;
    bool ended_ = false;
};

struct Member {
    std::string name;
    bool isFile = false;
};

// One reading of the file from its start through libarchive.
class ArchivePass {
  public:
    explicit ArchivePass(FileInput& file) : file_(file) {
        if (StartsAsGzip(file_.Peek(2))) {
            gunzip_.emplace(file_);
            pending_ = gunzip_->Next();
        } else {
            pending_ = file_.Peek(1);
        }
        if (pending_.empty())
            throw EBackupEmpty(file_.Path(), false);
        archive_ = archive_read_new();
        if (!archive_)
            throw std::bad_alloc();
        // gzip is GunzipInput's; the legacy .lzma header is too weak a sign
        // to try on backups, so it stays off.
        archive_read_support_filter_bzip2(archive_);
        archive_read_support_filter_xz(archive_);
        archive_read_support_filter_zstd(archive_);
        archive_read_support_filter_lz4(archive_);
        archive_read_support_format_tar(archive_);
        archive_read_support_format_zip_streamable(archive_);
        archive_read_support_format_raw(archive_);
        if (archive_read_open2(archive_, this, nullptr, &ArchivePass::ReadBlock,
                               gunzip_ ? nullptr : &ArchivePass::SkipBytes, nullptr) != ARCHIVE_OK)
            Fail();
    }
    ~ArchivePass() { archive_read_free(archive_); }
    ArchivePass(const ArchivePass&) = delete;
    ArchivePass& operator=(const ArchivePass&) = delete;

    // The next member that is not a folder; nullopt at the archive's end.
    // The raw data counts as the one member of an archive of its own.
    std::optional<Member> NextMember() {
        for (;;) {
            archive_entry* entry = nullptr;
            const int result = archive_read_next_header(archive_, &entry);
            if (result == ARCHIVE_EOF)
                return std::nullopt;
            if (result < ARCHIVE_WARN)
                Fail();
            const mode_t type = archive_entry_filetype(entry);
            if (type == AE_IFDIR)
                continue;
            const char* name = archive_entry_pathname_utf8(entry);
            if (!name)
                name = archive_entry_pathname(entry);
            return Member{name ? name : "", type == AE_IFREG};
        }
    }

    bool IsArchive() const { return archive_format(archive_) != ARCHIVE_FORMAT_RAW; }

    std::size_t Data(char* buffer, std::size_t max) {
        const la_ssize_t n = archive_read_data(archive_, buffer, max);
        if (n < 0)  // a zip member's bad CRC comes as a mere warning
            Fail();
        return static_cast<std::size_t>(n);
    }

  private:
    [[noreturn]] void Fail() {
        if (failure_)
            std::rethrow_exception(failure_);
        const char* reason = archive_error_string(archive_);
        throw EBackupUnreadable(file_.Path(), reason ? reason : "unknown error");
    }

    // libarchive is C: what the layers below raise waits in failure_ until
    // the libarchive call returns.
    static la_ssize_t ReadBlock(archive* a, void* self, const void** block) {
        auto* pass = static_cast<ArchivePass*>(self);
        try {
            std::span<const char> bytes = pass->pending_;
            pass->pending_ = {};
            if (bytes.empty())
                bytes = pass->gunzip_ ? pass->gunzip_->Next() : pass->file_.Peek(1);
            if (!pass->gunzip_)
                pass->file_.Consume(bytes.size());
            *block = bytes.data();
            return static_cast<la_ssize_t>(bytes.size());
        } catch (...) {
            pass->failure_ = std::current_exception();
            archive_set_error(a, EIO, "reading failed");
            return ARCHIVE_FATAL;
        }
    }

    static la_int64_t SkipBytes(archive* a, void* self, la_int64_t n) {
        (void)a;
        return static_cast<ArchivePass*>(self)->file_.Skip(n);
    }

    FileInput& file_;
    std::optional<GunzipInput> gunzip_;
    std::span<const char> pending_;
    archive* archive_ = nullptr;
    std::exception_ptr failure_;
};

class ArchiveSource final : public IBackupSource {
  public:
    explicit ArchiveSource(const std::string& path) : file_(path) {
        pass_ = std::make_unique<ArchivePass>(file_);
        std::optional<Member> first = pass_->NextMember();
        // A file can be read twice: once through to list the members, so
        // that an archive of several is refused before anything is touched.
        // A pipe cannot; its second member is refused when Read reaches it.
        if (first && pass_->IsArchive() && file_.Rewindable()) {
            std::vector<std::string> members{first->name};
            while (std::optional<Member> next = pass_->NextMember()) members.push_back(next->name);
            if (members.size() > 1)
                throw EBackupArchiveMembers(path, std::move(members));
            pass_.reset();
            file_.Rewind();
            pass_ = std::make_unique<ArchivePass>(file_);
            first = pass_->NextMember();
        }
        if (!first || !first->isFile)
            throw EBackupEmpty(path, true);
        member_ = first->name;
    }

    std::size_t Read(char* buffer, std::size_t max) override {
        if (ended_ || max == 0)
            return 0;
        if (const std::size_t n = pass_->Data(buffer, max); n > 0)
            return n;
        if (pass_->IsArchive())
            if (std::optional<Member> next = pass_->NextMember())
                throw EBackupArchiveMembers(file_.Path(), {member_, next->name});
        ended_ = true;
        return 0;
    }

    // At the end, what follows the data (an archive's index, padding) counts
    // as read too, so that a percentage reaches 100.
    std::int64_t Consumed() const override {
        const std::optional<std::int64_t> total = file_.Total();
        return ended_ && total ? std::max(*total, file_.Consumed()) : file_.Consumed();
    }
    std::optional<std::int64_t> Total() const override { return file_.Total(); }
    void Interrupt() override { file_.Interrupt(); }

  private:
    FileInput file_;
    std::unique_ptr<ArchivePass> pass_;
    std::string member_;
    bool ended_ = false;
};

}  // namespace

std::unique_ptr<IBackupSource> OpenBackupStream(const std::string& path) {
    return std::make_unique<ArchiveSource>(path);
}

}  // namespace restore
