#pragma once
// Telling a lost connection from the server's own account of a failure: only
// the server's account says that the restore has ended; after a lost
// connection it may still run.

#include <exception>

namespace restore {

// True for a failed call that broke the connection to the server (or found
// the service gone), so that what the server does now is unknown.
bool IsLostConnection(const std::exception& error);

// True when the server itself reported the failure: an error from the
// server that is no lost connection.
bool IsServerReport(const std::exception& error);

}  // namespace restore
