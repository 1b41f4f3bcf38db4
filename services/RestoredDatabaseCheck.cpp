#include "services/RestoredDatabaseCheck.h"

#include <ibase.h>

#include "core/Ascii.h"

TRestoredDatabaseCheck::TRestoredDatabaseCheck(TComponent* owner)
    : TpFIBControlAndQueryService(owner) {
    SetName("RestoredDatabaseCheck");
    SetLoginPrompt(false);
}

void TRestoredDatabaseCheck::ConnectLike(TpFIBCustomService& service) {
    SetProtocol(service.Protocol());
    SetServerName(service.ServerName());
    SetLibraryName(service.LibraryName());
    SetParams(service.Params());
}

void TRestoredDatabaseCheck::BuildStartParams() {
    SelectAction(isc_action_svc_db_stats);
    StartAction(isc_action_svc_db_stats);
    AddStartParam(databaseName_, isc_spb_dbname);
    AddStartParam(isc_spb_sts_hdr_pages, isc_spb_options);
}

std::optional<std::string> TRestoredDatabaseCheck::HeaderAttributes() {
    Attach();
    std::optional<std::string> attributes;
    try {
        ServiceStart();
        // The whole output is read, so the server is done with the file
        // before anyone touches it.
        while (!EndOfOutput()) {
            const std::string text = core::Trim(NextOutputLine());
            if (!attributes && text.rfind("Attributes", 0) == 0)
                attributes = core::Trim(text.substr(10));
        }
    } catch (...) {
        try {
            if (Active())
                Detach();
        } catch (...) {
            // The first error is the one the operator needs to read.
        }
        throw;
    }
    if (Active())
        Detach();
    return attributes;
}

bool TRestoredDatabaseCheck::IsOnline(const std::optional<std::string>& attributes) {
    // Another server version or wording would leave no attribute line; that
    // is no confirmation, or a kept original would be deleted on a guess.
    return attributes && attributes->find("maintenance") == std::string::npos &&
           attributes->find("shutdown") == std::string::npos;
}
