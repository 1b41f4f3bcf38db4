#pragma once
// The backup as the client reads it, for a restore that feeds the server
// itself: a stream of the backup's own bytes, whatever the file holds them
// in, with how far through the file as stored the reading has come.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace restore {

class IBackupSource {
  public:
    virtual ~IBackupSource() = default;
    // Up to `max` bytes of the backup, decompressed; 0 only at its end (and
    // on every call after it). Raises EBackupUnreadable on a read or
    // decompression error, EBackupArchiveMembers when a streamed archive
    // turns out to hold a second file, EBackupStopped after Interrupt.
    virtual std::size_t Read(char* buffer, std::size_t max) = 0;
    // Bytes of the file as stored (compressed or not) behind the data Read
    // has handed out so far. Never goes down; equals Total once Read has
    // returned 0.
    virtual std::int64_t Consumed() const = 0;
    // The file's size on disk; std::nullopt for a pipe or anything whose
    // size is unknown.
    virtual std::optional<std::int64_t> Total() const = 0;
    // Safe from any thread: a Read waiting for input, and every Read after
    // it, raises EBackupStopped promptly. A source whose Read never waits
    // need not override it.
    virtual void Interrupt() {}
};

// Opens the backup at `path` ("-": standard input) and recognises it by its
// content, never by its name: a plain backup; a gzip, bzip2, xz, zstd or
// lz4 stream of one; or a zip or tar archive (compressed or not) that holds
// exactly one file. Raises EBackupNotOpened, EBackupEmpty, EBackupUnreadable
// and, for an archive of several files that can be read twice (a file, not
// a pipe), EBackupArchiveMembers, all before any data is handed out.
std::unique_ptr<IBackupSource> OpenBackupStream(const std::string& path);

// Reads `source` ahead of the caller in a thread of its own, through a
// buffer of `capacity` bytes that is all the memory it takes. Read hands
// out what is buffered without waiting for more; an error raised in the
// thread arrives after the data read before it. Consumed follows the data
// handed out, not the reading ahead. Read is for one thread; destroying the
// object stops the reading promptly, even when the source waits on a pipe.
std::unique_ptr<IBackupSource> ReadAhead(std::unique_ptr<IBackupSource> source,
                                         std::size_t capacity = std::size_t{4} << 20);

}  // namespace restore
