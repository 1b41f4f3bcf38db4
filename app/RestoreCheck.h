#pragma once
// A look at a database the server has just restored. A restore brings the
// new database online as its very last step; the server has been seen to
// end a restore from a backup file that was cut short without reporting an
// error, leaving a database still in maintenance mode and missing rows.

#include <string>

#include "services/IB_Services.h"

class TRestoredDatabaseCheck : public TpFIBControlAndQueryService {
  public:
    explicit TRestoredDatabaseCheck(TComponent* owner = nullptr);

    // Connects the way `service` does (server, protocol, library, parameters).
    void ConnectLike(TpFIBCustomService& service);
    void SetDatabaseName(const std::string& path) { databaseName_ = path; }

    // The database header's attribute text as the server describes it
    // ("force write", "single-user maintenance", ...). Attaches, reads the
    // header statistics and detaches.
    std::string HeaderAttributes();
    // True unless the attributes name a shutdown or maintenance mode.
    static bool IsOnline(const std::string& attributes);

  protected:
    void BuildStartParams() override;

  private:
    std::string databaseName_;
};
