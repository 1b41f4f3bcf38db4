#include "app/RestoreCheck.h"

#include <cctype>

namespace {

// Services API codes of the database statistics action.
constexpr std::uint8_t kActionDbStats = 11;
constexpr std::uint8_t kSpbDbName = 106;
constexpr std::uint8_t kSpbOptions = 108;
constexpr std::int32_t kStatsHeaderPages = 0x04;

std::string Trimmed(const std::string& text) {
    std::size_t first = 0, last = text.size();
    while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
    while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
    return text.substr(first, last - first);
}

}  // namespace

TRestoredDatabaseCheck::TRestoredDatabaseCheck(TComponent* owner)
    : TpFIBControlAndQueryService(owner) {
    SetLoginPrompt(false);
}

void TRestoredDatabaseCheck::ConnectLike(TpFIBCustomService& service) {
    SetProtocol(service.Protocol());
    SetServerName(service.ServerName());
    SetLibraryName(service.LibraryName());
    SetParams(service.Params());
}

void TRestoredDatabaseCheck::BuildStartParams() {
    SelectAction(kActionDbStats);
    startBlock_.assign(1, static_cast<char>(kActionDbStats));
    AddStartParam(databaseName_, kSpbDbName);
    AddStartParam(kStatsHeaderPages, kSpbOptions);
}

std::string TRestoredDatabaseCheck::HeaderAttributes() {
    Attach();
    std::string attributes;
    bool found = false;
    try {
        ServiceStart();
        // The whole output is read, so the server is done with the file
        // before anyone touches it.
        while (!EndOfOutput()) {
            const std::string line = NextOutputLine();
            const std::string text = Trimmed(line);
            if (!found && text.rfind("Attributes", 0) == 0) {
                attributes = Trimmed(text.substr(10));
                found = true;
            }
        }
    } catch (...) {
        if (Active())
            Detach();
        throw;
    }
    if (Active())
        Detach();
    return attributes;
}

bool TRestoredDatabaseCheck::IsOnline(const std::string& attributes) {
    return attributes.find("maintenance") == std::string::npos &&
           attributes.find("shutdown") == std::string::npos;
}
