#pragma once
// A look at a database the server has just restored. A restore brings the
// new database online as its very last step; the server has been seen to
// end a restore from a backup file that was cut short without reporting an
// error, leaving a database still in maintenance mode and missing rows.

#include <optional>
#include <string>

#include "services/IB_Services.h"

class TRestoredDatabaseCheck : public TpFIBControlAndQueryService {
  public:
    // Named, so that its operations can be told apart in a trace.
    explicit TRestoredDatabaseCheck(TComponent* owner = nullptr);

    // Connects the way `service` does (server, protocol, library, parameters).
    void ConnectLike(TpFIBCustomService& service);
    void SetDatabaseName(const std::string& path) { databaseName_ = path; }

    // The database header's attribute text as the server describes it
    // ("force write", "single-user maintenance", ...; empty for a header
    // without flags), or nothing when the answer holds no attribute line.
    // Attaches, reads the header statistics and detaches.
    std::optional<std::string> HeaderAttributes();
    // True only for attributes that were read and name no shutdown or
    // maintenance mode: an answer without them confirms nothing.
    static bool IsOnline(const std::optional<std::string>& attributes);

  protected:
    void BuildStartParams() override;

  private:
    std::string databaseName_;
};
