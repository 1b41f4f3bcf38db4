#pragma once
// The one reader of what the services manager writes back to a query. The
// answer is a run of clusters, each a tag and what that tag carries, closed by
// the end tag; it is read once, whole, into what the callers ask about.
//
// No client-library type appears here: tags are the bytes the server writes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct TServiceAnswer {
    // The text of an output item: one line, or as much output as fitted.
    std::optional<std::string> output;
    // The running flag: 1 while the started action runs.
    std::optional<std::int32_t> running;
    // How many bytes the server takes next as the action's input (0: none now).
    std::optional<std::uint32_t> inputWanted;
    std::optional<std::string> serverVersion;
    // Marks behind an output item that more is to come: the time limit ran
    // out, nothing was ready yet, or the buffer held less than there was.
    bool timedOut = false;
    bool notReady = false;
    bool truncated = false;
    // The end tag was met: the answer is whole.
    bool ended = false;

    bool MoreToCome() const { return timedOut || notReady || truncated; }
};

// Reads `answer`, the response buffer of a query whose request items were
// `requested`. Raises client error 70 ("Unexpected Output buffer value") for
// a tag that is neither a requested item nor a mark, and for a cluster that
// runs past the buffer. Once every requested item has been read, a byte that
// is neither a mark nor the end tag closes the walk without an error: the
// buffer is reused from query to query, and what lies there is left over from
// an earlier answer (`ended` then stays false).
TServiceAnswer ReadServiceAnswer(std::string_view answer, std::string_view requested);
